#include "host_options.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Where the text that begins at `at` ends: past its closing quote when it
// is quoted (or at the end of an unclosed one), else at the next blank.
size_t EndOfWord(const std::wstring& line, size_t at) {
  if (at < line.size() && line[at] == L'"') {
    const size_t close = line.find(L'"', at + 1);
    return close == std::wstring::npos ? line.size() : close + 1;
  }
  while (at < line.size() && !IsBlank(line[at])) ++at;
  return at;
}

// The text from `begin` to `end` without the quotes around it.
std::wstring Unquoted(const std::wstring& line, size_t begin, size_t end) {
  if (begin < end && line[begin] == L'"') {
    ++begin;
    if (begin < end && line[end - 1] == L'"') --end;
  }
  return line.substr(begin, end - begin);
}

}  // namespace

bool ReadHostOptions(const std::wstring& line, HostOptions& options) {
  for (size_t at = EndOfWord(line, 0);;) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size() || line.compare(at, 2, L"-z") == 0) break;
    const bool script = line.compare(at, 2, L"-f") == 0;
    const size_t end = EndOfWord(line, script ? at + 2 : at);
    if (end < line.size() && !IsBlank(line[end])) return false;  // text right after a quote
    if (script) {
      options.script = Unquoted(line, at + 2, end);
    } else if (line.compare(at, end - at, L"-y") != 0) {
      return false;
    }
    at = end;
  }
  return !options.script.empty();
}
