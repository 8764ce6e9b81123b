#include "qmis/process/directory_rename.h"

#include <windows.h>

#include "qmis/call_report.h"
#include "qmis/wide_text.h"

namespace qmis {

void RenameDirectory(const wchar_t* existing, const wchar_t* renamed) {
  if (!CheckWidePath(existing) || !CheckWidePath(renamed)) return;
  // The result reports nothing; the last error tells the caller.
  if (!MoveFileW(existing, renamed))
    ReportFailure("MoveFileW", static_cast<LONG>(GetLastError()), existing);
}

void RenameDirectoryAnsi(const char* existing, const char* renamed) {
  WidePath wideExisting;
  WidePath wideRenamed;
  if (!WidenPath(existing, wideExisting) || !WidenPath(renamed, wideRenamed)) return;
  RenameDirectory(wideExisting, wideRenamed);
}

}  // namespace qmis
