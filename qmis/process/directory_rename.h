// Giving a directory (or a file) a new name or place on the same volume.
#pragma once

namespace qmis {

// Moves `existing` to `renamed`; reports nothing. A path that does not fit
// 260 units with its zero moves nothing.
void RenameDirectory(const wchar_t* existing, const wchar_t* renamed);

// The same for paths in the ANSI code page, each at most 259 bytes.
void RenameDirectoryAnsi(const char* existing, const char* renamed);

}  // namespace qmis
