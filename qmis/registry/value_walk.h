// Walking a key's values by rising index.
#pragma once

#include <windows.h>

namespace qmis {

// Whether a value walk goes on past `index`, given the enumeration status
// there. It ends at ERROR_NO_MORE_ITEMS, and also when a failure comes from
// a list that has become unusable (deleted by someone else, say) or has no
// entry beyond `index`: such a key fails at every further index, and a walk
// that waited for ERROR_NO_MORE_ITEMS would never end.
[[nodiscard]] bool ValueWalkGoesOn(HKEY key, LONG status, DWORD index);

// A REG_SZ-style value read with the 260-byte limit, always zero-terminated
// within the buffer, even when stored without its zero.
struct TextValue {
  char data[MAX_PATH + 1];
  DWORD size;
  DWORD type;
};

// Reads value `name` (nullptr for the default value) of `key`, at most 260
// bytes. Returns the status of the read.
[[nodiscard]] LONG ReadTextValue(HKEY key, const char* name, TextValue& value);

}  // namespace qmis
