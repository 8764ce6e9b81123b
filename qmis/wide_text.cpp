#include "qmis/wide_text.h"

#include <cstring>
#include <cwchar>

#include "qmis/ansi_text.h"
#include "qmis/call_report.h"

namespace qmis {
namespace {

bool Refuse(WidePath& out) {
  out[0] = L'\0';
  return false;
}

// A path that would not fit is refused, and reported for the call being
// made.
bool RefuseLength(WidePath& out, const wchar_t* subject) {
  ReportFailure("path length", ERROR_FILENAME_EXCED_RANGE, subject);
  return Refuse(out);
}

}  // namespace

bool FitsWidePath(const wchar_t* text) { return std::wcslen(text) < kPathBufferSize; }

bool CheckWidePath(const wchar_t* text) {
  if (FitsWidePath(text)) return true;
  return Failed(false, "path length", ERROR_FILENAME_EXCED_RANGE, text);
}

bool WidenPath(const char* ansi, WidePath& wide) {
  if (std::strlen(ansi) >= kPathBufferSize) {
    ReportFailure("path length", ERROR_FILENAME_EXCED_RANGE, ansi);
    return Refuse(wide);
  }
  if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, kPathBufferSize) == 0) {
    ReportFailure("MultiByteToWideChar", static_cast<LONG>(GetLastError()), ansi);
    return Refuse(wide);
  }
  return true;
}

bool CopyWidePath(WidePath& out, const wchar_t* text) {
  const size_t length = std::wcslen(text);
  if (length >= kPathBufferSize) return RefuseLength(out, text);
  std::wmemcpy(out, text, length + 1);
  return true;
}

bool FormatWidePath(WidePath& out, const wchar_t* format, const wchar_t* first,
                    const wchar_t* second) {
  const size_t length = std::wcslen(format) - 4 + std::wcslen(first) + std::wcslen(second);
  if (length >= kPathBufferSize) return RefuseLength(out, second);
  const wchar_t* args[] = {first, second};
  size_t next = 0;
  wchar_t* at = out;
  for (const wchar_t* f = format; *f != L'\0'; ++f) {
    if (f[0] == L'%' && f[1] == L's' && next < 2) {
      const size_t argLength = std::wcslen(args[next]);
      std::wmemcpy(at, args[next++], argLength);
      at += argLength;
      ++f;
    } else {
      *at++ = *f;
    }
  }
  *at = L'\0';
  return true;
}

GlobalBlock WidenText(const char* ansi) {
  // One UTF-16 unit per byte at most, the zero included.
  const int units = static_cast<int>(std::strlen(ansi)) + 1;
  GlobalBlock block = GlobalBlock::Allocate(units * sizeof(wchar_t));
  if (!block) {
    ReportFailure("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  } else if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, block.wide(), units) == 0) {
    ReportFailure("MultiByteToWideChar", static_cast<LONG>(GetLastError()));
    block.reset();
  }
  return block;
}

GlobalBlock CopyWideText(const wchar_t* wide) {
  const size_t units = std::wcslen(wide) + 1;
  GlobalBlock block = GlobalBlock::Allocate(units * sizeof(wchar_t));
  if (block) {
    std::wmemcpy(block.wide(), wide, units);
  } else {
    ReportFailure("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  }
  return block;
}

bool NarrowText(const wchar_t* wide, char* out, DWORD capacity) {
  // Up to four bytes a unit, whatever the ANSI code page.
  char text[4 * kPathBufferSize];
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  if (length == 0) return false;
  DWORD end = 0;
  while (text[end] != '\0') {
    const DWORD next = NextCharacter(text, end, static_cast<DWORD>(length));
    if (next > capacity - 1) break;
    end = next;
  }
  std::memcpy(out, text, end);
  out[end] = '\0';
  return true;
}

}  // namespace qmis
