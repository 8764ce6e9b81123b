// Parking the pending rename list and merging it back. The machine's own
// values are saved before each test and put back after it.
#include <gmock/gmock.h>

#include <string>
#include <utility>
#include <vector>

#include "library_test.h"
#include "programs.h"
#include "temp_dir.h"

namespace qmis_test {
namespace {

void Put(const std::string& name, const std::optional<RegValue>& value) {
  PutValue(HKEY_LOCAL_MACHINE, kSessionManager, name, value);
}

std::optional<RegValue> Get(const std::string& name) {
  return ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, name);
}

RegValue MultiSz(const std::string& bytes) { return {REG_MULTI_SZ, bytes}; }

class PendingRenames : public LibraryTest {
 protected:
  SavedRenameLists lists_;
};

const std::string kListA = std::string("\\??\\C:\\a\0\\??\\C:\\b\0\0", 20);
const std::string kListB = std::string("\\??\\C:\\c\0\0\0", 11);

TEST_F(PendingRenames, BackupThenRestoreGivesTheSameList) {
  Put(kPendingRenames, MultiSz(kListA));
  EXPECT_EQ(api().BackupPendingFileRename(), 1);
  EXPECT_EQ(Get(kPendingRenames), std::nullopt);
  EXPECT_EQ(Get(kParkedRenames), MultiSz(kListA));
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  EXPECT_EQ(Get(kPendingRenames), MultiSz(kListA));
  EXPECT_EQ(Get(kParkedRenames), std::nullopt);
}

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

TEST_F(PendingRenames, RestoreWritesTheParkedTypeAndDropsItsLastByte) {
  Put(kParkedRenames, RegValue{REG_BINARY, "ab"});  // last byte not zero: it goes all the same
  Put(kPendingRenames, MultiSz(kListB));
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  EXPECT_EQ(Get(kPendingRenames), (RegValue{REG_BINARY, "a" + kListB}));
}

TEST_F(PendingRenames, NothingParkedOrNothingPendingReturnsZero) {
  Put(kPendingRenames, MultiSz(kListA));
  EXPECT_EQ(api().RestorePendingFileRename(), 0);
  EXPECT_EQ(Get(kPendingRenames), MultiSz(kListA));
  Put(kPendingRenames, std::nullopt);
  Put(kParkedRenames, MultiSz(kListB));
  EXPECT_EQ(api().BackupPendingFileRename(), 0);
  EXPECT_EQ(Get(kParkedRenames), MultiSz(kListB));
}

TEST_F(PendingRenames, SecondBackupKeepsTheEarlierParkedEntriesInFront) {
  Put(kParkedRenames, MultiSz(kListA));
  Put(kPendingRenames, MultiSz(kListB));
  EXPECT_EQ(api().BackupPendingFileRename(), 1);
  EXPECT_EQ(Get(kParkedRenames), MultiSz(kListA.substr(0, kListA.size() - 1) + kListB));
  EXPECT_EQ(Get(kPendingRenames), std::nullopt);
}

// A backup or a restore cut off between its write and its deletion leaves
// both values; the same call again ends as one whole call would, while lists
// that merely share entries are still joined.
TEST_F(PendingRenames, CallAgainAfterACutOffEndsAsOneWholeCall) {
  const std::string a = kListA.substr(0, kListA.size() - 1);
  struct Row {
    const char* what;
    bool restore;
    std::string parked, pending, result;
  };
  const Row rows[] = {
      {"backup cut off, nothing parked before", false, kListA, kListA, kListA},
      {"backup cut off behind an earlier parked list", false, a + kListB, kListB, a + kListB},
      {"backup after a cut-off restore", false, kListA, a + kListB, a + kListB},
      {"restore cut off, nothing pending before", true, kListA, kListA, kListA},
      {"restore cut off before newer entries", true, kListA, a + kListB, a + kListB},
      {"restore after a cut-off backup", true, a + kListB, kListB, a + kListB},
      {"parked entries after other pending ones", true, kListA, kListB.substr(0, 10) + kListA,
       a + kListB.substr(0, 10) + kListA},
      {"pending holds the parked list's last entry, then another", true, a + kListB,
       kListB.substr(0, 10) + kListA, a + kListB.substr(0, 10) + kListB.substr(0, 10) + kListA},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Put(kParkedRenames, MultiSz(row.parked));
    Put(kPendingRenames, MultiSz(row.pending));
    EXPECT_EQ(row.restore ? api().RestorePendingFileRename() : api().BackupPendingFileRename(), 1);
    EXPECT_EQ(Get(row.restore ? kPendingRenames : kParkedRenames), MultiSz(row.result));
    EXPECT_EQ(Get(row.restore ? kParkedRenames : kPendingRenames), std::nullopt);
  }
}

TEST_F(PendingRenames, BackupWhoseJoinedListWouldNotReadBackIsRefused) {
  const RegValue parked = MultiSz(std::string(40000, 'x') + std::string(2, '\0'));
  const RegValue pending = MultiSz(std::string(40000, 'y') + std::string(2, '\0'));
  Put(kParkedRenames, parked);
  Put(kPendingRenames, pending);
  EXPECT_EQ(api().BackupPendingFileRename(), 0);
  EXPECT_EQ(Get(kParkedRenames), parked);
  EXPECT_EQ(Get(kPendingRenames), pending);
}

// Each list is read whole up to 65,536 bytes: at exactly that size it is
// parked and merged back; one byte more and the call refuses, moving nothing.
TEST_F(PendingRenames, ListsOfExactly64KiBMoveAndOneByteMoreDoNot) {
  for (const size_t size : {size_t{0x10000}, size_t{0x10001}}) {
    SCOPED_TRACE(size);
    const int moved = size == 0x10000 ? 1 : 0;
    const RegValue list = MultiSz(std::string(size - 2, 'x') + std::string(2, '\0'));
    Put(kParkedRenames, std::nullopt);
    Put(kPendingRenames, list);
    EXPECT_EQ(api().BackupPendingFileRename(), moved);
    EXPECT_EQ(Get(moved ? kParkedRenames : kPendingRenames), list);
    Put(kParkedRenames, list);
    Put(kPendingRenames, std::nullopt);
    EXPECT_EQ(api().RestorePendingFileRename(), moved);
    EXPECT_EQ(Get(moved ? kPendingRenames : kParkedRenames), list);
  }
}

TEST_F(PendingRenames, LargePendingListIsMergedWhole) {
  const RegValue big = MultiSz(std::string(70000, 'y') + std::string(2, '\0'));
  Put(kParkedRenames, MultiSz(kListA));
  Put(kPendingRenames, big);
  EXPECT_EQ(api().BackupPendingFileRename(), 0);  // too large to park
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  EXPECT_EQ(Get(kPendingRenames), MultiSz(kListA.substr(0, kListA.size() - 1) + big.bytes));
  EXPECT_EQ(Get(kParkedRenames), std::nullopt);
}

TEST_F(PendingRenames, EmptyParkedValueLeavesThePendingListAsItIs) {
  Put(kParkedRenames, MultiSz(""));
  Put(kPendingRenames, MultiSz(kListB));
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  EXPECT_EQ(Get(kPendingRenames), MultiSz(kListB));
  EXPECT_EQ(Get(kParkedRenames), std::nullopt);
}

// Each failure leaves every entry in one of the two values, as the rules
// say; a later call with nothing failing ends as one whole call would.
TEST_F(PendingRenames, FailuresLoseNothingAndALaterCallFinishes) {
  const std::optional<RegValue> a = MultiSz(kListA), b = MultiSz(kListB), none;
  const std::optional<RegValue> joined = MultiSz(kListA.substr(0, kListA.size() - 1) + kListB);
  struct Row {
    const char* what;
    bool restore;
    std::optional<RegValue> parked, pending;  // before
    const char* failed;
    int nth;
    DWORD failure;
    int result;
    std::optional<RegValue> parkedAfter, pendingAfter;
  };
  const Row rows[] = {
      {"restore without its merge block", true, a, b, "GlobalAlloc", 3, 0, 0, a, b},
      {"restore whose write fails", true, a, b, "RegSetValueExA", 0, ERROR_ACCESS_DENIED, 0, a, b},
      {"restore whose deletion fails", true, a, none, "RegDeleteValueA", 0, ERROR_ACCESS_DENIED, 1,
       a, a},
      {"backup whose write fails", false, none, a, "RegSetValueExA", 0, ERROR_ACCESS_DENIED, 0,
       none, a},
      {"backup whose deletion fails", false, none, a, "RegDeleteValueA", 0, ERROR_ACCESS_DENIED, 0,
       a, a},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto call = [&] {
      return row.restore ? api().RestorePendingFileRename() : api().BackupPendingFileRename();
    };
    Put(kParkedRenames, row.parked);
    Put(kPendingRenames, row.pending);
    if (row.failure == 0) {
      hook().Fail(row.failed, row.nth, 0, ERROR_NOT_ENOUGH_MEMORY);
    } else {
      hook().Fail(row.failed, row.nth, row.failure);
    }
    EXPECT_EQ(call(), row.result);
    hook().ClearRules();
    EXPECT_EQ(Get(kParkedRenames), row.parkedAfter);
    EXPECT_EQ(Get(kPendingRenames), row.pendingAfter);
    EXPECT_EQ(call(), 1) << "the later call";
    const std::optional<RegValue> whole = row.restore ? (row.pending ? joined : a) : a;
    EXPECT_EQ(Get(row.restore ? kPendingRenames : kParkedRenames), whole);
    EXPECT_EQ(Get(row.restore ? kParkedRenames : kPendingRenames), std::nullopt);
  }
}

TEST_F(PendingRenames, KeyThatCannotBeOpenedReturnsZero) {
  Put(kPendingRenames, MultiSz(kListA));
  Put(kParkedRenames, MultiSz(kListB));
  hook().Fail("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(api().BackupPendingFileRename(), 0);
  EXPECT_EQ(api().RestorePendingFileRename(), 0);
  EXPECT_EQ(Get(kPendingRenames), MultiSz(kListA));
  EXPECT_EQ(Get(kParkedRenames), MultiSz(kListB));
}

}  // namespace
}  // namespace qmis_test
