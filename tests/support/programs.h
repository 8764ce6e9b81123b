// Starting programs from a test, with exact command lines.
#pragma once

#include <windows.h>

#include <string>

namespace qmis_test {

struct ProgramRun {
  DWORD exitCode = 0;
  std::string output;  // standard output and error
};

// Runs `commandLine` with CreateProcessA and waits for it.
ProgramRun RunProgram(const std::string& commandLine);

// `reg query <arguments>` through the system's own reg.exe: an independent
// reader of the registry. Exit code 0 when found.
ProgramRun RegQuery(const std::string& arguments);

}  // namespace qmis_test
