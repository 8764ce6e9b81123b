// Parking the pending rename list and merging it back. The machine's own
// values are saved before each test and put back after it.
#include <gmock/gmock.h>

#include <string>

#include "library_test.h"
#include "temp_dir.h"

namespace qmis_test {
namespace {

const std::string kSession = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const std::string kPending = "PendingFileRenameOperations";
const std::string kParked = "PostponedFileRenameOperations";

void Put(const std::string& name, const std::optional<RegValue>& value) {
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSession.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (value) {
    RegSetValueExA(key, name.c_str(), 0, value->type,
                   reinterpret_cast<const BYTE*>(value->bytes.data()),
                   static_cast<DWORD>(value->bytes.size()));
  } else {
    RegDeleteValueA(key, name.c_str());
  }
  RegCloseKey(key);
}

std::optional<RegValue> Get(const std::string& name) {
  return ReadValue(HKEY_LOCAL_MACHINE, kSession, name);
}

RegValue MultiSz(const std::string& bytes) { return {REG_MULTI_SZ, bytes}; }

class PendingRenames : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    savedPending_ = Get(kPending);
    savedParked_ = Get(kParked);
    Put(kPending, std::nullopt);
    Put(kParked, std::nullopt);
  }
  void TearDown() override {
    Put(kPending, savedPending_);
    Put(kParked, savedParked_);
    LibraryTest::TearDown();
  }
  std::optional<RegValue> savedPending_;
  std::optional<RegValue> savedParked_;
};

const std::string kListA = std::string("\\??\\C:\\a\0\\??\\C:\\b\0\0", 20);
const std::string kListB = std::string("\\??\\C:\\c\0\0\0", 11);

TEST_F(PendingRenames, BackupThenRestoreGivesTheSameList) {
  Put(kPending, MultiSz(kListA));
  EXPECT_EQ(api().BackupPendingFileRename(), 1);
  EXPECT_EQ(Get(kPending), std::nullopt);
  EXPECT_EQ(Get(kParked), MultiSz(kListA));
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  EXPECT_EQ(Get(kPending), MultiSz(kListA));
  EXPECT_EQ(Get(kParked), std::nullopt);
}

TEST_F(PendingRenames, RenameScheduledMeanwhileFollowsTheParkedEntries) {
  TempDir dir;
  dir.File("from.txt", 1);
  Put(kPending, MultiSz(kListA));
  ASSERT_EQ(api().BackupPendingFileRename(), 1);
  ASSERT_TRUE(MoveFileExA((dir / "from.txt").c_str(), (dir / "to.txt").c_str(),
                          MOVEFILE_DELAY_UNTIL_REBOOT));
  const RegValue scheduled = *Get(kPending);
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  const RegValue merged = *Get(kPending);
  EXPECT_EQ(merged.type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(merged.bytes.size(), kListA.size() + scheduled.bytes.size());
  EXPECT_EQ(merged.bytes, kListA.substr(0, kListA.size() - 1) + scheduled.bytes + '\0');
  Put(kPending, std::nullopt);  // never carried out
}

TEST_F(PendingRenames, RestoreWritesTheParkedTypeAndDropsItsLastByte) {
  Put(kParked, RegValue{REG_BINARY, "ab"});  // last byte not zero: it goes all the same
  Put(kPending, MultiSz(kListB));
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  EXPECT_EQ(Get(kPending), (RegValue{REG_BINARY, "a" + kListB + '\0'}));
}

TEST_F(PendingRenames, NothingParkedOrNothingPendingReturnsZero) {
  Put(kPending, MultiSz(kListA));
  EXPECT_EQ(api().RestorePendingFileRename(), 0);
  EXPECT_EQ(Get(kPending), MultiSz(kListA));
  Put(kPending, std::nullopt);
  Put(kParked, MultiSz(kListB));
  EXPECT_EQ(api().BackupPendingFileRename(), 0);
  EXPECT_EQ(Get(kParked), MultiSz(kListB));
}

TEST_F(PendingRenames, SecondBackupKeepsTheEarlierParkedEntriesInFront) {
  Put(kParked, MultiSz(kListA));
  Put(kPending, MultiSz(kListB));
  EXPECT_EQ(api().BackupPendingFileRename(), 1);
  EXPECT_EQ(Get(kParked), MultiSz(kListA.substr(0, kListA.size() - 1) + kListB + '\0'));
  EXPECT_EQ(Get(kPending), std::nullopt);
}

TEST_F(PendingRenames, BackupWhoseJoinedListWouldNotReadBackIsRefused) {
  const RegValue big = MultiSz(std::string(40000, 'x') + std::string(2, '\0'));
  Put(kParked, big);
  Put(kPending, big);
  EXPECT_EQ(api().BackupPendingFileRename(), 0);
  EXPECT_EQ(Get(kParked), big);
  EXPECT_EQ(Get(kPending), big);
}

TEST_F(PendingRenames, LargePendingListIsMergedWhole) {
  const RegValue big = MultiSz(std::string(70000, 'y') + std::string(2, '\0'));
  Put(kParked, MultiSz(kListA));
  Put(kPending, big);
  EXPECT_EQ(api().BackupPendingFileRename(), 0);  // too large to park
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  EXPECT_EQ(Get(kPending), MultiSz(kListA.substr(0, kListA.size() - 1) + big.bytes + '\0'));
  EXPECT_EQ(Get(kParked), std::nullopt);
}

TEST_F(PendingRenames, EmptyParkedValueLeavesThePendingListAsItIs) {
  Put(kParked, MultiSz(""));
  Put(kPending, MultiSz(kListB));
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  EXPECT_EQ(Get(kPending), MultiSz(kListB));
  EXPECT_EQ(Get(kParked), std::nullopt);
}

TEST_F(PendingRenames, RestoreThatCannotMergeOrWriteChangesNothing) {
  Put(kParked, MultiSz(kListA));
  Put(kPending, MultiSz(kListB));
  hook().Fail("GlobalAlloc", 3, 0, ERROR_NOT_ENOUGH_MEMORY);  // the merge block
  EXPECT_EQ(api().RestorePendingFileRename(), 0);
  EXPECT_EQ(Get(kParked), MultiSz(kListA));
  EXPECT_EQ(Get(kPending), MultiSz(kListB));

  hook().ClearRules();
  hook().Fail("RegSetValueExA", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(api().RestorePendingFileRename(), 0);
  EXPECT_EQ(Get(kParked), MultiSz(kListA));
  EXPECT_EQ(Get(kPending), MultiSz(kListB));

  hook().ClearRules();
  EXPECT_EQ(api().RestorePendingFileRename(), 1);  // a later restore succeeds
  EXPECT_EQ(Get(kPending), MultiSz(kListA.substr(0, kListA.size() - 1) + kListB + '\0'));
}

TEST_F(PendingRenames, RestoreWhoseDeletionFailsStillReturnsOne) {
  Put(kParked, MultiSz(kListA));
  hook().Fail("RegDeleteValueA", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(api().RestorePendingFileRename(), 1);
  EXPECT_EQ(Get(kPending), MultiSz(kListA));
  EXPECT_EQ(Get(kParked), MultiSz(kListA));
}

TEST_F(PendingRenames, BackupFailuresLoseNothing) {
  Put(kPending, MultiSz(kListA));
  hook().Fail("RegSetValueExA", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(api().BackupPendingFileRename(), 0);
  EXPECT_EQ(Get(kPending), MultiSz(kListA));
  EXPECT_EQ(Get(kParked), std::nullopt);

  hook().ClearRules();
  hook().Fail("RegDeleteValueA", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(api().BackupPendingFileRename(), 0);
  EXPECT_EQ(Get(kPending), MultiSz(kListA));
  EXPECT_EQ(Get(kParked), MultiSz(kListA));
}

TEST_F(PendingRenames, KeyThatCannotBeOpenedReturnsZero) {
  Put(kPending, MultiSz(kListA));
  Put(kParked, MultiSz(kListB));
  hook().Fail("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(api().BackupPendingFileRename(), 0);
  EXPECT_EQ(api().RestorePendingFileRename(), 0);
  EXPECT_EQ(Get(kPending), MultiSz(kListA));
  EXPECT_EQ(Get(kParked), MultiSz(kListB));
}

}  // namespace
}  // namespace qmis_test
