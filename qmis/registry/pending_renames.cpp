#include "qmis/registry/pending_renames.h"

#include <windows.h>

#include <cstring>

#include "qmis/call_report.h"
#include "qmis/handles.h"
#include "qmis/layout.h"
#include "qmis/named_lock.h"

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
// How often a list that grows between its size and its read is read again.
constexpr int kReadsOfAGrowingList = 8;

struct ListValue {
  bool present = false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  GlobalBlock bytes;
};

// Reads a whole value of at most `limit` bytes. A missing value gives
// ERROR_FILE_NOT_FOUND with `present` false; a larger one ERROR_MORE_DATA.
LONG ReadList(HKEY key, const wchar_t* name, DWORD limit, ListValue& list) {
  // Another program may schedule a rename between the size and the read:
  // the list grew, and is read again at its new size.
  for (int attempt = 0; attempt < kReadsOfAGrowingList; ++attempt) {
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &list.type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (size > limit) return ERROR_MORE_DATA;
    list.bytes = GlobalBlock::Allocate(size);
    if (!list.bytes) return ERROR_NOT_ENOUGH_MEMORY;
    list.size = size;
    status = RegQueryValueExW(key, name, nullptr, &list.type,
                              reinterpret_cast<BYTE*>(list.bytes.data()), &list.size);
    // A size beyond the block is never used: the list is read again.
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && list.size > size)) continue;
    list.present = status == ERROR_SUCCESS;
    return status;
  }
  return ERROR_MORE_DATA;
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
  const LONG status =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, key.put());
  if (status == ERROR_SUCCESS) return true;
  return Failed(false, "RegOpenKeyExA", status, kSessionManager);
}

// Reads a list the call cannot do without: one that is missing means there
// is nothing to do; one that cannot be read is a failure.
bool ReadNeededList(HKEY key, const wchar_t* name, const char* ansiName, DWORD limit,
                    ListValue& list) {
  const LONG status = ReadList(key, name, limit, list);
  if (status == ERROR_FILE_NOT_FOUND) ReportNothingFound(ansiName);
  if (status == ERROR_SUCCESS) return true;
  return Failed(false, "RegQueryValueExW", status, ansiName);
}

// Reads a list that may be missing.
bool ReadOptionalList(HKEY key, const wchar_t* name, const char* ansiName, DWORD limit,
                      ListValue& list) {
  const LONG status = ReadList(key, name, limit, list);
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return true;
  return Failed(false, "RegQueryValueExW", status, ansiName);
}

LONG WriteList(HKEY key, const wchar_t* name, const ListValue& list) {
  return RegSetValueExW(key, name, 0, list.type, reinterpret_cast<const BYTE*>(list.bytes.data()),
                        list.size);
}

// Whether two reads found the same list: both absent, or the same type and
// bytes.
bool SameList(const ListValue& a, const ListValue& b) {
  if (a.present != b.present) return false;
  return !a.present || (a.type == b.type && a.size == b.size &&
                        std::memcmp(a.bytes.data(), b.bytes.data(), a.size) == 0);
}

// The parked entries followed by the pending ones: one of the two when it
// already holds both, else `joined`, made from them. Null (with the reason
// in `status`) when the joined list cannot be had, or would be too large
// for a restore to read back when it is to be parked.
const ListValue* MergedList(const ListValue& parked, const ListValue& pending, bool toPark,
                            ListValue& joined, LONG& status) {
  status = ERROR_SUCCESS;
  if (const ListValue* whole = AlreadyJoined(parked, pending)) return whole;
  if (!JoinLists(parked, pending, joined)) {
    status = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  if (toPark && joined.size > kListLimit) {
    status = ERROR_MORE_DATA;
    return nullptr;
  }
  return &joined;
}

// Writes the parked value that holds `parked` (what it held before the
// backup, absent or not) followed by `pending`; nothing when it holds them
// already.
LONG Park(HKEY key, const ListValue& parked, const ListValue& pending) {
  if (!parked.present) return WriteList(key, kParkedRenamesValueW, pending);
  ListValue joined;
  LONG status = ERROR_SUCCESS;
  const ListValue* whole = MergedList(parked, pending, true, joined, status);
  if (whole == nullptr) return status;
  return whole == &parked ? ERROR_SUCCESS : WriteList(key, kParkedRenamesValueW, *whole);
}

// Puts the parked value back as the backup found it.
void Unpark(HKEY key, const ListValue& parked) {
  // Best effort: what the backup parked is also still pending, so a put-back
  // that fails doubles no entry the system carries out, and loses none.
  if (parked.present) {
    (void)WriteList(key, kParkedRenamesValueW, parked);
  } else {
    (void)RegDeleteValueA(key, kParkedRenamesValue);
  }
}

// The system's own writers (MoveFileEx in any program) take no lock of
// ours: a rename scheduled while a backup or a restore runs is appended to
// the pending list. So each reads the pending list again just before it
// deletes or writes over it, and when it changed, makes its list again from
// what it now reads. What remains is the one registry call between that
// last read and the deletion or write. The retries are bounded: the pending
// list changes only while another program schedules renames, which takes a
// few milliseconds; one that changes on every read is a runaway writer, and
// the call then gives up with nothing deleted or written over.
constexpr int kRereads = 8;

}  // namespace

int BackupPendingFileRename() {
  // The library's own backups and restores meet on one lock.
  const NamedLock lock(kRenameLockName);
  UniqueKey key;
  if (!OpenSessionManager(key)) return 0;
  ListValue pending;
  if (!ReadNeededList(key.get(), kPendingRenamesValueW, kPendingRenamesValue, kListLimit, pending))
    return 0;

  // A list parked by an earlier backup that was never restored stays in
  // front of the current one; a parked value that cannot be read is never
  // written over.
  ListValue parked;
  if (!ReadOptionalList(key.get(), kParkedRenamesValueW, kParkedRenamesValue, kListLimit, parked))
    return 0;

  for (int attempt = 0; attempt < kRereads; ++attempt) {
    if (const LONG parkedNow = Park(key.get(), parked, pending); parkedNow != ERROR_SUCCESS) {
      if (attempt > 0) Unpark(key.get(), parked);
      return Failed(0, "parking", parkedNow, kParkedRenamesValue);
    }
    ListValue now;
    const LONG reread = ReadList(key.get(), kPendingRenamesValueW, kListLimit, now);
    if (reread != ERROR_SUCCESS) {
      Unpark(key.get(), parked);
      return Failed(0, "reading the list again", reread, kPendingRenamesValue);
    }
    if (SameList(now, pending)) {
      const LONG deleted = RegDeleteValueA(key.get(), kPendingRenamesValue);
      if (deleted == ERROR_SUCCESS) return 1;
      return Failed(0, "RegDeleteValueA", deleted, kPendingRenamesValue);
    }
    pending = static_cast<ListValue&&>(now);
  }
  ReportFailure("reading again (it changed on every read)", ERROR_RETRY, kPendingRenamesValue);
  Unpark(key.get(), parked);
  return 0;
}

int RestorePendingFileRename() {
  const NamedLock lock(kRenameLockName);
  UniqueKey key;
  if (!OpenSessionManager(key)) return 0;
  ListValue parked;
  if (!ReadNeededList(key.get(), kParkedRenamesValueW, kParkedRenamesValue, kListLimit, parked))
    return 0;

  // Entries scheduled since the backup are read whole, however large.
  ListValue pending;
  if (!ReadOptionalList(key.get(), kPendingRenamesValueW, kPendingRenamesValue, MAXDWORD, pending))
    return 0;
  for (int attempt = 0; attempt < kRereads; ++attempt) {
    ListValue joined;
    LONG status = ERROR_SUCCESS;
    const ListValue* whole = MergedList(parked, pending, false, joined, status);
    if (whole == nullptr) return Failed(0, "joining the lists", status, kPendingRenamesValue);
    ListValue now;
    if (!ReadOptionalList(key.get(), kPendingRenamesValueW, kPendingRenamesValue, MAXDWORD, now))
      return 0;
    if (!SameList(now, pending)) {
      pending = static_cast<ListValue&&>(now);
      continue;
    }
    if (whole != &pending) {
      status = WriteList(key.get(), kPendingRenamesValueW, *whole);
      if (status != ERROR_SUCCESS) return Failed(0, "RegSetValueExW", status, kPendingRenamesValue);
    }
    // The merged list holds every parked entry: a parked value left behind
    // is taken for already joined by the next call.
    (void)RegDeleteValueA(key.get(), kParkedRenamesValue);
    return 1;
  }
  return Failed(0, "reading again (it changed on every read)", ERROR_RETRY, kPendingRenamesValue);
}

}  // namespace qmis
