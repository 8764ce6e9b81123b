// qmis-test-child.exe <exit code> [milliseconds to sleep first]
//
// With QMIS_TEST_CHILD_TRACE set, it first appends its command line to the
// file that names, so that a test can tell whether it was started at all.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (const char* trace = std::getenv("QMIS_TEST_CHILD_TRACE")) {
    if (FILE* out = std::fopen(trace, "a")) {
      std::fprintf(out, "%s\n", GetCommandLineA());
      std::fclose(out);
    }
  }
  if (argc > 2) Sleep(std::strtoul(argv[2], nullptr, 10));
  return argc > 1 ? static_cast<int>(std::strtoul(argv[1], nullptr, 0)) : 0;
}
