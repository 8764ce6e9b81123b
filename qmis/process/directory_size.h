// Adding up the sizes of the files in a directory tree.
#pragma once

#include <windows.h>

namespace qmis {

// Makes sure `path` ends in a backslash and returns the offset at which a
// name can be appended; 0 when the path is empty, unterminated within
// `capacity`, or has no room for the backslash.
[[nodiscard]] DWORD EnsureTrailingBackslash(char* path, DWORD capacity);

// The low 32 bits of every file's size below `directory`, summed modulo 2^32.
// Names beginning with '.' are left out, with everything below them. 0 when
// the directory's search pattern does not fit 260 units.
[[nodiscard]] DWORD GetCopyFileSize(const wchar_t* directory);

// The same for a directory in the ANSI code page, whose pattern must fit
// 260 bytes.
[[nodiscard]] DWORD GetCopyFileSizeAnsi(const char* directory);

}  // namespace qmis
