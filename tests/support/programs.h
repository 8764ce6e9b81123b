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

// Runs `commandLine` without output and waits for it; its exit code, or
// 0xFFFFFFFF when it cannot be started. For programs whose output does not
// matter: a helper they start (Wine's desktop process, say) cannot then
// keep an output pipe, and the wait, open.
DWORD RunWithoutOutput(const std::wstring& commandLine);

// `reg query <arguments>` through the system's own reg.exe: an independent
// reader of the registry. Exit code 0 when found.
ProgramRun RegQuery(const std::string& arguments);

}  // namespace qmis_test
