// Walking ANSI text by whole characters of the system's code page, so that
// the trail byte of a double-byte character is never taken for a character
// of its own (in code page 932 a trail byte may be 0x5C, the backslash).
#pragma once

#include <windows.h>

namespace qmis {

// Offset of the character after the one at `offset`. A lead byte followed by
// the terminating zero, or by the end of `capacity`, counts as one byte.
[[nodiscard]] DWORD NextCharacter(const char* text, DWORD offset, DWORD capacity);

struct TextEnd {
  DWORD length;      // offset of the terminating zero
  const char* last;  // start of the last whole character; null when empty
};

// Walks `text` to its terminating zero, reading no byte past `capacity`.
// Returns false when no zero lies within the first `capacity` bytes.
[[nodiscard]] bool FindTextEnd(const char* text, DWORD capacity, TextEnd& end);

// Offset of the first occurrence of `marker` that begins on a character
// boundary of `text`, or -1 when there is none.
[[nodiscard]] long FindMarker(const char* text, const char* marker);

}  // namespace qmis
