// Saving a key to a hive file and restoring one over a key, with the backup
// or restore privilege switched on in the process token for the call only.
#pragma once

#include <windows.h>

namespace qmis {

// 1 when the key was saved and the privilege put back cleanly, else 0. An
// existing file is never replaced: the call then returns 0 without saving.
// A subkey or file path that does not fit 260 units is refused with 0.
[[nodiscard]] int RegSaveKeyToFile(HKEY root, const wchar_t* subkey, const wchar_t* file);

// 1 when the file was restored over the key and the privilege put back
// cleanly, else 0.
[[nodiscard]] int RegRestoreKeyFromFile(HKEY root, const wchar_t* subkey, const wchar_t* file);

// The same for paths in the ANSI code page, each at most 259 bytes.
[[nodiscard]] int RegSaveKeyToFileAnsi(HKEY root, const char* subkey, const char* file);
[[nodiscard]] int RegRestoreKeyFromFileAnsi(HKEY root, const char* subkey, const char* file);

}  // namespace qmis
