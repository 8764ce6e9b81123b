// qmis-test-child.exe <exit code> [milliseconds to sleep first]
//
// With QMIS_TEST_CHILD_TRACE set, it first appends a line to the file that
// names: how it was started ("flags=<STARTUPINFO flags> show=<show state>")
// and its command line, so that a test can tell whether and how it ran.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (const char* trace = std::getenv("QMIS_TEST_CHILD_TRACE")) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    if (FILE* out = std::fopen(trace, "a")) {
      std::fprintf(out, "flags=%lu show=%u %s\n", startup.dwFlags, startup.wShowWindow,
                   GetCommandLineA());
      std::fclose(out);
    }
  }
  if (argc > 2) Sleep(std::strtoul(argv[2], nullptr, 10));
  return argc > 1 ? static_cast<int>(std::strtoul(argv[1], nullptr, 0)) : 0;
}
