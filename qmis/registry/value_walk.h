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

// A REG_SZ-style value read in UTF-16, as the system keeps it, with the
// limit of 260 characters; always zero-terminated within the buffer, even
// when stored without its zero or with an odd byte count. A value of a type
// the system does not convert (REG_BINARY, say) is taken as ANSI text, as the
// ANSI functions take it, and held in UTF-16 like the others.
struct TextValue {
  wchar_t data[MAX_PATH + 1];
  DWORD size;  // in bytes, as read
  DWORD type;
};

// Reads value `name` (nullptr for the default value) of `key`, at most 260
// characters. Returns the status of the read.
[[nodiscard]] LONG ReadTextValue(HKEY key, const wchar_t* name, TextValue& value);

// Ends the `size` bytes of text read into `data` (room for one unit more)
// with a zero, so that text stored without its zero is read whole and
// nothing after it.
void TerminateText(wchar_t* data, DWORD size);

}  // namespace qmis
