#include "qmis/registry/key_tree.h"

#include "qmis/handles.h"
#include "qmis/path_buffer.h"

namespace qmis {
namespace {

// An open for existence only: RegOpenKeyA asks no rights beyond what the
// key's owner grants anyone, so a key that a stricter open would be refused
// still counts as there.
bool KeyStillOpens(HKEY parent, const char* path) {
  UniqueKey key;
  return RegOpenKeyA(parent, path, key.put()) == ERROR_SUCCESS;
}

// One pass over the subkeys present at its start. The index rises while
// subkeys are deleted, so each deletion moves the next subkey under the
// index just passed: a pass takes every other subkey, and the registry's
// refusal to delete a key with subkeys leaves the rest for the next pass.
// `removedAny` tells whether any subkey was deleted.
LONG DeleteSubkeysOnce(HKEY parent, const char* path, DWORD count, bool& removedAny) {
  UniqueKey key;
  const LONG status = RegOpenKeyA(parent, path, key.put());
  if (status != ERROR_SUCCESS) return status;

  GlobalBlock name = GlobalBlock::Allocate(kPathBufferSize);
  if (!name) return ERROR_NOT_ENOUGH_MEMORY;
  for (DWORD index = 0; index < count; ++index) {
    DWORD size = kPathBufferSize;
    if (RegEnumKeyExA(key.get(), index, name.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    if (DeleteKeyTree(key.get(), name.data()) == ERROR_SUCCESS) removedAny = true;
  }
  name.reset();
  // The deletions are written out before the next pass counts the subkeys
  // again. A flush that fails only leaves that to the system; the count
  // still sees the deletions.
  (void)RegFlushKey(key.get());
  return ERROR_SUCCESS;
}

}  // namespace

DWORD QuerySubkeyCount(HKEY parent, const char* path) {
  DWORD count = kUnknownSubkeyCount;
  UniqueKey key;
  if (RegOpenKeyExA(parent, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return count;
  // A query that fails leaves the count as unknown: the caller then walks
  // the subkeys until the enumeration ends.
  (void)RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
  return count;
}

LONG DeleteKeyTree(HKEY parent, const char* path) {
  if (path == nullptr || path[0] == '\0') return ERROR_INVALID_PARAMETER;
  for (;;) {
    bool removedAny = false;
    const DWORD count = QuerySubkeyCount(parent, path);
    if (count != 0) {
      const LONG status = DeleteSubkeysOnce(parent, path, count, removedAny);
      if (status != ERROR_SUCCESS) return status;
    }
    const LONG result = RegDeleteKeyA(parent, path);
    // Flushed after every deletion, so that a setup killed later leaves no
    // deleted key to reappear from the hive; its outcome changes nothing
    // that follows.
    (void)RegFlushKey(parent);
    if (!KeyStillOpens(parent, path)) return result;
    // Nothing changed in this pass, so another would only repeat it.
    if (result != ERROR_SUCCESS && !removedAny) return result;
  }
}

}  // namespace qmis
