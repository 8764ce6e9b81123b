#include "qmis/process/directory_rename.h"

#include <windows.h>

#include "qmis/wide_text.h"

namespace qmis {

void RenameDirectory(const wchar_t* existing, const wchar_t* renamed) {
  if (!FitsWidePath(existing) || !FitsWidePath(renamed)) return;
  (void)MoveFileW(existing, renamed);  // the rename reports nothing; its caller looks
}

void RenameDirectoryAnsi(const char* existing, const char* renamed) {
  WidePath wideExisting;
  WidePath wideRenamed;
  if (!WidenPath(existing, wideExisting) || !WidenPath(renamed, wideRenamed)) return;
  RenameDirectory(wideExisting, wideRenamed);
}

}  // namespace qmis
