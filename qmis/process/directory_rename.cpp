#include "qmis/process/directory_rename.h"

#include <windows.h>

namespace qmis {

void RenameDirectory(const char* existing, const char* renamed) { MoveFileA(existing, renamed); }

}  // namespace qmis
