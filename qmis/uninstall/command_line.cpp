#include "qmis/uninstall/command_line.h"

#include <cstring>

#include "qmis/ansi_text.h"

namespace qmis {
namespace {

// Copies `length` bytes from `begin` into `out` without one leading and one
// trailing double quote; 0 (with the empty string) when they do not fit.
int CopyUnquoted(const char* begin, size_t length, PathBuffer& out) {
  if (length > 0 && *begin == '"') {
    ++begin;
    --length;
  }
  // One byte more than the result may hold: a closing quote may still go.
  char work[kPathBufferSize + 1];
  if (length > kPathBufferSize) {
    out[0] = '\0';
    return 0;
  }
  std::memcpy(work, begin, length);
  work[length] = '\0';
  if (length > 0 && EndsWithChar(work, '"')) work[--length] = '\0';
  if (length >= kPathBufferSize) {
    out[0] = '\0';
    return 0;
  }
  std::memcpy(out, work, length + 1);
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
