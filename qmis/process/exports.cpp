// Exports of the process and file utilities, in the ANSI code page and in
// UTF-16. Null pointers are refused with each export's failure result; the
// thread's last error tells why a call failed.
#include "qmis.h"

#include <windows.h>

#include "qmis/call_report.h"
#include "qmis/process/directory_rename.h"
#include "qmis/process/directory_size.h"
#include "qmis/process/silent_run.h"

using qmis::Arg;
using qmis::CallReport;

extern "C" {

// The result is the program's exit code whatever it is: the call did its
// work when the program ran and its code was read.
DWORD WINAPI QMSetup_SilentRunExternalWait(char* commandLine, char* errorText) {
  CallReport report("QMSetup_SilentRunExternalWait", {Arg(commandLine)});
  if (commandLine == nullptr || errorText == nullptr) return report.Refuse(qmis::kRunFailed);
  const DWORD result = qmis::SilentRunExternalWaitAnsi(commandLine, errorText);
  return report.Return(result, !report.failed());
}

DWORD WINAPI QMSetup_SilentRunExternalWaitW(const wchar_t* commandLine, wchar_t* errorText) {
  CallReport report("QMSetup_SilentRunExternalWaitW", {Arg(commandLine)});
  if (commandLine == nullptr || errorText == nullptr) return report.Refuse(qmis::kRunFailed);
  const DWORD result = qmis::SilentRunExternalWaitWide(commandLine, errorText);
  return report.Return(result, !report.failed());
}

DWORD WINAPI QMSetup_GetCopyFileSize(const char* directory) {
  CallReport report("QMSetup_GetCopyFileSize", {Arg(directory)});
  if (directory == nullptr) return report.Refuse(0u);
  const DWORD total = qmis::GetCopyFileSizeAnsi(directory);
  return report.Return(total, !report.failed());
}

DWORD WINAPI QMSetup_GetCopyFileSizeW(const wchar_t* directory) {
  CallReport report("QMSetup_GetCopyFileSizeW", {Arg(directory)});
  if (directory == nullptr) return report.Refuse(0u);
  const DWORD total = qmis::GetCopyFileSize(directory);
  return report.Return(total, !report.failed());
}

// Always 0: the last error tells whether the move took place.
int WINAPI QmRenameDirectory(const char* existing, const char* renamed) {
  CallReport report("QmRenameDirectory", {Arg(existing), Arg(renamed)});
  if (existing == nullptr || renamed == nullptr) return report.Refuse(0);
  qmis::RenameDirectoryAnsi(existing, renamed);
  return report.Return(0, !report.failed());
}

int WINAPI QmRenameDirectoryW(const wchar_t* existing, const wchar_t* renamed) {
  CallReport report("QmRenameDirectoryW", {Arg(existing), Arg(renamed)});
  if (existing == nullptr || renamed == nullptr) return report.Refuse(0);
  qmis::RenameDirectory(existing, renamed);
  return report.Return(0, !report.failed());
}

}  // extern "C"
