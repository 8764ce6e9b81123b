// Shared keys with claim bits under HKLM\SOFTWARE\Quillmoor.
#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "call_child.h"
#include "library_test.h"
#include "temp_dir.h"

namespace qmis_test {
namespace {

using ::testing::ElementsAre;

class SharedKeys : public LibraryTest {
 protected:
  std::string NewProduct(const std::string& stem) { return sandbox_.NewProduct(stem); }
  std::string NewSharedKey(const std::string& stem) { return sandbox_.NewSharedKey(stem); }

  int Claim(std::string product, std::string key, DWORD bits) {
    return api().SetRefcountedKey(product.data(), key.data(), bits);
  }
  LONG Release(std::string product) { return api().RemoveRefcountedKeys(product.data()); }

  std::optional<RegValue> Mask(const std::string& key) {
    return ReadValue(HKEY_LOCAL_MACHINE, SharedKeyPath(key), kClaimMask);
  }
};

TEST_F(SharedKeys, TwoProductsShareAKeyUntilTheLastRelease) {
  const std::string a = NewProduct("A"), b = NewProduct("B"), k = NewSharedKey("K");
  EXPECT_EQ(Claim(a, k, 1), 1);
  EXPECT_EQ(Claim(b, k, 2), 1);
  SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(k) + "\\sub", "data", Sz("kept with the key"));
  EXPECT_EQ(Mask(k), Dword(3));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, ClaimListPath(a), k), Dword(1));

  EXPECT_EQ(Release(a), 0);  // the claim list was deleted
  EXPECT_EQ(Mask(k), Dword(2));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ClaimListPath(a)));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ProductPath(a)));

  EXPECT_EQ(Release(b), 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SharedKeyPath(k)));
  EXPECT_EQ(Release(b), 1);  // nothing left to release
}

TEST_F(SharedKeys, SameProductClaimingTwiceReplacesItsEntryButOrsTheMask) {
  const std::string p = NewProduct("P"), k = NewSharedKey("K");
  EXPECT_EQ(Claim(p, k, 1), 1);
  EXPECT_EQ(Claim(p, k, 2), 1);
  EXPECT_EQ(Mask(k), Dword(3));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, ClaimListPath(p), k), Dword(2));
  EXPECT_EQ(Release(p), 0);
  EXPECT_EQ(Mask(k), Dword(1));
}

TEST_F(SharedKeys, PathOfTwoKeysReleasesOnlyTheLast) {
  const std::string p = NewProduct("P"), x = NewSharedKey("X");
  EXPECT_EQ(Claim(p, x + "\\Y", 4), 1);
  EXPECT_EQ(Mask(x + "\\Y"), Dword(4));
  EXPECT_EQ(Release(p), 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SharedKeyPath(x + "\\Y")));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, SharedKeyPath(x)));
}

// A claim over whatever mask the key holds, then the release: the entry is
// written first in every case, and the whole list goes at the release.
TEST_F(SharedKeys, EachClaimOverTheMaskFoundAndItsRelease) {
  const RegValue binary{REG_BINARY, std::string("\x01\x00\x00\x00", 4)};
  struct Row {
    const char* what;
    std::optional<RegValue> before;  // beside another value
    DWORD bits;
    int result;
    RegValue after;
    bool keyStays;  // after the release
  };
  const Row rows[] = {
      {"no mask yet", std::nullopt, 8, 1, Dword(8), false},
      {"a mask of another type is left alone", binary, 2, 0, binary, true},
      {"a mask longer than four bytes is written over",
       RegValue{REG_BINARY, std::string(8, '\x7f')}, 2, 1, Dword(2), false},
      {"a zero claim on no mask: the key goes all the same", std::nullopt, 0, 1, Dword(0), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string p = NewProduct("P"), k = NewSharedKey("K");
    SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(k), "other", Sz("x"));
    PutValue(HKEY_LOCAL_MACHINE, SharedKeyPath(k), kClaimMask, row.before);
    EXPECT_EQ(Claim(p, k, row.bits), row.result);
    EXPECT_EQ(Mask(k), row.after);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, ClaimListPath(p), k), Dword(row.bits));
    EXPECT_EQ(Release(p), 0);
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, SharedKeyPath(k)), row.keyStays);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ClaimListPath(p)));
  }
}

// Only a REG_DWORD mask is a claim mask: a key whose mask is missing or of
// another type (even four bytes holding the product's bit) stays, its value
// as it was; the product's list goes.
TEST_F(SharedKeys, MissingOrMalformedRefcountKeepsTheKeyAtRelease) {
  const std::string bit("\1\0\0\0", 4);
  const std::optional<RegValue> masks[] = {
      std::nullopt, RegValue{REG_QWORD, std::string(8, '\0')}, RegValue{REG_BINARY, bit},
      RegValue{REG_DWORD_BIG_ENDIAN, bit}, RegValue{REG_NONE, bit}};
  for (const std::optional<RegValue>& mask : masks) {
    SCOPED_TRACE(mask ? mask->type : REG_NONE);
    const std::string p = NewProduct("P"), k = NewSharedKey("K");
    EXPECT_EQ(Claim(p, k, 1), 1);
    PutValue(HKEY_LOCAL_MACHINE, SharedKeyPath(k), kClaimMask, mask);
    EXPECT_EQ(Release(p), 0);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, SharedKeyPath(k)));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, SharedKeyPath(k), kClaimMask), mask);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ClaimListPath(p)));
  }
}

TEST_F(SharedKeys, ProductThatNeverClaimedChangesNothing) {
  const std::string p = NewProduct("P");
  EXPECT_EQ(Release(p), 1);
  EXPECT_EQ(hook().Count("RegDeleteKeyA"), 0);
}

TEST_F(SharedKeys, EntriesThatAreNotWholeDwordsAreSkippedButGoWithTheList) {
  const std::string p = NewProduct("P"), k = NewSharedKey("K");
  EXPECT_EQ(Claim(p, k, 1), 1);
  SetValue(HKEY_LOCAL_MACHINE, ClaimListPath(p), k, Sz("1"));  // not a REG_DWORD
  // The default value names no key: it would name the maker's root itself.
  SetValue(HKEY_LOCAL_MACHINE, ClaimListPath(p), "", Dword(1));
  hook().ClearLog();
  EXPECT_EQ(Release(p), 0);
  const std::vector<Call> opens = hook().Calls("RegOpenKeyExA");
  ASSERT_FALSE(opens.empty());
  for (const Call& open : opens) EXPECT_NE(KeyPath(open), "");
  EXPECT_EQ(Mask(k), Dword(1));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ClaimListPath(p)));
}

TEST_F(SharedKeys, MissingMakerRootReturnsOneAndKeepsTheList) {
  const std::string p = NewProduct("P"), k = NewSharedKey("K");
  EXPECT_EQ(Claim(p, k, 1), 1);
  hook().Replace("RegOpenKeyExA", [this](const uint32_t* a) -> uint32_t {
    if (SubKeyArgument(a) == kMaker) return ERROR_FILE_NOT_FOUND;
    return hook().CallReal("RegOpenKeyExA", a);
  });
  EXPECT_EQ(Release(p), 1);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, ClaimListPath(p), k), Dword(1));
  EXPECT_EQ(Mask(k), Dword(1));
}

TEST_F(SharedKeys, ClaimFailuresLeaveWhatTheRulesSay) {
  struct Row {
    const char* what;
    const char* failed;  // every call when nth is 0
    int nth;
    std::optional<RegValue> maskBefore;
    int result;
    std::optional<RegValue> entry, mask;  // the claim list's entry and the mask after
    bool sharedKeyMade;
  };
  const Row rows[] = {
      {"the claim list cannot be made", "RegCreateKeyExA", 1, {}, 0, {}, {}, false},
      {"the shared key cannot be made", "RegCreateKeyExA", 2, {}, 0, Dword(4), {}, false},
      // A claim that was not recorded, or whose mask was not written, is no
      // claim: 0. The list's entry stays beside a mask that failed.
      {"the claim list's entry cannot be written", "RegSetValueExA", 1, {}, 0, {}, {}, false},
      {"the mask cannot be written", "RegSetValueExA", 2, Dword(8), 0, Dword(4), Dword(8), true},
      {"a mask that cannot be read is not written over", "RegQueryValueExA", 1, Dword(8), 0,
       Dword(4), Dword(8), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string p = NewProduct("P"), k = NewSharedKey("K");
    if (row.maskBefore) SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(k), kClaimMask, *row.maskBefore);
    hook().Fail(row.failed, row.nth, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Claim(p, k, 4), row.result);
    hook().ClearRules();
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, ClaimListPath(p), k), row.entry);
    EXPECT_EQ(Mask(k), row.mask);
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, SharedKeyPath(k)), row.sharedKeyMade);
  }
}

TEST_F(SharedKeys, ReleaseFailuresGiveTheStatedResults) {
  // Fails the deletion of the key named `name` (any key when empty), and
  // the product key's open with full access when asked.
  auto failDeletion = [this](const std::string& name) {
    hook().Replace("RegDeleteKeyA", [this, name](const uint32_t* a) -> uint32_t {
      if (name.empty() || name == SubKeyArgument(a)) return ERROR_ACCESS_DENIED;
      return hook().CallReal("RegDeleteKeyA", a);
    });
  };
  struct Row {
    const char* what;
    std::string failedDeletion;
    bool productKeyOpens;
    bool sharedKeyStays, listStays;
  };
  const Row rows[] = {
      // That deletion's status is the result when the product key cannot be opened.
      {"a shared key's deletion fails", "", false, true, true},
      {"only the list's deletion fails", "RefcountList", true, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string p = NewProduct("P"), k = NewSharedKey("K");
    ASSERT_EQ(Claim(p, k, 1), 1);
    failDeletion(row.failedDeletion);
    if (!row.productKeyOpens) {
      hook().Replace("RegOpenKeyExA", [this, p](const uint32_t* a) -> uint32_t {
        if (OpenedRights(a) == KEY_ALL_ACCESS && ProductPath(p) == SubKeyArgument(a))
          return ERROR_ACCESS_DENIED;
        return hook().CallReal("RegOpenKeyExA", a);
      });
    }
    EXPECT_EQ(Release(p), ERROR_ACCESS_DENIED);
    hook().ClearRules();
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, SharedKeyPath(k)), row.sharedKeyStays);
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, ClaimListPath(p)), row.listStays);
  }
}

TEST_F(SharedKeys, ClaimListDeletedDuringTheWalkEndsIt) {
  const std::string p = NewProduct("P"), k1 = NewSharedKey("K1"), k2 = NewSharedKey("K2");
  EXPECT_EQ(Claim(p, k1, 1), 1);
  EXPECT_EQ(Claim(p, k2, 1), 1);
  hook().Replace(
      "RegEnumValueW",
      [this, p](const uint32_t* a) -> uint32_t {
        DeleteTree(HKEY_LOCAL_MACHINE, ClaimListPath(p));
        return hook().CallReal("RegEnumValueW", a);
      },
      2);
  EXPECT_EQ(Release(p), ERROR_FILE_NOT_FOUND);  // the list was already gone
  EXPECT_LE(hook().Count("RegEnumValueW"), 3);
}

// Where each call stands in the hook's record, by function and a string
// argument it was given.
size_t IndexOf(const std::vector<Call>& log, const std::string& function,
               const std::string& text = "") {
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].function != function) continue;
    for (const std::string& s : log[i].strings)
      if (text.empty() || s.find(text) != std::string::npos) return i;
  }
  return log.size();
}

TEST_F(SharedKeys, TheLockIsHeldAroundEveryMaskChangeAndGivenBack) {
  const std::string p = NewProduct("P"), k = NewSharedKey("K");
  enum class Operation { kClaim, kRelease };
  for (const Operation call : {Operation::kClaim, Operation::kRelease}) {
    const bool claim = call == Operation::kClaim;
    hook().ClearLog();
    EXPECT_EQ(claim ? Claim(p, k, 1) : Release(p), claim ? 1 : 0);
    const std::vector<Call> log = hook().Log();
    const size_t taken = IndexOf(log, "WaitForSingleObject");
    ASSERT_LT(taken, log.size());
    EXPECT_EQ(Timeout(log[taken]), 10000u) << "a bounded wait";
    EXPECT_EQ(IndexOf(log, "CreateMutexA", "Global\\QuillmoorSharedKeyClaims"), taken - 1);
    const size_t change =
        claim ? IndexOf(log, "RegSetValueExA", kClaimMask) : IndexOf(log, "RegDeleteKeyA", k);
    // A release takes the lock for each key: after the maker's root is open,
    // before the key's own open.
    EXPECT_LT(taken, claim ? IndexOf(log, "RegCreateKeyExA", SharedKeyPath(k))
                           : IndexOf(log, "RegOpenKeyExA", k));
    if (!claim) {
      EXPECT_GT(taken, IndexOf(log, "RegOpenKeyExA", kMaker));
    }
    EXPECT_LT(change, IndexOf(log, "ReleaseMutex"));
  }

  // A lock left abandoned by a killed installer is owned at once; one that
  // cannot be had in time leaves the claim unguarded, never refused.
  const std::string name = "Global\\QuillmoorSharedKeyClaims";
  qmis::UniqueHandle abandoned;
  std::thread([&] { abandoned.reset(CreateMutexA(nullptr, TRUE, name.c_str())); }).join();
  hook().ClearLog();
  EXPECT_EQ(Claim(p, k, 2), 1);
  EXPECT_EQ(hook().Calls("WaitForSingleObject")[0].result, static_cast<uint32_t>(WAIT_ABANDONED));
  EXPECT_EQ(hook().Count("ReleaseMutex"), 1);
  hook().Fail("WaitForSingleObject", 0, WAIT_TIMEOUT);
  EXPECT_EQ(Claim(p, k, 4), 1);
  EXPECT_EQ(Mask(k), Dword(6));
  EXPECT_EQ(hook().Count("ReleaseMutex"), 1);
}

// Installers side by side: each round's calls are made by children released
// at the same moment. Without a lock across processes claims were lost, and
// keys deleted while claimed or left behind unclaimed, in most rounds.
TEST_F(SharedKeys, ClaimsAndReleasesMadeAtOnceLoseNothing) {
  const std::string a = NewProduct("A"), b = NewProduct("B"), c = NewProduct("C"),
                    d = NewProduct("D");
  struct Row {
    const char* what;
    std::vector<std::pair<std::string, DWORD>> before;  // claims made first, one by one
    std::vector<std::vector<std::string>> atOnce;       // "K" stands for the round's key
    std::optional<RegValue> mask;                       // none: the key is gone
  };
  const Row rows[] = {
      {"four claims",
       {},
       {{"claim", a, "K", "1"},
        {"claim", b, "K", "2"},
        {"claim", c, "K", "4"},
        {"claim", d, "K", "8"}},
       Dword(15)},
      {"a release beside a claim", {{a, 1}}, {{"release", a}, {"claim", b, "K", "2"}}, Dword(2)},
      {"two releases", {{a, 1}, {b, 2}}, {{"release", a}, {"release", b}}, std::nullopt},
      // The release holds the lock for one key at a time: the claim beside
      // a release of many keys waits for one of them at most.
      {"a release of many keys beside a claim",
       {{a, 1}, {a + "*40", 1}},
       {{"release", a}, {"claim", b, "K", "2"}},
       Dword(2)},
  };
  for (const Row& row : rows) {
    int lost = 0;
    const int rounds = 12;
    for (int round = 0; round < rounds; ++round) {
      const std::string k = NewSharedKey("K");
      for (const auto& [product, bits] : row.before) {
        // "<product>*<n>": n more keys of that product's own.
        const size_t star = product.find('*');
        if (star == std::string::npos) {
          ASSERT_EQ(Claim(product, k, bits), 1);
        } else {
          for (int i = std::stoi(product.substr(star + 1)); i > 0; --i)
            ASSERT_EQ(Claim(product.substr(0, star), NewSharedKey("Many"), bits), 1);
        }
      }
      auto calls = row.atOnce;
      for (auto& call : calls) std::replace(call.begin(), call.end(), std::string("K"), k);
      const std::vector<DWORD> results = RunCallsAtOnce(sandbox_.Unique("start"), calls);
      for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(results[i], calls[i][0] == "claim" ? 1u : 0u) << row.what << ", call " << i;
      lost += Mask(k) != row.mask;
      for (const std::string& product : {a, b, c, d})
        DeleteTree(HKEY_LOCAL_MACHINE, ClaimListPath(product));
    }
    EXPECT_EQ(lost, 0) << row.what << ": wrong in " << lost << " of " << rounds << " rounds";
  }
}

// Setups side by side, each round's calls made by children released at the
// same moment: two setups that park the rename list around renames of their
// own, a setup beside a program that schedules renames, and two products
// that take the AutoPlay default and hand it back. The renames are scheduled
// under the library's rename lock, so that only the library's calls race. Every rename scheduled
// is in the pending list once at the end, nothing is left parked, and the
// machine's AutoPlay default is back.
class SideBySide : public SharedKeys {
 protected:
  SavedRenameLists lists_;
};

TEST_F(SideBySide, SetupsAtOnceLoseNoRenameAndNoDefault) {
  const std::string initial = "qmis-side-initial";
  // The 20 entries pending before each round: deletions of missing files.
  std::string list;
  for (int i = 0; i < 20; ++i)
    list += "\\??\\C:\\" + initial + "-" + std::to_string(i) + '\0' + '\0';
  list += '\0';
  struct Row {
    const char* what;
    // "@" stands for a prefix of the round's own. Results are not compared:
    // a setup whose backup finds the list already parked by the other one
    // rightly parks nothing.
    std::vector<std::vector<std::string>> atOnce;
    std::vector<std::pair<std::string, int>> scheduled;  // each prefix's entries
  };
  const Row rows[] = {
      {"two setups at once",
       {{"setup", "qmis-side-a@", "5"}, {"setup", "qmis-side-b@", "5"}},
       {{"qmis-side-a@", 5}, {"qmis-side-b@", 5}}},
      {"a setup beside a program scheduling renames",
       {{"setup", "qmis-side-a@", "5"}, {"schedule", "qmis-side-s@", "20"}},
       {{"qmis-side-a@", 5}, {"qmis-side-s@", 20}}},
      {"two products taking and handing back AutoPlay",
       {{"take-and-hand-back", "SideA"}, {"take-and-hand-back", "SideB"}},
       {}},
  };
  for (const Row& row : rows) {
    int lost = 0;
    const int rounds = 8;
    for (int round = 0; round < rounds; ++round) {
      const std::string tag = std::to_string(round);
      PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RegValue{REG_MULTI_SZ, list});
      PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kParkedRenames, std::nullopt);
      DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
      for (const char* verb : {"play", "QuillmoorSideA", "QuillmoorSideB"})
        CreateKey(HKEY_CLASSES_ROOT, std::string("AudioCD\\shell\\") + verb);
      SetValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", "", Sz("play"));
      auto calls = row.atOnce;
      auto ofTheRound = [&](std::string text) {
        for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, tag);
        return text;
      };
      for (auto& call : calls)
        for (std::string& argument : call) argument = ofTheRound(argument);
      for (const DWORD result : RunCallsAtOnce(sandbox_.Unique("start"), calls))
        EXPECT_NE(result, static_cast<DWORD>(kBadArguments)) << row.what;
      const auto pending = ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
      const std::string bytes = pending ? pending->bytes : "";
      auto count = [&](const std::string& entry) {
        int found = 0;
        for (size_t at = bytes.find(entry + '\0'); at != std::string::npos;
             at = bytes.find(entry + '\0', at + 1))
          ++found;
        return found;
      };
      bool whole = !ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kParkedRenames);
      for (int i = 0; i < 20; ++i) whole = whole && count(initial + "-" + std::to_string(i)) == 1;
      for (const auto& [prefix, entries] : row.scheduled) {
        for (int i = 0; i < entries; ++i)
          whole = whole && count(ofTheRound(prefix) + "-" + std::to_string(i)) == 1;
      }
      whole = whole && ReadValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", "") == Sz("play") &&
              !ReadValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", kSavedDefault);
      lost += whole ? 0 : 1;
    }
    EXPECT_EQ(lost, 0) << row.what << ": lost something in " << lost << " of " << rounds
                       << " rounds";
  }
  DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
}

// Two processes writing one log at once: every line is whole, in UTF-8 and
// ends with CR LF, and every call has its line.
TEST_F(SideBySide, TwoProcessesLogToOneFileLineByLine) {
  TempDir dir;
  const std::string log = dir / "qmis.log";
  SetEnvironmentVariableA("QMIS_LOG", log.c_str());  // the children inherit it
  const std::vector<DWORD> results =
      RunCallsAtOnce(sandbox_.Unique("start"), {{"queries", "200"}, {"queries", "200"}});
  SetEnvironmentVariableA("QMIS_LOG", nullptr);
  EXPECT_EQ(results, (std::vector<DWORD>{0, 0}));
  std::ifstream in(log, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::map<std::string, int> linesPerProcess;
  size_t lines = 0;
  for (size_t at = 0; at < text.size(); ++lines) {
    const size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "a line without its end";
    const std::string line = text.substr(at, end - at);
    at = end + 2;
    EXPECT_TRUE(std::regex_match(
        line, std::regex("[0-9-]+ [0-9:.]+ pid [0-9]+ QMSetup_GetInternalBuildNum\\(\\) = 60")))
        << line;
    ++linesPerProcess[line.substr(line.find("pid"), line.find(" Q") - line.find("pid"))];
  }
  EXPECT_EQ(lines, 400u);
  for (const auto& [process, count] : linesPerProcess) EXPECT_EQ(count, 200) << process;
}

TEST_F(SharedKeys, OverlongOrEmptyNamesAreRefusedAndChangeNothing) {
  const std::string p = NewProduct("P");
  // "SOFTWARE\Quillmoor\" is 19 bytes: 240 more fill the 260-byte path.
  std::string fits = sandbox_.Unique("F");
  fits.resize(240, 'f');
  sandbox_.Own(HKEY_LOCAL_MACHINE, SharedKeyPath(fits));
  EXPECT_EQ(Claim(p, fits, 1), 1);
  EXPECT_EQ(Claim(p, std::string(241, 'k'), 1), 0);
  EXPECT_EQ(Claim(p, "", 1), 0);
  EXPECT_EQ(Claim(std::string(195, 'p'), "K", 1), 0);
  // An empty product key names the Uninstall key's own list: never written,
  // never released.
  hook().ClearLog();
  EXPECT_EQ(Claim("", "K", 1), 0);
  EXPECT_EQ(Release(""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(hook().WorkLog().size(), 0u);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstall + "\\RefcountList"));
  EXPECT_EQ(api().RemoveRefcountedKeys(nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Release(std::string(195, 'p')), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Release(std::string(250, 'p')), ERROR_INVALID_PARAMETER);  // the product key too
  std::string name = "K";
  EXPECT_EQ(api().SetRefcountedKey(nullptr, name.data(), 1), 0);
  EXPECT_EQ(ReadTree(HKEY_LOCAL_MACHINE, ClaimListPath(p)).size(), 1u);
}

}  // namespace
}  // namespace qmis_test
