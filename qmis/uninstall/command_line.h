// Reading the uninstaller host's command line:
//   "<uninstaller path>" -f"<file>" ... -z"<product key>"
#pragma once

#include <windows.h>

#include "qmis/path_buffer.h"
#include "qmis/wide_text.h"

namespace qmis {

// 1 when the last whole character of `text` is the single byte `ch` (its
// low byte); 0 for the empty string and for a double-byte last character.
[[nodiscard]] int EndsWithChar(const char* text, DWORD ch);

// The text before the first " -f", without one leading and one trailing
// quote, from the command line in UTF-16: the host's own path is a file name,
// kept whole whatever its characters. Returns 0 with the empty string when
// the marker is missing or the path would not fit 260 units (it is never
// cut).
[[nodiscard]] int GetUninstallerPath(const wchar_t* commandLine, WidePath& path);

// The text after the first "-z" to the end of the line, without one leading
// and one trailing quote. Returns 0 with the empty string when the marker is
// missing or the key would not fit 260 bytes: a cut key names another product.
[[nodiscard]] int GetProductArg(const char* commandLine, PathBuffer& productKey);

}  // namespace qmis
