// Exports of the process and file utilities, in the ANSI code page and in
// UTF-16. Null pointers are refused with each export's failure result.
#include "qmis.h"

#include <windows.h>

#include "qmis/process/directory_rename.h"
#include "qmis/process/directory_size.h"
#include "qmis/process/silent_run.h"

extern "C" {

DWORD WINAPI QMSetup_SilentRunExternalWait(char* commandLine, char* errorText) {
  if (commandLine == nullptr || errorText == nullptr) return qmis::kRunFailed;
  return qmis::SilentRunExternalWaitAnsi(commandLine, errorText);
}

DWORD WINAPI QMSetup_SilentRunExternalWaitW(const wchar_t* commandLine, wchar_t* errorText) {
  if (commandLine == nullptr || errorText == nullptr) return qmis::kRunFailed;
  return qmis::SilentRunExternalWaitWide(commandLine, errorText);
}

DWORD WINAPI QMSetup_GetCopyFileSize(const char* directory) {
  if (directory == nullptr) return 0;
  return qmis::GetCopyFileSizeAnsi(directory);
}

DWORD WINAPI QMSetup_GetCopyFileSizeW(const wchar_t* directory) {
  if (directory == nullptr) return 0;
  return qmis::GetCopyFileSize(directory);
}

int WINAPI QmRenameDirectory(const char* existing, const char* renamed) {
  if (existing != nullptr && renamed != nullptr) qmis::RenameDirectoryAnsi(existing, renamed);
  return 0;
}

int WINAPI QmRenameDirectoryW(const wchar_t* existing, const wchar_t* renamed) {
  if (existing != nullptr && renamed != nullptr) qmis::RenameDirectory(existing, renamed);
  return 0;
}

}  // extern "C"
