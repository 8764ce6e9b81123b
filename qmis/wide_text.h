// Text the system keeps in UTF-16 (file names, command lines, registry
// text), and the one conversion an ANSI export makes at its boundary: its
// arguments go over to UTF-16 once, and one implementation serves both.
#pragma once

#include <windows.h>

#include "qmis/handles.h"
#include "qmis/path_buffer.h"

namespace qmis {

// A path in UTF-16: 260 units, terminating zero included.
using WidePath = wchar_t[kPathBufferSize];

// Whether `text` fits a WidePath with its zero. CheckWidePath also reports a
// path that does not (ERROR_FILENAME_EXCED_RANGE) for the call being made.
[[nodiscard]] bool FitsWidePath(const wchar_t* text);
[[nodiscard]] bool CheckWidePath(const wchar_t* text);

// `ansi`, in the ANSI code page, as UTF-16, converted as the system's own
// ANSI functions convert it. Each byte gives at most one UTF-16 unit, so
// nothing is lost and a path that fits 260 bytes fits 260 units. Refuses a
// path of 260 bytes or more (false, the empty string): an ANSI export's
// limit counts bytes, and is checked before converting. A refusal is
// reported for the call being made.
[[nodiscard]] bool WidenPath(const char* ansi, WidePath& wide);

// Copies `text` whole, or refuses with the empty string when it does not fit.
[[nodiscard]] bool CopyWidePath(WidePath& out, const wchar_t* text);

// Fills `format`, whose only directives are two %s, with `first` and
// `second`; refuses with the empty string a result that does not fit.
[[nodiscard]] bool FormatWidePath(WidePath& out, const wchar_t* format, const wchar_t* first,
                                  const wchar_t* second);

// A writable UTF-16 copy of `text` of any length, in a block of the global
// heap: `ansi` converted from the ANSI code page, or `wide` as it is. An
// empty block when the memory cannot be had.
[[nodiscard]] GlobalBlock WidenText(const char* ansi);
[[nodiscard]] GlobalBlock CopyWideText(const wchar_t* wide);

// `wide` (at most 260 units) in the ANSI code page into `out` of `capacity`
// bytes, cut after the last whole character that leaves room for the zero.
// False, with `out` as it was, when it cannot be converted.
[[nodiscard]] bool NarrowText(const wchar_t* wide, char* out, DWORD capacity);

}  // namespace qmis
