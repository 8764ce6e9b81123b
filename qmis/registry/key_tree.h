// Deleting a key with everything below it, without relying on the registry
// to delete subkeys with their parent.
#pragma once

#include <windows.h>

namespace qmis {

inline constexpr DWORD kUnknownSubkeyCount = 0xFFFFFFFF;

// Number of direct subkeys, or all ones when the key does not open with
// KEY_READ.
[[nodiscard]] DWORD QuerySubkeyCount(HKEY parent, const char* path);

// Deletes `path` below `parent` with its whole subtree. Returns 0 when the key
// is gone, else a Win32 status code. An empty path names the parent itself and
// is refused with ERROR_INVALID_PARAMETER.
[[nodiscard]] LONG DeleteKeyTree(HKEY parent, const char* path);

}  // namespace qmis
