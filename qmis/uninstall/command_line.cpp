#include "qmis/uninstall/command_line.h"

#include <cstring>
#include <cwchar>

#include "qmis/ansi_text.h"

namespace qmis {
namespace {

// Whether the text ends with a quote: by whole characters of the ANSI code
// page, or by its last UTF-16 unit (no surrogate is a quote).
bool EndsWithQuote(const char* text) { return EndsWithChar(text, '"') != 0; }
bool EndsWithQuote(const wchar_t* text) {
  const size_t length = std::wcslen(text);
  return length > 0 && text[length - 1] == L'"';
}

// Copies `length` characters from `begin` into `out` without one leading and
// one trailing double quote; 0 (with the empty string) when they do not fit.
template <typename Char>
int CopyUnquoted(const Char* begin, size_t length, Char (&out)[kPathBufferSize]) {
  if (length > 0 && *begin == Char('"')) {
    ++begin;
    --length;
  }
  // One character more than the result may hold: a closing quote may still go.
  Char work[kPathBufferSize + 1];
  if (length > kPathBufferSize) {
    out[0] = Char(0);
    return 0;
  }
  std::memcpy(work, begin, length * sizeof(Char));
  work[length] = Char(0);
  if (EndsWithQuote(work)) work[--length] = Char(0);
  if (length >= kPathBufferSize) {
    out[0] = Char(0);
    return 0;
  }
  std::memcpy(out, work, (length + 1) * sizeof(Char));
  return 1;
}

template <typename Char>
int NotFound(Char (&out)[kPathBufferSize]) {
  out[0] = Char(0);
  return 0;
}

}  // namespace

int EndsWithChar(const char* text, DWORD ch) {
  // With no limit the walk always finds the zero: only an empty text has
  // no last character.
  TextEnd end;
  (void)FindTextEnd(text, MAXDWORD, end);
  if (end.last == nullptr) return 0;
  if (IsDBCSLeadByte(static_cast<BYTE>(*end.last))) return 0;
  return static_cast<BYTE>(*end.last) == static_cast<BYTE>(ch) ? 1 : 0;
}

int GetUninstallerPath(const wchar_t* commandLine, WidePath& path) {
  const wchar_t* marker = std::wcsstr(commandLine, L" -f");
  if (marker == nullptr) return NotFound(path);
  return CopyUnquoted(commandLine, static_cast<size_t>(marker - commandLine), path);
}

int GetProductArg(const char* commandLine, PathBuffer& productKey) {
  const long marker = FindMarker(commandLine, "-z");
  if (marker < 0) return NotFound(productKey);
  const char* key = commandLine + marker + 2;
  return CopyUnquoted(key, std::strlen(key), productKey);
}

}  // namespace qmis
