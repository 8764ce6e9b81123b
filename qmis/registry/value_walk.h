// Walking a key's values by rising index.
#pragma once

#include <windows.h>

#include "qmis/path_buffer.h"

namespace qmis {

// Whether a value walk goes on past `index`, given the enumeration status
// there. It ends at ERROR_NO_MORE_ITEMS, and also when a failure comes from
// a list that has become unusable (deleted by someone else, say) or has no
// entry beyond `index`: such a key fails at every further index, and a walk
// that waited for ERROR_NO_MORE_ITEMS would never end.
[[nodiscard]] bool ValueWalkGoesOn(HKEY key, LONG status, DWORD index);

// A read the system reports whole with more bytes than the buffer offered
// is taken as one too long for it: no size beyond a buffer is ever used to
// index, copy or write it back.
inline LONG WithinCapacity(LONG status, DWORD size, DWORD capacity) {
  return status == ERROR_SUCCESS && size > capacity ? ERROR_MORE_DATA : status;
}

// The ANSI walk reads names as the system keeps them, in UTF-16, and takes
// one only when it converts to the code page exactly: the ANSI function would
// hand back '?' or a look-alike ("ł" as "l"), which names another key. Such
// an entry comes with ERROR_NO_UNICODE_TRANSLATION.
LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
               DWORD* dataSize);
inline LONG EnumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameSize, DWORD* type,
                      BYTE* data, DWORD* dataSize) {
  return RegEnumValueW(key, index, name, nameSize, nullptr, type, data, dataSize);
}

// One walk over a key's values by rising index, for every list the library
// reads: names of 260 characters (ANSI or UTF-16 by `Char`), data of at most
// `dataCapacity` bytes, in a buffer with room for one UTF-16 zero more.
// `visit(status, name, type, data, size)` sees every index the walk does not
// end at: an entry that could not be read comes with its status, and the
// walk goes on past it.
template <typename Char, typename Visit>
void ForEachValue(HKEY key, DWORD dataCapacity, Visit visit) {
  for (DWORD index = 0;; ++index) {
    Char name[kPathBufferSize];
    DWORD nameSize = kPathBufferSize;
    alignas(wchar_t) BYTE data[(kPathBufferSize + 1) * sizeof(wchar_t)];
    DWORD dataSize = dataCapacity;
    DWORD type = REG_NONE;
    LONG status = EnumValue(key, index, name, &nameSize, &type, data, &dataSize);
    status = WithinCapacity(status, dataSize, dataCapacity);
    if (!ValueWalkGoesOn(key, status, index)) return;
    visit(status, name, type, data, dataSize);
  }
}

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
