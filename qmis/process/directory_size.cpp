#include "qmis/process/directory_size.h"

#include <cstring>
#include <cwchar>

#include "qmis/ansi_text.h"
#include "qmis/call_report.h"
#include "qmis/handles.h"
#include "qmis/path_buffer.h"
#include "qmis/wide_text.h"

namespace qmis {
namespace {

constexpr char kAllEntries[] = "*.*";
constexpr wchar_t kAllEntriesWide[] = L"*.*";

// The walk runs in UTF-16: the ANSI search would hand back a name the ANSI
// code page cannot spell with '?' in it, and the search below that folder
// would fail, leaving its files out.

// `path` with a backslash and `name` appended, or false when the path would
// not fit (so a name is never written over the start of a path).
bool AppendName(char* path, const char* name) {
  const DWORD offset = EnsureTrailingBackslash(path, kPathBufferSize);
  if (offset == 0 && path[0] != '\0') return false;
  const size_t length = std::strlen(name);
  if (offset + length + 1 > kPathBufferSize) return false;
  std::memcpy(path + offset, name, length + 1);
  return true;
}

// The same in UTF-16, where no character ends in a backslash byte by chance.
bool AppendWideName(wchar_t* path, const wchar_t* name) {
  size_t offset = std::wcslen(path);
  if (offset > 0 && path[offset - 1] != L'\\') {
    if (offset + 2 > kPathBufferSize) return false;
    path[offset++] = L'\\';
  }
  const size_t length = std::wcslen(name);
  if (offset + length + 1 > kPathBufferSize) return false;
  std::wmemcpy(path + offset, name, length + 1);
  return true;
}

DWORD SumEntries(const wchar_t* base, const wchar_t* pattern);

// A directory the walk enters. Junctions, directory links and mount points
// are reparse points and are not entered: one that leads back to an
// ancestor would make the walk count the tree again and again, or never end.
bool IsRealDirectory(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Sums one subdirectory, its path held in a block of its own from the
// global heap; false when the block cannot be had.
bool SumSubdirectory(const wchar_t* base, const wchar_t* name, DWORD& total) {
  GlobalBlock block = GlobalBlock::Allocate(sizeof(WidePath));
  if (!block) return Failed(false, "GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, name);
  auto* path = reinterpret_cast<wchar_t*>(block.data());
  std::wmemcpy(path, base, std::wcslen(base) + 1);
  WidePath pattern;
  if (AppendWideName(path, name)) {
    std::wmemcpy(pattern, path, std::wcslen(path) + 1);
    if (AppendWideName(pattern, kAllEntriesWide)) total += SumEntries(path, pattern);
  }
  return true;
}

// The total of the entries `pattern` finds in the directory `base`. A
// search that fails or ends early is reported, so that a total that leaves
// files out says so: a subdirectory that cannot be searched adds 0.
DWORD SumEntries(const wchar_t* base, const wchar_t* pattern) {
  WIN32_FIND_DATAW entry;
  UniqueFind search(FindFirstFileW(pattern, &entry));
  if (!search) return Failed(0u, "FindFirstFileW", static_cast<LONG>(GetLastError()), base);
  DWORD total = 0;
  do {
    if (entry.cFileName[0] == L'.') continue;
    if (IsRealDirectory(entry.dwFileAttributes) && !SumSubdirectory(base, entry.cFileName, total)) {
      return 0;
    }
    total += entry.nFileSizeLow;
  } while (FindNextFileW(search.get(), &entry));
  const DWORD ended = GetLastError();
  if (ended != ERROR_NO_MORE_FILES) ReportFailure("FindNextFileW", static_cast<LONG>(ended), base);
  return total;
}

}  // namespace

DWORD EnsureTrailingBackslash(char* path, DWORD capacity) {
  if (capacity == 0 || path[0] == '\0') return 0;
  TextEnd end;
  if (!FindTextEnd(path, capacity, end)) return 0;
  if (*end.last == '\\') return end.length;
  if (end.length + 2 > capacity) return 0;
  path[end.length] = '\\';
  path[end.length + 1] = '\0';
  return end.length + 1;
}

DWORD GetCopyFileSize(const wchar_t* directory) {
  WidePath base;
  WidePath pattern;
  if (!CopyWidePath(base, directory)) return 0;
  std::wmemcpy(pattern, base, std::wcslen(base) + 1);
  if (!AppendWideName(pattern, kAllEntriesWide))
    return Failed(0, "path length", ERROR_FILENAME_EXCED_RANGE, directory);
  return SumEntries(base, pattern);
}

DWORD GetCopyFileSizeAnsi(const char* directory) {
  // The limits count bytes: the directory and its search pattern, made by
  // whole characters of the ANSI code page, must each fit 260 bytes.
  PathBuffer pattern;
  if (!CopyPath(pattern, directory)) return 0;
  if (!AppendName(pattern, kAllEntries))
    return Failed(0, "path length", ERROR_FILENAME_EXCED_RANGE, directory);
  WidePath wide;
  if (!WidenPath(directory, wide)) return 0;
  return GetCopyFileSize(wide);
}

}  // namespace qmis
