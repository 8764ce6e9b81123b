#include "qmis/registry/pending_renames.h"

#include <windows.h>

#include <cstring>

#include "qmis/handles.h"

namespace qmis {
namespace {

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPending[] = "PendingFileRenameOperations";
constexpr char kParked[] = "PostponedFileRenameOperations";
// The largest list either operation reads from the parked value, and the
// largest it parks: a restore must be able to read back what a backup wrote.
constexpr DWORD kListLimit = 0x10000;

struct ListValue {
  bool present = false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  GlobalBlock bytes;
};

// Reads a whole value of at most `limit` bytes. A missing value gives
// ERROR_FILE_NOT_FOUND with `present` false; a larger one ERROR_MORE_DATA.
LONG ReadList(HKEY key, const char* name, DWORD limit, ListValue& list) {
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name, nullptr, &list.type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  if (size > limit) return ERROR_MORE_DATA;
  list.bytes = GlobalBlock::Allocate(size);
  if (!list.bytes) return ERROR_NOT_ENOUGH_MEMORY;
  list.size = size;
  status = RegQueryValueExA(key, name, nullptr, &list.type, reinterpret_cast<BYTE*>(list.bytes.data()),
                            &list.size);
  list.present = status == ERROR_SUCCESS;
  return status;
}

// The older list without its final zero, then the newer list, in a block of
// both sizes together (so one zero more than the newer list brought). An
// empty older list leaves the newer one as it is.
bool JoinLists(const ListValue& older, const ListValue& newer, GlobalBlock& joined, DWORD& size) {
  if (older.size == 0) {
    size = newer.size;
    joined = GlobalBlock::Allocate(size);
    if (!joined) return false;
    std::memcpy(joined.data(), newer.bytes.data(), newer.size);
    return true;
  }
  size = older.size + newer.size;
  joined = GlobalBlock::Allocate(size);
  if (!joined) return false;
  std::memcpy(joined.data(), older.bytes.data(), older.size);
  std::memcpy(joined.data() + older.size - 1, newer.bytes.data(), newer.size);
  return true;
}

bool OpenSessionManager(UniqueKey& key) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, key.put()) ==
         ERROR_SUCCESS;
}

LONG WriteList(HKEY key, const char* name, DWORD type, const char* bytes, DWORD size) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes), size);
}

}  // namespace

int BackupPendingFileRename() {
  UniqueKey key;
  if (!OpenSessionManager(key)) return 0;
  ListValue pending;
  if (ReadList(key.get(), kPending, kListLimit, pending) != ERROR_SUCCESS) return 0;

  // A list parked by an earlier backup that was never restored stays in
  // front of the current one; a parked value that cannot be read is never
  // written over.
  ListValue parked;
  const LONG parkedStatus = ReadList(key.get(), kParked, kListLimit, parked);
  if (parkedStatus != ERROR_SUCCESS && parkedStatus != ERROR_FILE_NOT_FOUND) return 0;

  if (!parked.present) {
    if (WriteList(key.get(), kParked, pending.type, pending.bytes.data(), pending.size) !=
        ERROR_SUCCESS) {
      return 0;
    }
  } else {
    GlobalBlock joined;
    DWORD size = 0;
    if (!JoinLists(parked, pending, joined, size) || size > kListLimit) return 0;
    const DWORD type = parked.size == 0 ? pending.type : parked.type;
    if (WriteList(key.get(), kParked, type, joined.data(), size) != ERROR_SUCCESS) return 0;
  }

  if (RegDeleteValueA(key.get(), kPending) != ERROR_SUCCESS) return 0;
  return 1;
}

int RestorePendingFileRename() {
  UniqueKey key;
  if (!OpenSessionManager(key)) return 0;
  ListValue parked;
  if (ReadList(key.get(), kParked, kListLimit, parked) != ERROR_SUCCESS) return 0;

  // Entries scheduled since the backup are read whole, however large.
  ListValue pending;
  const LONG pendingStatus = ReadList(key.get(), kPending, MAXDWORD, pending);
  if (pendingStatus != ERROR_SUCCESS && pendingStatus != ERROR_FILE_NOT_FOUND) return 0;

  if (pending.present && parked.size == 0) {
    RegDeleteValueA(key.get(), kParked);
    return 1;
  }

  GlobalBlock merged;
  DWORD size = parked.size;
  if (pending.present) {
    if (!JoinLists(parked, pending, merged, size)) return 0;
  } else {
    merged = GlobalBlock::Allocate(size);
    if (!merged) return 0;
    std::memcpy(merged.data(), parked.bytes.data(), parked.size);
  }
  if (WriteList(key.get(), kPending, parked.type, merged.data(), size) != ERROR_SUCCESS) return 0;
  RegDeleteValueA(key.get(), kParked);
  return 1;
}

}  // namespace qmis
