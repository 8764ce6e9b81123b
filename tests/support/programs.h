// Starting programs from a test, with exact command lines.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "qmis/handles.h"

namespace qmis_test {

struct ProgramRun {
  DWORD exitCode = 0;
  std::string output;  // standard output and error
};

// Runs `commandLine` (in the ANSI code page) and waits for it.
ProgramRun RunProgram(const std::string& commandLine);
// The same for a command line in UTF-16, whatever folders it names.
ProgramRun RunProgram(const std::wstring& commandLine);

// Starts `commandLine` without waiting and without output, the program
// named by `application` when one is given (as Wine needs for a Unix
// program); the process's owner, none when it cannot be started. Wine
// gives no process handle for a Unix program it started.
std::optional<qmis::UniqueHandle> StartProgram(std::string commandLine,
                                               const char* application = nullptr);

// `reg query <arguments>` through the system's own reg.exe: an independent
// reader of the registry. Exit code 0 when found.
ProgramRun RegQuery(const std::string& arguments);

}  // namespace qmis_test
