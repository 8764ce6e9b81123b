#include "qmis/process/directory_size.h"

#include <cstring>

#include "qmis/ansi_text.h"
#include "qmis/handles.h"
#include "qmis/path_buffer.h"

namespace qmis {
namespace {

constexpr char kAllEntries[] = "*.*";

// `base` with a backslash and `name` appended, or false when the path would
// not fit (so a name is never written over the start of a path).
bool AppendName(char* path, const char* name) {
  const DWORD offset = EnsureTrailingBackslash(path, kPathBufferSize);
  if (offset == 0 && path[0] != '\0') return false;
  const size_t length = std::strlen(name);
  if (offset + length + 1 > kPathBufferSize) return false;
  std::memcpy(path + offset, name, length + 1);
  return true;
}

// Sums one subdirectory in a block of its own from the global heap; false
// when the block cannot be had.
bool SumSubdirectory(const char* base, const char* name, DWORD& total) {
  GlobalBlock path = GlobalBlock::Allocate(kPathBufferSize);
  if (!path) return false;
  std::memcpy(path.data(), base, std::strlen(base) + 1);
  if (AppendName(path.data(), name)) total += GetCopyFileSize(path.data());
  return true;
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

DWORD GetCopyFileSize(const char* directory) {
  PathBuffer base;
  PathBuffer pattern;
  if (!CopyPath(base, directory) || !CopyPath(pattern, directory)) return 0;
  if (!AppendName(pattern, kAllEntries)) return 0;

  WIN32_FIND_DATAA entry;
  UniqueFind search(FindFirstFileA(pattern, &entry));
  if (!search) return 0;
  DWORD total = 0;
  do {
    if (entry.cFileName[0] == '.') continue;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !SumSubdirectory(base, entry.cFileName, total)) {
      return 0;
    }
    total += entry.nFileSizeLow;
  } while (FindNextFileA(search.get(), &entry));
  return total;
}

}  // namespace qmis
