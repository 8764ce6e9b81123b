// Exports of the process and file utilities. Null pointers are refused with
// each export's failure result.
#include "qmis.h"

#include <windows.h>

#include "qmis/process/directory_rename.h"
#include "qmis/process/directory_size.h"
#include "qmis/process/silent_run.h"

extern "C" {

DWORD WINAPI QMSetup_SilentRunExternalWait(char* commandLine, char* errorText) {
  if (commandLine == nullptr || errorText == nullptr) return qmis::kRunFailed;
  return qmis::SilentRunExternalWait(commandLine, errorText);
}

DWORD WINAPI QMSetup_GetCopyFileSize(const char* directory) {
  if (directory == nullptr) return 0;
  return qmis::GetCopyFileSize(directory);
}

int WINAPI QmRenameDirectory(const char* existing, const char* renamed) {
  if (existing != nullptr && renamed != nullptr) qmis::RenameDirectory(existing, renamed);
  return 0;
}

}  // extern "C"
