// Sweeping the empty branches out of a key: each direct subkey whose whole
// branch holds no value (and opens with full access throughout) is deleted.
#pragma once

#include <windows.h>

namespace qmis {

// Sweeps `path` below `root`. Returns ERROR_INVALID_PARAMETER for an empty
// path (nothing opened), the error of opening the key, or else the status of
// closing it.
[[nodiscard]] LONG KeyClean(HKEY root, const char* path);

}  // namespace qmis
