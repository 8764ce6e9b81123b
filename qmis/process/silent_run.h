// Running a program with the wait cursor shown, blocking until it ends.
#pragma once

#include <windows.h>

namespace qmis {

inline constexpr DWORD kRunFailed = 0x80004005;  // E_FAIL
inline constexpr DWORD kErrorTextSize = MAX_PATH;

// Starts `commandLine` (writable: the system may change it while it starts
// the program), waits for the process to end and returns its exit code, or
// E_FAIL when it cannot be started or its code cannot be read. For an exit
// code other than 0 and 3010 the system's message text for it goes into
// `errorText` (at most 260 units with the zero, cut at a whole character).
[[nodiscard]] DWORD SilentRunExternalWait(wchar_t* commandLine, wchar_t* errorText);

// The same for a caller's command line, which is left as it is: in UTF-16,
// or in the ANSI code page with the text handed back in it (260 bytes).
[[nodiscard]] DWORD SilentRunExternalWaitWide(const wchar_t* commandLine, wchar_t* errorText);
[[nodiscard]] DWORD SilentRunExternalWaitAnsi(const char* commandLine, char* errorText);

}  // namespace qmis
