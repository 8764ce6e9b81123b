// Sweeping the empty branches out of a key: each direct subkey whose whole
// branch holds no value (and opens with full access throughout) is deleted.
#pragma once

#include <windows.h>

namespace qmis {

// Sweeps `path` below `root`. Returns ERROR_INVALID_PARAMETER for an empty
// path (nothing opened), the error of opening the key, or else the status of
// closing it.
[[nodiscard]] LONG KeyClean(HKEY root, const char* path);

// The walk below `key`, depth first; at depth 0 the direct subkeys are the
// candidates. `valueHolders` counts, per direct subkey, the keys of its
// branch that hold a value or cannot be opened. It belongs to the call, so
// sweeps on two threads do not disturb each other.
void SweepEmptyKeys(HKEY key, DWORD depth, DWORD& valueHolders);

}  // namespace qmis
