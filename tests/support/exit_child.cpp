// qmis-test-child.exe <exit code> [milliseconds to sleep first]
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc > 2) Sleep(std::strtoul(argv[2], nullptr, 10));
  return argc > 1 ? static_cast<int>(std::strtoul(argv[1], nullptr, 0)) : 0;
}
