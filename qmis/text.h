// Space removal and the product's handler name.
#pragma once

#include <windows.h>

#include "qmis/path_buffer.h"

namespace qmis {

// Removes every 0x20 byte from the first `length` bytes of `buffer` (fewer
// when its zero comes earlier), in place. The export refuses a length above
// 260; the library's own callers pass the length of a path it built.
void RemoveSpaces(char* buffer, DWORD length);

// "Quillmoor %s" filled with the product key, spaces removed. Returns false,
// leaving the empty string, when the formatted name would not fit 260 bytes:
// a cut-off name would name another product's verb or file types.
[[nodiscard]] bool BuildHandlerName(const char* productKey, PathBuffer& handlerName);

}  // namespace qmis
