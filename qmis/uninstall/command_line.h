// Reading the uninstaller host's command line:
//   "<uninstaller path>" -f"<file>" ... -z"<product key>"
#pragma once

#include <windows.h>

#include "qmis/path_buffer.h"

namespace qmis {

// 1 when the last whole character of `text` is the single byte `ch` (its
// low byte); 0 for the empty string and for a double-byte last character.
[[nodiscard]] int EndsWithChar(const char* text, DWORD ch);

// The text before the first " -f", without one leading and one trailing
// quote. Returns 0 with the empty string when the marker is missing or the
// path would not fit 260 bytes (it is never cut).
[[nodiscard]] int GetUninstallerPath(const char* commandLine, PathBuffer& path);

// The text after the first "-z" to the end of the line, without one leading
// and one trailing quote. Returns 0 with the empty string when the marker is
// missing or the key would not fit 260 bytes: a cut key names another product.
[[nodiscard]] int GetProductArg(const char* commandLine, PathBuffer& productKey);

}  // namespace qmis
