#include "qmis/registry/key_sweep.h"

#include "qmis/call_report.h"
#include "qmis/handles.h"
#include "qmis/path_buffer.h"
#include "qmis/registry/key_tree.h"

namespace qmis {
namespace {

bool HoldsValue(HKEY key) {
  PathBuffer name;
  DWORD size = kPathBufferSize;
  return RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) !=
         ERROR_NO_MORE_ITEMS;
}

// The walk below `key`, depth first; at depth 0 the direct subkeys are the
// candidates. `valueHolders` counts, per direct subkey, the keys of its
// branch that hold a value or cannot be opened. It belongs to the call, so
// sweeps on two threads do not disturb each other.
void SweepEmptyKeys(HKEY key, DWORD depth, DWORD& valueHolders) {
  // The index goes on after a deletion, so the subkey that moved into the
  // deleted one's place waits for the next call.
  for (DWORD index = 0;; ++index) {
    if (depth == 0) valueHolders = 0;
    PathBuffer name;
    if (RegEnumKeyA(key, index, name, kPathBufferSize) != ERROR_SUCCESS) return;
    {
      UniqueKey subkey;
      if (RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, subkey.put()) != ERROR_SUCCESS) {
        ++valueHolders;
      } else {
        if (HoldsValue(subkey.get())) ++valueHolders;
        SweepEmptyKeys(subkey.get(), depth + 1, valueHolders);
      }
    }
    // A branch that cannot be deleted stays; the sweep goes on with the next.
    if (depth == 0 && valueHolders == 0) (void)DeleteKeyTree(key, name);
  }
}

}  // namespace

LONG KeyClean(HKEY root, const char* path) {
  // An empty path opens the root itself: its empty top-level keys would go.
  if (path[0] == '\0')
    return Failed(ERROR_INVALID_PARAMETER, "argument check", ERROR_INVALID_PARAMETER, path);
  UniqueKey key;
  const LONG status = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, key.put());
  if (status != ERROR_SUCCESS) return Failed(status, "RegOpenKeyExA", status, path);
  DWORD valueHolders = 0;
  SweepEmptyKeys(key.get(), 0, valueHolders);
  const LONG closed = key.reset();
  if (closed != ERROR_SUCCESS) ReportFailure("RegCloseKey", closed, path);
  return closed;
}

}  // namespace qmis
