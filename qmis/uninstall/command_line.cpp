#include "qmis/uninstall/command_line.h"

#include <cstring>

#include "qmis/ansi_text.h"

namespace qmis {
namespace {

// Copies text[begin, end) into `out` without one leading and one trailing
// double quote; false (with the empty string) when it does not fit.
int CopyUnquoted(const char* begin, size_t length, PathBuffer& out) {
  if (length > 0 && *begin == '"') {
    ++begin;
    --length;
  }
  if (length >= kPathBufferSize) {
    out[0] = '\0';
    return 0;
  }
  std::memcpy(out, begin, length);
  out[length] = '\0';
  if (EndsWithChar(out, '"')) out[length - 1] = '\0';
  return 1;
}

int NotFound(PathBuffer& out) {
  out[0] = '\0';
  return 0;
}

}  // namespace

int EndsWithChar(const char* text, DWORD ch) {
  TextEnd end;
  if (!FindTextEnd(text, MAXDWORD, end) || end.last == nullptr) return 0;
  if (IsDBCSLeadByte(static_cast<BYTE>(*end.last))) return 0;
  return static_cast<BYTE>(*end.last) == static_cast<BYTE>(ch) ? 1 : 0;
}

int GetUninstallerPath(const char* commandLine, PathBuffer& path) {
  const long marker = FindMarker(commandLine, " -f");
  if (marker < 0) return NotFound(path);
  return CopyUnquoted(commandLine, static_cast<size_t>(marker), path);
}

int GetProductArg(const char* commandLine, PathBuffer& productKey) {
  const long marker = FindMarker(commandLine, "-z");
  if (marker < 0) return NotFound(productKey);
  const char* key = commandLine + marker + 2;
  return CopyUnquoted(key, std::strlen(key), productKey);
}

}  // namespace qmis
