// The library's common string buffer: 260 bytes, the system's path limit,
// terminating zero included. Key paths are built from templates into it.
#pragma once

#include <windows.h>

namespace qmis {

inline constexpr DWORD kPathBufferSize = MAX_PATH;
using PathBuffer = char[kPathBufferSize];

// Fills `format`, whose only directives are %s, with the arguments. Refuses a
// result that would not fit 260 bytes with its zero: returns false and leaves
// the empty string, so that no key is ever named by a cut-off path.
[[nodiscard]] bool FormatPath(PathBuffer& out, const char* format, const char* arg);
[[nodiscard]] bool FormatPath(PathBuffer& out, const char* format, const char* first,
                              const char* second);

// Copies `text` whole into `out`, or returns false with the empty string
// when it does not fit.
[[nodiscard]] bool CopyPath(PathBuffer& out, const char* text);

}  // namespace qmis
