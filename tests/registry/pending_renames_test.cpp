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

class PendingRenames : public LibraryTest {
 protected:
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

// Each call leaves the lists its rules give. A backup or a restore cut off
// between its write and its deletion leaves both values: the same call again
// ends as one whole call would, while lists that merely share entries are
// still joined. Each list is read whole up to 65,536 bytes; one byte more and
// it is not parked, nor a parked one merged back.
TEST_F(PendingRenames, EachCallLeavesTheListsItsRulesGive) {
  using List = std::optional<RegValue>;
  const List none;
  auto m = [](const std::string& bytes) -> List { return MultiSz(bytes); };
  auto filled = [](size_t size, char c) { return std::string(size - 2, c) + std::string(2, '\0'); };
  const std::string a = kListA.substr(0, kListA.size() - 1), b = kListB.substr(0, 10);
  const std::string limit = filled(0x10000, 'x'), over = filled(0x10001, 'x');
  // 64 KiB joined, and one byte more.
  const std::string x32k = filled(32768, 'x'), y32k = filled(32769, 'y'),
                    y32k1 = filled(32770, 'y');
  const std::string x40k = filled(40002, 'x'), y40k = filled(40002, 'y'), y70k = filled(70002, 'y');
  struct Row {
    const char* what;
    bool restore;
    List parked, pending;  // before
    int result;
    List parkedAfter, pendingAfter;
  };
  const Row rows[] = {
      {"backup", false, none, m(kListA), 1, m(kListA), none},
      {"restore, nothing scheduled since", true, m(kListA), none, 1, none, m(kListA)},
      // The lists are joined as stored, in UTF-16: the parked list's last two
      // bytes go, whatever they hold.
      {"restore: the parked type, its last two bytes dropped even when not zero", true,
       RegValue{REG_BINARY, "abcd"}, m(kListB), 1, none,
       RegValue{REG_BINARY, "ab" + Utf16Bytes(kListB)}},
      {"restore, nothing parked", true, none, m(kListA), 0, none, m(kListA)},
      {"backup, nothing pending", false, m(kListB), none, 0, m(kListB), none},
      {"second backup: the earlier parked entries in front", false, m(kListA), m(kListB), 1,
       m(a + kListB), none},
      {"restore, an empty parked value", true, m(""), m(kListB), 1, none, m(kListB)},
      {"backup cut off, nothing parked before", false, m(kListA), m(kListA), 1, m(kListA), none},
      {"backup cut off behind an earlier parked list", false, m(a + kListB), m(kListB), 1,
       m(a + kListB), none},
      {"backup after a cut-off restore", false, m(kListA), m(a + kListB), 1, m(a + kListB), none},
      {"restore cut off, nothing pending before", true, m(kListA), m(kListA), 1, none, m(kListA)},
      {"restore cut off before newer entries", true, m(kListA), m(a + kListB), 1, none,
       m(a + kListB)},
      {"restore after a cut-off backup", true, m(a + kListB), m(kListB), 1, none, m(a + kListB)},
      {"parked entries after other pending ones", true, m(kListA), m(b + kListA), 1, none,
       m(a + b + kListA)},
      {"pending holds the parked list's last entry, then another", true, m(a + kListB),
       m(b + kListA), 1, none, m(a + b + b + kListA)},
      {"backup whose joined list would not read back", false, m(x40k), m(y40k), 0, m(x40k),
       m(y40k)},
      {"second backup joining to exactly 64 KiB", false, m(x32k), m(y32k), 1,
       m(x32k.substr(0, 32767) + y32k), none},
      {"second backup joining to one byte more", false, m(x32k), m(y32k1), 0, m(x32k), m(y32k1)},
      {"backup of a list over 64 KiB", false, m(kListA), m(y70k), 0, m(kListA), m(y70k)},
      {"restore beside a pending list over 64 KiB", true, m(kListA), m(y70k), 1, none, m(a + y70k)},
      {"backup of exactly 64 KiB", false, none, m(limit), 1, m(limit), none},
      {"backup of one byte more", false, none, m(over), 0, none, m(over)},
      {"restore of exactly 64 KiB", true, m(limit), none, 1, none, m(limit)},
      {"restore of one byte more", true, m(over), none, 0, m(over), none},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Put(kParkedRenames, row.parked);
    Put(kPendingRenames, row.pending);
    EXPECT_EQ(row.restore ? api().RestorePendingFileRename() : api().BackupPendingFileRename(),
              row.result);
    EXPECT_EQ(Get(kParkedRenames), row.parkedAfter);
    EXPECT_EQ(Get(kPendingRenames), row.pendingAfter);
  }
}

// Another program schedules a rename while a backup or a restore runs: once,
// right after the call first read the pending list, or after every read of
// it. The call reads the list again just before it deletes or
// writes over it and takes in what was added; a list that grows on every
// read makes it give up, after a bounded number of reads, with nothing
// deleted or written over.
TEST_F(PendingRenames, RenamesScheduledWhileACallRunsAreKept) {
  struct Row {
    const char* what;
    bool restore, always;
    int result;
  };
  const Row rows[] = {
      {"backup, one rename meanwhile", false, false, 1},
      {"backup, a rename after every read", false, true, 0},
      {"restore, one rename meanwhile", true, false, 1},
      {"restore, a rename after every read", true, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Put(kParkedRenames, row.restore ? std::optional<RegValue>(MultiSz(kListA)) : std::nullopt);
    Put(kPendingRenames, MultiSz(row.restore ? kListB : kListA));
    int reads = 0;
    std::vector<std::string> scheduled;
    hook().Replace("RegQueryValueExW", [&](const uint32_t* a) -> uint32_t {
      const uint32_t status = hook().CallReal("RegQueryValueExW", a);
      const bool readOfPending =
          a[4] != 0 && a[1] != 0 && Wide(kPendingRenames) == reinterpret_cast<const wchar_t*>(a[1]);
      if (readOfPending && (++reads == 1 || row.always)) {
        scheduled.push_back("C:\\qmis-meanwhile-" + std::to_string(reads));
        MoveFileExA(scheduled.back().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      }
      return status;
    });
    const auto parkedBefore = Get(kParkedRenames);
    EXPECT_EQ(row.restore ? api().RestorePendingFileRename() : api().BackupPendingFileRename(),
              row.result);
    hook().ClearRules();
    EXPECT_LE(reads, 10) << "the reads are bounded";
    const std::string pending = Get(kPendingRenames) ? Get(kPendingRenames)->bytes : "";
    const std::string parked = Get(kParkedRenames) ? Get(kParkedRenames)->bytes : "";
    for (const std::string& entry : scheduled)
      EXPECT_EQ((pending + parked).find(entry), (pending + parked).rfind(entry))
          << entry << " twice";
    for (const std::string& entry : scheduled) {
      EXPECT_NE((pending + parked).find(entry), std::string::npos) << entry << " lost";
    }
    if (row.result == 0) {
      EXPECT_EQ(Get(kParkedRenames), parkedBefore) << "the parked value is as it was";
    } else {
      EXPECT_EQ(Get(row.restore ? kParkedRenames : kPendingRenames), std::nullopt);
    }
    for (const std::string& entry : {std::string("C:\\a"), std::string("C:\\c")}) {
      if (row.restore || entry == "C:\\a") {
        EXPECT_NE((pending + parked).find(entry), std::string::npos) << entry << " lost";
      }
    }
  }
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
      {"restore whose write fails", true, a, b, "RegSetValueExW", 0, ERROR_ACCESS_DENIED, 0, a, b},
      {"restore whose deletion fails", true, a, none, "RegDeleteValueA", 0, ERROR_ACCESS_DENIED, 1,
       a, a},
      {"backup whose write fails", false, none, a, "RegSetValueExW", 0, ERROR_ACCESS_DENIED, 0,
       none, a},
      {"backup whose deletion fails", false, none, a, "RegDeleteValueA", 0, ERROR_ACCESS_DENIED, 0,
       a, a},
      {"restore when the key cannot be opened", true, a, b, "RegOpenKeyExA", 0, ERROR_ACCESS_DENIED,
       0, a, b},
      {"backup when the key cannot be opened", false, none, a, "RegOpenKeyExA", 0,
       ERROR_ACCESS_DENIED, 0, none, a},
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

}  // namespace
}  // namespace qmis_test
