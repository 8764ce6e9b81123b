// Parking the pending rename list and merging it back. The machine's own
// values are saved before each test and put back after it.
#include <gmock/gmock.h>

#include <string>
#include <utility>
#include <vector>

#include "library_test.h"
#include "programs.h"
#include "temp_dir.h"
#include "wide.h"

namespace qmis_test {
namespace {

void Put(const std::string& name, const std::optional<RegValue>& value) {
  PutValue(HKEY_LOCAL_MACHINE, kSessionManager, name, value);
}

std::optional<RegValue> Get(const std::string& name) {
  return ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, name);
}

RegValue MultiSz(const std::string& bytes) { return {REG_MULTI_SZ, bytes}; }

enum class Operation { kBackup, kRestore };
using enum Operation;

using List = std::optional<RegValue>;

List M(const std::string& bytes) { return MultiSz(bytes); }
// A list of `size` bytes of `c`, ending in its two empty strings.
std::string Filled(size_t size, char c) { return std::string(size - 2, c) + std::string(2, '\0'); }

// The lists before a call, its result, and the lists after it; a list left
// out is none, a result left out is 1.
struct ListsRow {
  const char* what;
  Operation operation;
  List parked = {}, pending = {};
  int result = 1;
  List parkedAfter = {}, pendingAfter = {};
};

class PendingRenames : public LibraryTest {
 protected:
  static int Call(Operation operation) {
    return operation == kRestore ? api().RestorePendingFileRename()
                                 : api().BackupPendingFileRename();
  }
  static void ExpectRows(const std::vector<ListsRow>& rows) {
    for (const ListsRow& row : rows) {
      SCOPED_TRACE(row.what);
      Put(kParkedRenames, row.parked);
      Put(kPendingRenames, row.pending);
      EXPECT_EQ(Call(row.operation), row.result);
      EXPECT_EQ(Get(kParkedRenames), row.parkedAfter);
      EXPECT_EQ(Get(kPendingRenames), row.pendingAfter);
    }
  }
  SavedRenameLists lists_;
};

const std::string kListA = std::string("\\??\\C:\\a\0\\??\\C:\\b\0\0", 20);
const std::string kListB = std::string("\\??\\C:\\c\0\0\0", 11);

TEST_F(PendingRenames, RenameScheduledMeanwhileFollowsTheParkedEntries) {
  TempDir dir;
  dir.File("from.txt", 1);
  Put(kPendingRenames, MultiSz(kListA));
  ASSERT_EQ(api().BackupPendingFileRename(), 1);
  ASSERT_TRUE(MoveFileExA((dir / "from.txt").c_str(), (dir / "to.txt").c_str(),
                          MOVEFILE_DELAY_UNTIL_REBOOT));
  const RegValue scheduled = *Get(kPendingRenames);
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  const RegValue merged = *Get(kPendingRenames);
  EXPECT_EQ(merged.type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(merged.bytes, kListA.substr(0, kListA.size() - 1) + scheduled.bytes);
  Put(kPendingRenames, std::nullopt);  // never carried out
}

// The pairs the system carries out at its next start, read as it reads
// them: a source, then a target, until the first empty source.
std::vector<std::pair<std::string, std::string>> Pairs(const std::string& list) {
  std::vector<std::pair<std::string, std::string>> pairs;
  size_t at = 0;
  auto next = [&] {
    const size_t end = std::min(list.find('\0', at), list.size());
    std::string text = list.substr(at, end - at);
    at = end + 1;
    return text;
  };
  while (at < list.size()) {
    std::string source = next();
    if (source.empty()) break;
    pairs.emplace_back(source, at < list.size() ? next() : "");
  }
  return pairs;
}

TEST_F(PendingRenames, RenameScheduledAfterAJoiningRestoreIsCarriedOut) {
  TempDir dir;
  for (const char* name : {"a", "b", "c"}) dir.File(name, 1);
  // Scheduled as a Unicode installer does, through the system's UTF-16 call.
  auto schedule = [&](const char* name) {
    auto wide = [](const std::string& path) { return std::wstring(path.begin(), path.end()); };
    ASSERT_TRUE(MoveFileExW(wide(dir / name).c_str(), wide(dir / (std::string(name) + "2")).c_str(),
                            MOVEFILE_DELAY_UNTIL_REBOOT));
  };
  schedule("a");
  ASSERT_EQ(api().BackupPendingFileRename(), 1);
  schedule("b");
  ASSERT_EQ(api().RestorePendingFileRename(), 1);
  schedule("c");
  const auto pairs = Pairs(Get(kPendingRenames)->bytes);
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_THAT(pairs.back().first, ::testing::EndsWith("\\c"));

  // A restart of the prefix carries the list out as a restart of the system does.
  ASSERT_EQ(RunProgram("wineboot.exe -r").exitCode, 0u);
  for (const char* name : {"a2", "b2", "c2"}) EXPECT_TRUE(PathExists(dir / name)) << name;
}

const std::string kA = kListA.substr(0, kListA.size() - 1), kB = kListB.substr(0, 10);
const List kNone;

// The parked entries come first, then the pending ones, in the older
// list's type; a list that is empty or missing adds nothing.
TEST_F(PendingRenames, EachCallJoinsTheListsAsItsRulesSay) {
  ExpectRows({
      {.what = "backup", .operation = kBackup, .pending = M(kListA), .parkedAfter = M(kListA)},
      {.what = "restore, nothing scheduled since",
       .operation = kRestore,
       .parked = M(kListA),
       .pendingAfter = M(kListA)},
      // Joined as stored, in UTF-16: the parked list's last two bytes go,
      // whatever they hold.
      {.what = "restore: the parked type, its last two bytes dropped even when not zero",
       .operation = kRestore,
       .parked = RegValue{REG_BINARY, "abcd"},
       .pending = M(kListB),
       .pendingAfter = RegValue{REG_BINARY, "ab" + Utf16Bytes(kListB)}},
      {.what = "restore of a one-byte parked list: no entry, nothing to join",
       .operation = kRestore,
       .parked = RegValue{REG_BINARY, "z"},
       .pending = M(kListB),
       .pendingAfter = M(kListB)},
      {.what = "backup of a list of another type: parked as that type",
       .operation = kBackup,
       .pending = RegValue{REG_BINARY, "abcd"},
       .parkedAfter = RegValue{REG_BINARY, "abcd"}},
      {.what = "second backup: the parked list's type",
       .operation = kBackup,
       .parked = RegValue{REG_BINARY, std::string("xy\0\0", 4)},
       .pending = M(kListB),
       .parkedAfter = RegValue{REG_BINARY, "xy" + Utf16Bytes(kListB)}},
      {.what = "restore, nothing parked",
       .operation = kRestore,
       .pending = M(kListA),
       .result = 0,
       .pendingAfter = M(kListA)},
      {.what = "backup, nothing pending",
       .operation = kBackup,
       .parked = M(kListB),
       .result = 0,
       .parkedAfter = M(kListB)},
      {.what = "second backup: the earlier parked entries in front",
       .operation = kBackup,
       .parked = M(kListA),
       .pending = M(kListB),
       .parkedAfter = M(kA + kListB)},
      {.what = "restore, an empty parked value",
       .operation = kRestore,
       .parked = M(""),
       .pending = M(kListB),
       .pendingAfter = M(kListB)},
      {.what = "parked entries after other pending ones",
       .operation = kRestore,
       .parked = M(kListA),
       .pending = M(kB + kListA),
       .pendingAfter = M(kA + kB + kListA)},
      {.what = "pending holds the parked list's last entry, then another",
       .operation = kRestore,
       .parked = M(kA + kListB),
       .pending = M(kB + kListA),
       .pendingAfter = M(kA + kB + kB + kListA)},
  });
}

// A backup or a restore cut off between its write and its deletion leaves
// both values: the same call again ends as one whole call would, while lists
// that merely share entries are still joined.
TEST_F(PendingRenames, ACallCutOffIsFinishedByTheNextOne) {
  ExpectRows({
      {.what = "backup cut off, nothing parked before",
       .operation = kBackup,
       .parked = M(kListA),
       .pending = M(kListA),
       .parkedAfter = M(kListA)},
      {.what = "backup cut off behind an earlier parked list",
       .operation = kBackup,
       .parked = M(kA + kListB),
       .pending = M(kListB),
       .parkedAfter = M(kA + kListB)},
      {.what = "backup after a cut-off restore",
       .operation = kBackup,
       .parked = M(kListA),
       .pending = M(kA + kListB),
       .parkedAfter = M(kA + kListB)},
      {.what = "restore cut off, nothing pending before",
       .operation = kRestore,
       .parked = M(kListA),
       .pending = M(kListA),
       .pendingAfter = M(kListA)},
      {.what = "restore cut off before newer entries",
       .operation = kRestore,
       .parked = M(kListA),
       .pending = M(kA + kListB),
       .pendingAfter = M(kA + kListB)},
      {.what = "restore after a cut-off backup",
       .operation = kRestore,
       .parked = M(kA + kListB),
       .pending = M(kListB),
       .pendingAfter = M(kA + kListB)},
  });
}

// Each list is read whole up to 65,536 bytes; one byte more and it is not
// parked, nor a parked one merged back, nor written over.
TEST_F(PendingRenames, ListsAreReadWholeUpTo64KiB) {
  const std::string limit = Filled(0x10000, 'x'), over = Filled(0x10001, 'x');
  // 64 KiB joined, and one byte more.
  const std::string x32k = Filled(32768, 'x'), y32k = Filled(32769, 'y'),
                    y32k1 = Filled(32770, 'y');
  const std::string x40k = Filled(40002, 'x'), y40k = Filled(40002, 'y'), y70k = Filled(70002, 'y');
  ExpectRows({
      {.what = "backup whose joined list would not read back",
       .operation = kBackup,
       .parked = M(x40k),
       .pending = M(y40k),
       .result = 0,
       .parkedAfter = M(x40k),
       .pendingAfter = M(y40k)},
      {.what = "second backup joining to exactly 64 KiB",
       .operation = kBackup,
       .parked = M(x32k),
       .pending = M(y32k),
       .parkedAfter = M(x32k.substr(0, 32767) + y32k)},
      {.what = "second backup joining to one byte more",
       .operation = kBackup,
       .parked = M(x32k),
       .pending = M(y32k1),
       .result = 0,
       .parkedAfter = M(x32k),
       .pendingAfter = M(y32k1)},
      {.what = "backup of a list over 64 KiB",
       .operation = kBackup,
       .parked = M(kListA),
       .pending = M(y70k),
       .result = 0,
       .parkedAfter = M(kListA),
       .pendingAfter = M(y70k)},
      {.what = "backup beside a parked list over 64 KiB",
       .operation = kBackup,
       .parked = M(y70k),
       .pending = M(kListA),
       .result = 0,
       .parkedAfter = M(y70k),
       .pendingAfter = M(kListA)},
      {.what = "restore beside a pending list over 64 KiB",
       .operation = kRestore,
       .parked = M(kListA),
       .pending = M(y70k),
       .pendingAfter = M(kA + y70k)},
      {.what = "backup of exactly 64 KiB",
       .operation = kBackup,
       .pending = M(limit),
       .parkedAfter = M(limit)},
      {.what = "backup of one byte more",
       .operation = kBackup,
       .pending = M(over),
       .result = 0,
       .pendingAfter = M(over)},
      {.what = "restore of exactly 64 KiB",
       .operation = kRestore,
       .parked = M(limit),
       .pendingAfter = M(limit)},
      {.what = "restore of one byte more",
       .operation = kRestore,
       .parked = M(over),
       .result = 0,
       .parkedAfter = M(over)},
  });
}

// Another program changes the pending list while a backup or a restore runs:
// right after the call first read it, after every read of it, or between a
// read's size and its bytes. The call reads the list again just before it
// deletes or writes over it and takes in what it now holds; a list that
// changes on every read makes it give up, after a bounded number of reads,
// with nothing deleted or written over.
TEST_F(PendingRenames, ListsChangedWhileACallRunsLoseNothing) {
  enum class When { kAfterTheFirstRead, kAfterEveryRead, kBeforeTheFirstRead, kBeforeEveryRead };
  enum class Change { kSchedule, kSameSizeOtherEntry, kOtherType, kDelete };
  struct Row {
    const char* what;
    Operation operation;
    When when;
    Change change = Change::kSchedule;
    int result = 1;
    bool parkingAgainFails = false;
  };
  using enum When;
  using enum Change;
  const Row rows[] = {
      {.what = "backup, one rename meanwhile", .operation = kBackup, .when = kAfterTheFirstRead},
      {.what = "backup, a rename after every read",
       .operation = kBackup,
       .when = kAfterEveryRead,
       .result = 0},
      {.what = "restore, one rename meanwhile", .operation = kRestore, .when = kAfterTheFirstRead},
      {.what = "restore, a rename after every read",
       .operation = kRestore,
       .when = kAfterEveryRead,
       .result = 0},
      {.what = "backup, a rename between the size and the bytes",
       .operation = kBackup,
       .when = kBeforeTheFirstRead},
      {.what = "backup, a rename between every size and its bytes",
       .operation = kBackup,
       .when = kBeforeEveryRead,
       .result = 0},
      {.what = "backup, an entry replaced by one of the same size",
       .operation = kBackup,
       .when = kAfterTheFirstRead,
       .change = kSameSizeOtherEntry},
      {.what = "backup, the list written again as another type",
       .operation = kBackup,
       .when = kAfterTheFirstRead,
       .change = kOtherType},
      {.what = "restore, the pending list carried out meanwhile",
       .operation = kRestore,
       .when = kAfterTheFirstRead,
       .change = kDelete},
      {.what = "backup, one rename meanwhile, and parking again fails",
       .operation = kBackup,
       .when = kAfterTheFirstRead,
       .result = 0,
       .parkingAgainFails = true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const bool restore = row.operation == kRestore;
    Put(kParkedRenames, restore ? M(kListA) : kNone);
    Put(kPendingRenames, M(restore ? kListB : kListA));
    int reads = 0;
    std::vector<std::string> scheduled;
    auto change = [&] {
      if (row.change == kSchedule) {
        scheduled.push_back("C:\\qmis-meanwhile-" + std::to_string(reads));
        MoveFileExA(scheduled.back().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      } else if (row.change == kDelete) {
        Put(kPendingRenames, kNone);
      } else {
        RegValue now = *ReadStoredValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
        if (row.change == kOtherType) now.type = REG_BINARY;
        if (row.change == kSameSizeOtherEntry) now.bytes[now.bytes.size() - 6] = 'z';
        SetStoredValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, now);
        scheduled.push_back(Narrow(std::wstring(reinterpret_cast<const wchar_t*>(now.bytes.data()),
                                                now.bytes.size() / 2)));
      }
    };
    const bool before = row.when == kBeforeTheFirstRead || row.when == kBeforeEveryRead;
    const bool every = row.when == kAfterEveryRead || row.when == kBeforeEveryRead;
    hook().Replace("RegQueryValueExW", [&](const uint32_t* a) -> uint32_t {
      const bool ofPending = QueriedValueName(a) == Wide(kPendingRenames);
      const bool sizeOnly = QueriedData(a) == nullptr;
      if (before && ofPending && sizeOnly) {
        const uint32_t status = hook().CallReal("RegQueryValueExW", a);
        if (++reads == 1 || every) change();
        return status;
      }
      const uint32_t status = hook().CallReal("RegQueryValueExW", a);
      if (!before && ofPending && !sizeOnly && (++reads == 1 || every)) change();
      return status;
    });
    if (row.parkingAgainFails) hook().Fail("RegSetValueExW", 2, ERROR_ACCESS_DENIED);
    const auto parkedBefore = Get(kParkedRenames);
    EXPECT_EQ(Call(row.operation), row.result);
    hook().ClearRules();
    EXPECT_LE(reads, 10) << "the reads are bounded";
    const auto pendingNow = ReadStoredValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
    const auto parkedNow = ReadStoredValue(HKEY_LOCAL_MACHINE, kSessionManager, kParkedRenames);
    const std::string both = Narrow(std::wstring(
        reinterpret_cast<const wchar_t*>(
            ((pendingNow ? pendingNow->bytes : "") + (parkedNow ? parkedNow->bytes : "")).data()),
        ((pendingNow ? pendingNow->bytes.size() : 0) + (parkedNow ? parkedNow->bytes.size() : 0)) /
            2));
    for (const std::string& entry : scheduled) {
      EXPECT_NE(both.find(entry), std::string::npos) << entry << " lost";
      EXPECT_EQ(both.find(entry), both.rfind(entry)) << entry << " twice";
    }
    if (row.result == 0) {
      EXPECT_EQ(Get(kParkedRenames), parkedBefore) << "the parked value is as it was";
    } else {
      EXPECT_EQ(Get(restore ? kParkedRenames : kPendingRenames), std::nullopt);
    }
    if (row.change != kDelete) {
      for (const std::string& entry : {std::string("C:\\a"), std::string("C:\\c")}) {
        if (restore || entry == "C:\\a") {
          EXPECT_NE(both.find(entry), std::string::npos) << entry;
        }
      }
    }
  }
}

// Each failure leaves every entry in one of the two values, as the rules
// say; a later call with nothing failing ends as one whole call would.
TEST_F(PendingRenames, FailuresLoseNothingAndALaterCallFinishes) {
  const List a = M(kListA), b = M(kListB);
  const List joined = M(kA + kListB);
  // A system call that fails, and how: with its own status as its result, or
  // (for a call whose result is no status) with a null result and the status
  // as the last error.
  struct Failure {
    const char* function;
    int nth;  // 0: every call
    DWORD status;
    bool asLastError = false;
  };
  struct Row {  // as ListsRow, with the failure made
    const char* what;
    Operation operation;
    List parked = {}, pending = {};
    Failure failure;
    int result = 1;
    List parkedAfter = {}, pendingAfter = {};
  };
  const Row rows[] = {
      {.what = "restore without its merge block",
       .operation = kRestore,
       .parked = a,
       .pending = b,
       .failure = {.function = "GlobalAlloc",
                   .nth = 3,
                   .status = ERROR_NOT_ENOUGH_MEMORY,
                   .asLastError = true},
       .result = 0,
       .parkedAfter = a,
       .pendingAfter = b},
      {.what = "restore whose write fails",
       .operation = kRestore,
       .parked = a,
       .pending = b,
       .failure = {.function = "RegSetValueExW", .nth = 0, .status = ERROR_ACCESS_DENIED},
       .result = 0,
       .parkedAfter = a,
       .pendingAfter = b},
      {.what = "restore whose deletion fails",
       .operation = kRestore,
       .parked = a,
       .failure = {.function = "RegDeleteValueA", .nth = 0, .status = ERROR_ACCESS_DENIED},
       .parkedAfter = a,
       .pendingAfter = a},
      {.what = "backup whose write fails",
       .operation = kBackup,
       .pending = a,
       .failure = {.function = "RegSetValueExW", .nth = 0, .status = ERROR_ACCESS_DENIED},
       .result = 0,
       .pendingAfter = a},
      {.what = "backup whose deletion fails",
       .operation = kBackup,
       .pending = a,
       .failure = {.function = "RegDeleteValueA", .nth = 0, .status = ERROR_ACCESS_DENIED},
       .result = 0,
       .parkedAfter = a,
       .pendingAfter = a},
      {.what = "restore when the key cannot be opened",
       .operation = kRestore,
       .parked = a,
       .pending = b,
       .failure = {.function = "RegOpenKeyExA", .nth = 0, .status = ERROR_ACCESS_DENIED},
       .result = 0,
       .parkedAfter = a,
       .pendingAfter = b},
      {.what = "backup when the key cannot be opened",
       .operation = kBackup,
       .pending = a,
       .failure = {.function = "RegOpenKeyExA", .nth = 0, .status = ERROR_ACCESS_DENIED},
       .result = 0,
       .pendingAfter = a},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Put(kParkedRenames, row.parked);
    Put(kPendingRenames, row.pending);
    const Failure& failure = row.failure;
    if (failure.asLastError) {
      hook().Fail(failure.function, failure.nth, 0, failure.status);
    } else {
      hook().Fail(failure.function, failure.nth, failure.status);
    }
    EXPECT_EQ(Call(row.operation), row.result);
    hook().ClearRules();
    EXPECT_EQ(Get(kParkedRenames), row.parkedAfter);
    EXPECT_EQ(Get(kPendingRenames), row.pendingAfter);
    EXPECT_EQ(Call(row.operation), 1) << "the later call";
    const bool restore = row.operation == kRestore;
    const List whole = restore ? (row.pending ? joined : a) : a;
    EXPECT_EQ(Get(restore ? kPendingRenames : kParkedRenames), whole);
    EXPECT_EQ(Get(restore ? kParkedRenames : kPendingRenames), std::nullopt);
  }
}

}  // namespace
}  // namespace qmis_test
