// Shared keys under HKLM\SOFTWARE\Quillmoor, kept alive by claim bits: each
// product's claim list records its bits per key, and a key's "Refcount" mask
// is the OR of the bits still claimed. A key goes when its mask reaches zero.
#pragma once

#include <windows.h>

namespace qmis {

// Records the product's claim on the shared key and ORs `bits` into its mask.
// Returns 1, or 0 when a key cannot be made, the claim-list entry or the mask
// cannot be written, "Refcount" has another type, or a name is empty or
// would not fit its 260-byte path.
[[nodiscard]] int SetRefcountedKey(const char* productKey, const char* sharedKeyName, DWORD bits);

// Releases every claim of the product, deleting the shared keys left without
// bits, then the product's claim list. Returns 1 when there is nothing to
// release (or the maker's root cannot be opened), ERROR_INVALID_PARAMETER
// for an empty or overlong product key, else a Win32 status code.
[[nodiscard]] LONG RemoveRefcountedKeys(const char* productKey);

}  // namespace qmis
