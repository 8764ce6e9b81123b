#include "qmis/path_buffer.h"

#include <cstring>

#include "qmis/call_report.h"

namespace qmis {
namespace {

// Length of `format` once each of its `directives` %s is replaced by nothing.
size_t FixedLength(const char* format, size_t directives) {
  return std::strlen(format) - 2 * directives;
}

// A path that would not fit is refused, and reported for the call being
// made with the argument that made it too long.
bool Refuse(PathBuffer& out, const char* arg) {
  ReportFailure("path length", ERROR_FILENAME_EXCED_RANGE, arg);
  out[0] = '\0';
  return false;
}

}  // namespace

bool FormatPath(PathBuffer& out, const char* format, const char* arg) {
  const size_t length = FixedLength(format, 1) + std::strlen(arg);
  if (length >= kPathBufferSize) return Refuse(out, arg);
  wsprintfA(out, format, arg);
  return true;
}

bool FormatPath(PathBuffer& out, const char* format, const char* first, const char* second) {
  const size_t length = FixedLength(format, 2) + std::strlen(first) + std::strlen(second);
  if (length >= kPathBufferSize)
    return Refuse(out, std::strlen(first) > std::strlen(second) ? first : second);
  wsprintfA(out, format, first, second);
  return true;
}

bool CopyPath(PathBuffer& out, const char* text) {
  const size_t length = std::strlen(text);
  if (length >= kPathBufferSize) return Refuse(out, text);
  std::memcpy(out, text, length + 1);
  return true;
}

}  // namespace qmis
