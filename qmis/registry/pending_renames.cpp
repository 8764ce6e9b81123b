#include "qmis/registry/pending_renames.h"

#include <windows.h>

#include <cstring>

#include "qmis/handles.h"
#include "qmis/layout.h"

namespace qmis {
namespace {

// The lists are read and written as the system keeps them, in UTF-16, so
// that no path in them goes through the ANSI code page: its bytes come
// back exactly as they went in.
//
// The largest list either operation reads from the parked value, and the
// largest it parks, in bytes: 65,536 UTF-16 characters. A restore must be
// able to read back what a backup wrote.
constexpr DWORD kListLimit = 0x20000;
// The list's final empty string: one UTF-16 zero. A join drops it from the
// older list, whatever those two bytes hold (one byte of a one-byte list).
constexpr DWORD kListEnd = sizeof(wchar_t);

struct ListValue {
  bool present = false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  GlobalBlock bytes;
};

// Reads a whole value of at most `limit` bytes. A missing value gives
// ERROR_FILE_NOT_FOUND with `present` false; a larger one ERROR_MORE_DATA.
LONG ReadList(HKEY key, const wchar_t* name, DWORD limit, ListValue& list) {
  DWORD size = 0;
  LONG status = RegQueryValueExW(key, name, nullptr, &list.type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  if (size > limit) return ERROR_MORE_DATA;
  list.bytes = GlobalBlock::Allocate(size);
  if (!list.bytes) return ERROR_NOT_ENOUGH_MEMORY;
  list.size = size;
  status = RegQueryValueExW(key, name, nullptr, &list.type,
                            reinterpret_cast<BYTE*>(list.bytes.data()), &list.size);
  list.present = status == ERROR_SUCCESS;
  return status;
}

// The bytes of `list` that a join keeps: all but its final empty string.
DWORD KeptBytes(const ListValue& list) {
  return list.size - (list.size < kListEnd ? list.size : kListEnd);
}

// Whether `list` begins with `head` without its final empty string: the
// parked list already written at the front of the pending one.
bool BeginsWithList(const ListValue& list, const ListValue& head) {
  const DWORD kept = KeptBytes(head);
  return list.size >= kept && std::memcmp(list.bytes.data(), head.bytes.data(), kept) == 0;
}

// Whether `list` ends with the whole of `tail`: the pending list already
// joined behind the parked one. A list the system wrote begins with a path
// of its own, "\??\...", which never stands inside another path.
bool EndsWithList(const ListValue& list, const ListValue& tail) {
  return list.size >= tail.size &&
         std::memcmp(list.bytes.data() + list.size - tail.size, tail.bytes.data(), tail.size) == 0;
}

// The older list without its final empty string, then the newer list: one
// list that ends as the newer one does, with a single empty string, and has
// the older list's type.
bool JoinLists(const ListValue& older, const ListValue& newer, ListValue& joined) {
  const DWORD kept = KeptBytes(older);
  joined.type = older.type;
  joined.size = kept + newer.size;
  joined.bytes = GlobalBlock::Allocate(joined.size);
  if (!joined.bytes) return false;
  std::memcpy(joined.bytes.data(), older.bytes.data(), kept);
  std::memcpy(joined.bytes.data() + kept, newer.bytes.data(), newer.size);
  return true;
}

// The list that already holds every entry of both, if one does: when the
// other is empty, or when a backup or a restore was cut off between its
// write and its deletion. A restore's write puts the parked list in front
// of the pending one; a backup's write puts the pending list behind the
// parked one. Only a list holding every entry of the other, byte for byte
// and in that place, counts; one that merely shares some entries is joined.
const ListValue* AlreadyJoined(const ListValue& parked, const ListValue& pending) {
  if (pending.size == 0) return &parked;
  if (parked.size == 0) return &pending;
  if (BeginsWithList(pending, parked)) return &pending;
  if (EndsWithList(parked, pending)) return &parked;
  return nullptr;
}

bool OpenSessionManager(UniqueKey& key) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, key.put()) ==
         ERROR_SUCCESS;
}

LONG WriteList(HKEY key, const wchar_t* name, const ListValue& list) {
  return RegSetValueExW(key, name, 0, list.type, reinterpret_cast<const BYTE*>(list.bytes.data()),
                        list.size);
}

// Writes the parked entries followed by the pending ones as `name`, whose
// value is `current` (one of the two); nothing is written when it already
// holds them all. A list for the parked value must stay readable by a
// restore.
LONG WriteMerged(HKEY key, const wchar_t* name, const ListValue& parked, const ListValue& pending,
                 const ListValue& current) {
  if (const ListValue* whole = AlreadyJoined(parked, pending)) {
    return whole == &current ? ERROR_SUCCESS : WriteList(key, name, *whole);
  }
  ListValue merged;
  if (!JoinLists(parked, pending, merged)) return ERROR_NOT_ENOUGH_MEMORY;
  if (&current == &parked && merged.size > kListLimit) return ERROR_MORE_DATA;
  return WriteList(key, name, merged);
}

}  // namespace

int BackupPendingFileRename() {
  UniqueKey key;
  if (!OpenSessionManager(key)) return 0;
  ListValue pending;
  if (ReadList(key.get(), kPendingRenamesValueW, kListLimit, pending) != ERROR_SUCCESS) return 0;

  // A list parked by an earlier backup that was never restored stays in
  // front of the current one; a parked value that cannot be read is never
  // written over.
  ListValue parked;
  const LONG parkedStatus = ReadList(key.get(), kParkedRenamesValueW, kListLimit, parked);
  if (parkedStatus != ERROR_SUCCESS && parkedStatus != ERROR_FILE_NOT_FOUND) return 0;
  const LONG written = parked.present
                           ? WriteMerged(key.get(), kParkedRenamesValueW, parked, pending, parked)
                           : WriteList(key.get(), kParkedRenamesValueW, pending);
  if (written != ERROR_SUCCESS) return 0;

  if (RegDeleteValueA(key.get(), kPendingRenamesValue) != ERROR_SUCCESS) return 0;
  return 1;
}

int RestorePendingFileRename() {
  UniqueKey key;
  if (!OpenSessionManager(key)) return 0;
  ListValue parked;
  if (ReadList(key.get(), kParkedRenamesValueW, kListLimit, parked) != ERROR_SUCCESS) return 0;

  // Entries scheduled since the backup are read whole, however large.
  ListValue pending;
  const LONG pendingStatus = ReadList(key.get(), kPendingRenamesValueW, MAXDWORD, pending);
  if (pendingStatus != ERROR_SUCCESS && pendingStatus != ERROR_FILE_NOT_FOUND) return 0;

  if (WriteMerged(key.get(), kPendingRenamesValueW, parked, pending, pending) != ERROR_SUCCESS)
    return 0;
  RegDeleteValueA(key.get(), kParkedRenamesValue);
  return 1;
}

}  // namespace qmis
