// Fault injection over every system call the library makes: each scenario
// runs once with the calls counted, then once more for every one of those
// calls with just that call failing. After each run: nothing left open, the
// result within the contract, and no claim bit, saved default or rename
// entry lost.
#include <gmock/gmock.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "library_test.h"
#include "qmis/handles.h"
#include "temp_dir.h"
#include "wide.h"

namespace qmis_test {
namespace {

constexpr uint32_t kFailed = 0x80004005;

struct Failure {
  uint32_t result;
  DWORD lastError;
};

// A failure each function plausibly reports. Releases (closing, unlocking,
// freeing) and calls that cannot fail are not failed.
std::optional<Failure> FailureFor(const std::string& function) {
  static const std::set<std::string> kNotFailed = {
      "RegCloseKey",  "CloseHandle",         "FindClose",         "GlobalUnlock",    "GlobalFree",
      "LocalFree",    "ReleaseMutex",        "GetCurrentProcess", "GetCommandLineA", "lstrcmpA",
      "lstrcmpiA",    "GetCommandLineW",     "lstrcmpW",          "lstrcmpiW",       "SetLastError",
      "GetLocalTime", "GetCurrentProcessId", "OutputDebugStringW"};
  if (kNotFailed.count(function)) return std::nullopt;
  if (function.rfind("Reg", 0) == 0) return Failure{ERROR_ACCESS_DENIED, 0};
  if (function == "GlobalAlloc" || function == "GlobalLock")
    return Failure{0, ERROR_NOT_ENOUGH_MEMORY};
  if (function == "CreateFileW" || function == "FindFirstFileW")
    return Failure{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(INVALID_HANDLE_VALUE)),
                   ERROR_ACCESS_DENIED};
  if (function == "GetFileAttributesW")
    return Failure{INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND};
  if (function == "WaitForSingleObject") return Failure{WAIT_FAILED, ERROR_INVALID_HANDLE};
  return Failure{0, ERROR_ACCESS_DENIED};  // FALSE or NULL
}

struct Scenario {
  std::function<void()> setUp;
  std::function<uint32_t()> run;
  // Checks the state and result after a run; `failed` names the failed call.
  std::function<void(uint32_t result, const std::string& failed)> check;
  std::function<void()> tearDown = [] {};
};

int g_injections = 0;
std::set<std::string> g_failedFunctions;

std::set<std::string> g_importedFailable;

// Prints, once at the end of the program, what the sweep covered.
class CoverageReport : public ::testing::Environment {
 public:
  void TearDown() override {
    const std::set<std::string>& imported = g_importedFailable;
    std::string missed;
    for (const std::string& name : imported)
      if (!g_failedFunctions.count(name)) missed += " " + name;
    std::printf("fault sweep: %d injections over %zu of the %zu failable imported functions%s%s\n",
                g_injections, g_failedFunctions.size(), imported.size(),
                missed.empty() ? "" : "; never failed:", missed.c_str());
    EXPECT_TRUE(missed.empty()) << "every failable import is failed somewhere";
  }
};
const auto* const g_report = ::testing::AddGlobalTestEnvironment(new CoverageReport);

class FaultSweep : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    for (const std::string& name : ImportHook::HookedFunctions())
      if (FailureFor(name) && hook().Intercepts(name)) g_importedFailable.insert(name);
  }

  // The last error the export left: the last one it set.
  DWORD LastErrorLeft() {
    const std::vector<Call> set = hook().Calls("SetLastError");
    return set.empty() ? 0xFFFFFFFF : LastErrorSet(set.back());
  }

  void Sweep(const Scenario& scenario, DWORD baselineError = ERROR_SUCCESS) {
    scenario.setUp();
    hook().ClearLog();
    const uint32_t baseline = scenario.run();
    const std::vector<Call> calls = hook().Log();
    scenario.check(baseline, "");
    EXPECT_EQ(LastErrorLeft(), baselineError) << "the last error of the call with nothing failing";
    scenario.tearDown();
    std::map<std::string, int> seen;
    for (const Call& call : calls) {
      const int nth = ++seen[call.function];
      const auto failure = FailureFor(call.function);
      if (!failure) continue;
      const std::string failed = call.function + " #" + std::to_string(nth);
      SCOPED_TRACE("failing " + failed);
      scenario.setUp();
      hook().ClearLog();
      hook().Fail(call.function, nth, failure->result, failure->lastError);
      const uint32_t result = scenario.run();
      hook().ClearRules();
      scenario.check(result, failed);
      // The failure's own status, or none when the call did its work anyway
      // (or, as the call with nothing failing, when it did not need it).
      const DWORD injected =
          call.function.rfind("Reg", 0) == 0 ? failure->result : failure->lastError;
      const DWORD left = LastErrorLeft();
      if (left == ERROR_SUCCESS) {
        EXPECT_EQ(result, baseline) << "a call that leaves no error did its work";
      } else {
        EXPECT_TRUE(left == injected || left == baselineError)
            << "last error " << left << " after failing with " << injected;
      }
      scenario.tearDown();
      for (const std::string& line : hook().Outstanding())
        ADD_FAILURE() << "not released: " << line;
      ++g_injections;
      g_failedFunctions.insert(call.function);
    }
  }
};

TEST_F(FaultSweep, ReleasingClaimsNeverTakesAnotherProductsBits) {
  const std::string a = sandbox_.NewProduct("A"), b = sandbox_.NewProduct("B");
  const std::string key = sandbox_.NewSharedKey("K");
  Sweep({[&] {
           SetValue(HKEY_LOCAL_MACHINE, ClaimListPath(a), key, Dword(1));
           SetValue(HKEY_LOCAL_MACHINE, ClaimListPath(b), key, Dword(2));
           SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(key), kClaimMask, Dword(3));
         },
         [&] {
           std::string p = a;
           return static_cast<uint32_t>(api().RemoveRefcountedKeys(p.data()));
         },
         [&](uint32_t, const std::string&) {
           const auto mask = ReadValue(HKEY_LOCAL_MACHINE, SharedKeyPath(key), kClaimMask);
           ASSERT_TRUE(mask.has_value()) << "the key went while B still claims it";
           EXPECT_TRUE(*reinterpret_cast<const DWORD*>(mask->bytes.data()) & 2)
               << "B's bit was released";
         }});
}

TEST_F(FaultSweep, ClaimingReportsWhatItWrote) {
  const std::string a = sandbox_.NewProduct("A");
  const std::string key = sandbox_.NewSharedKey("K");
  // The lock's mutex as another account made it: it exists, and the full
  // access CreateMutexA asks for is refused, so it is opened instead.
  const qmis::UniqueHandle othersMutex(
      CreateMutexA(nullptr, FALSE, "Global\\QuillmoorSharedKeyClaims"));
  for (const bool madeByAnother : {false, true}) {
    Sweep({[&] {
             SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(key), kClaimMask, Dword(8));
             if (madeByAnother) hook().Fail("CreateMutexA", 0, 0, ERROR_ACCESS_DENIED);
           },
           [&] {
             std::string p = a, k = key;
             return static_cast<uint32_t>(api().SetRefcountedKey(p.data(), k.data(), 4));
           },
           [&](uint32_t result, const std::string& failed) {
             const auto mask = ReadValue(HKEY_LOCAL_MACHINE, SharedKeyPath(key), kClaimMask);
             ASSERT_TRUE(mask.has_value());
             const DWORD bits = *reinterpret_cast<const DWORD*>(mask->bytes.data());
             EXPECT_TRUE(bits & 8) << "another claim was lost";
             // A lock that cannot be had never fails the claim.
             const bool lockOnly = failed.rfind("CreateMutexA", 0) == 0 ||
                                   failed.rfind("OpenMutexA", 0) == 0 ||
                                   failed.rfind("WaitForSingleObject", 0) == 0;
             if (failed.empty() || lockOnly) {
               EXPECT_EQ(result, 1u);
               EXPECT_TRUE(bits & 4) << "the claim was not made";
             }
             EXPECT_LE(result, 1u);
           }});
  }
}

// Whoever holds the default, a failing step never loses the saved verb nor
// leaves the default naming a deleted verb key.
TEST_F(FaultSweep, AutoPlayHandbackNeverLosesTheSavedVerb) {
  DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
  sandbox_.Own(HKEY_CLASSES_ROOT, "AudioCD");
  enum class Operation { kTake, kHandBack };
  struct Row {
    const char* holder;  // the default before the call: "play" or a product's handler
    Operation call;
    const char* product;
  };
  const Row rows[] = {
      {.holder = "QuillmoorP", .call = Operation::kHandBack, .product = "P"},
      {.holder = "play", .call = Operation::kTake, .product = "P"},
      {.holder = "QuillmoorP", .call = Operation::kHandBack, .product = "Q"},
      {.holder = "QuillmoorP", .call = Operation::kTake, .product = "Q"},
  };
  for (const Row& row : rows) {
    const bool take = row.call == Operation::kTake;
    SCOPED_TRACE(std::string(take ? "taking " : "handing back ") + row.product);
    Sweep({[&] {
             DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
             SetValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", "", Sz(row.holder));
             if (std::string(row.holder) != "play")
               SetValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", kSavedDefault, Sz("play"));
             for (const char* verb : {"QuillmoorP\\command", "QuillmoorQ\\command", "play"})
               CreateKey(HKEY_CLASSES_ROOT, std::string("AudioCD\\shell\\") + verb);
           },
           [&] {
             std::string p = row.product;
             take ? api().RegisterAutoInsertTag(p.data()) : api().UnregisterAutoInsertTag(p.data());
             return 0u;
           },
           [&](uint32_t, const std::string&) {
             const auto current = ReadValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", "");
             const bool restored = current == Sz("play");
             const bool kept =
                 ReadValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", kSavedDefault) == Sz("play");
             EXPECT_TRUE(restored || kept) << "the saved verb is lost";
             if (current) {
               EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT,
                                     "AudioCD\\shell\\" + std::string(current->bytes.c_str())))
                   << "the default names a deleted verb";
             }
           }});
  }
}

TEST_F(FaultSweep, ExtensionHandbackNeverLosesTheSavedType) {
  const std::string product = sandbox_.NewProduct("Ext");
  const std::string handler = "Quillmoor" + product;
  const std::string ext = "." + sandbox_.Unique("e");
  sandbox_.Own(HKEY_CLASSES_ROOT, ext);
  sandbox_.Own(HKEY_CLASSES_ROOT, handler + "File" + ext);
  Sweep({[&] {
           SetValue(HKEY_LOCAL_MACHINE, ExtensionsPath(product), ext, Sz(""));
           SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(handler + "File" + ext));
           SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Sz("txtfile"));
           CreateKey(HKEY_CLASSES_ROOT, handler + "File" + ext + "\\shell");
         },
         [&] {
           std::string p = product;
           api().UnregisterExtensions(p.data());
           return 0u;
         },
         [&](uint32_t, const std::string&) {
           const bool restored = ReadValue(HKEY_CLASSES_ROOT, ext, "") == Sz("txtfile");
           const bool kept = ReadValue(HKEY_CLASSES_ROOT, ext, kSavedDefault) == Sz("txtfile");
           EXPECT_TRUE(restored || kept) << "the saved file type is lost";
         }});
}

class RenameSweep : public FaultSweep {
 protected:
  // Every entry of both lists is still in one of the two values.
  static void ExpectNoEntryLost(const Caller& caller = Caller::current()) {
    QMIS_TEST_TRACE_CALLER(caller);
    std::string all;
    for (const std::string& name : {kPendingRenames, kParkedRenames})
      if (auto value = ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, name)) all += value->bytes;
    for (const char* entry : {"C:\\old-a", "C:\\new-a", "C:\\old-b", "C:\\gone-b"})
      EXPECT_NE(all.find(entry), std::string::npos) << entry << " was lost";
  }
  void SetLists(bool parked) {
    PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kParkedRenames,
             parked ? std::optional<RegValue>(RegValue{
                          REG_MULTI_SZ, std::string("\\??\\C:\\old-a\0\\??\\C:\\new-a\0\0", 29)})
                    : std::nullopt);
    PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames,
             RegValue{REG_MULTI_SZ, std::string("\\??\\C:\\old-b\0\0\\??\\C:\\gone-b\0\0\0", 31)});
  }
  SavedRenameLists lists_;
};

TEST_F(RenameSweep, NoRenameEntryIsEverLost) {
  Sweep({[&] { SetLists(true); },
         [&] { return static_cast<uint32_t>(api().RestorePendingFileRename()); },
         [&](uint32_t, const std::string&) { ExpectNoEntryLost(); }});
  Sweep({[&] { SetLists(true); },
         [&] { return static_cast<uint32_t>(api().BackupPendingFileRename()); },
         [&](uint32_t, const std::string&) { ExpectNoEntryLost(); }});
}

TEST_F(FaultSweep, SweepNeverDeletesABranchWithAValue) {
  const std::string key = sandbox_.NewKey(HKEY_CURRENT_USER, "Software\\QmisTests", "sweep");
  Sweep({[&] {
           CreateTree(HKEY_CURRENT_USER, key, {"A\\x", "B\\c", "C\\d\\e"});
           SetValue(HKEY_CURRENT_USER, key + "\\B\\c", "v", Dword(1));
         },
         [&] {
           std::string k = key;
           return static_cast<uint32_t>(api().KeyClean(HKEY_CURRENT_USER, k.data()));
         },
         [&](uint32_t, const std::string&) {
           EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key + "\\B\\c", "v"), Dword(1));
         }});
}

TEST_F(FaultSweep, SizesNeverOvercount) {
  TempDir dir;
  dir.File("a.bin", 100);
  dir.File("b.bin", 200);
  dir.File("sub\\c.bin", 50);
  Sweep({[] {}, [&] { return api().GetCopyFileSize(dir.path().c_str()); },
         [&](uint32_t result, const std::string& failed) {
           if (failed.empty()) {
             EXPECT_EQ(result, 350u);
           }
           EXPECT_TRUE(result == 350u || result == 300u || result == 100u || result == 0u)
               << result;
         }});
}

// Both runners: the ANSI one, and the Unicode one, which runs a copy of the
// command line of its own.
TEST_F(FaultSweep, RunnerReportsTheCodeOrFailure) {
  const std::string command = ChildCommand("5");
  for (const bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "Unicode" : "ANSI");
    Sweep({[] {},
           [&] {
             std::string ansi = command;
             char text[300] = "untouched";
             wchar_t wideText[300] = L"untouched";
             const uint32_t result =
                 wide ? api().SilentRunExternalWaitW(Wide(command).c_str(), wideText)
                      : api().SilentRunExternalWait(ansi.data(), text);
             if (result != 5) {
               EXPECT_STREQ(text, "untouched");
               EXPECT_STREQ(wideText, L"untouched");
             }
             return result;
           },
           [&](uint32_t result, const std::string& failed) {
             if (failed.empty()) {
               EXPECT_EQ(result, 5u);
             }
             EXPECT_TRUE(result == 5u || result == kFailed) << result;
           }});
  }
}

// Saving and restoring a hive: 1 when nothing fails, 0 when a step the
// operation cannot do without fails.
TEST_F(FaultSweep, HiveSaveAndRestoreFailCleanly) {
  const std::string key = sandbox_.NewKey(HKEY_CURRENT_USER, "Software\\QmisTests", "hive");
  TempDir dir;
  std::string k = key, file = dir / "saved.hive", restored = dir / "restored.hive";
  ASSERT_EQ(api().RegSaveKey(HKEY_CURRENT_USER, k.data(), restored.data()), 1);
  for (const bool save : {true, false}) {
    SCOPED_TRACE(save ? "save" : "restore");
    const char* essential[] = {"OpenProcessToken", "AdjustTokenPrivileges", "RegCreateKeyExW",
                               "MultiByteToWideChar", save ? "RegSaveKeyW" : "RegRestoreKeyW"};
    Sweep({[&] { DeleteFileA(file.c_str()); },
           [&] {
             return static_cast<uint32_t>(
                 save ? api().RegSaveKey(HKEY_CURRENT_USER, k.data(), file.data())
                      : api().RegRestoreKey(HKEY_CURRENT_USER, k.data(), restored.data()));
           },
           [&](uint32_t result, const std::string& failed) {
             bool needed = failed.empty();
             for (const char* step : essential) needed = needed || failed.rfind(step, 0) == 0;
             if (needed) {
               EXPECT_EQ(result, failed.empty() ? 1u : 0u);
             }
           }});
  }
}

TEST_F(FaultSweep, UninstallHookAlwaysReturnsZero) {
  const std::string product = sandbox_.NewProduct("Dep"), key = sandbox_.NewSharedKey("K");
  TempDir dir;
  dir.File("dep.txt", 1);
  // The test child stands in for the host: it takes " -y -f..." and exits 0.
  const std::string line = ChildCommand("-f\"x\" -z") + product;
  Sweep({[&] {
           SetValue(HKEY_LOCAL_MACHINE, DependentsPath(product), "d", Sz(dir / "dep.txt"));
           SetValue(HKEY_LOCAL_MACHINE, ClaimListPath(product), key, Dword(1));
           SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(key), kClaimMask, Dword(1));
           hook().ReplaceCommandLine(line);
         },
         [&] { return static_cast<uint32_t>(api().UninstInitialize(0, 0, 0)); },
         [&](uint32_t result, const std::string&) { EXPECT_EQ(result, 0u); }});
}

// With QMIS_LOG naming a file, every call of the log's own may fail too:
// the result and the last error are those of the call without the log.
TEST_F(FaultSweep, TheLogNeverChangesACall) {
  TempDir dir;
  const std::string log = dir / "qmis.log";
  SetEnvironmentVariableA("QMIS_LOG", log.c_str());
  const std::string product = sandbox_.NewProduct("Logged"), key = sandbox_.NewSharedKey("K");
  // A claim refused for a mask of another type: the log line holds the
  // system's text for the status.
  Sweep({[&] { SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(key), kClaimMask, Sz("x")); },
         [&] {
           std::string p = product, k = key;
           return static_cast<uint32_t>(api().SetRefcountedKey(p.data(), k.data(), 1));
         },
         [&](uint32_t result, const std::string&) { EXPECT_EQ(result, 0u); }},
        ERROR_INVALID_DATATYPE);
  SetEnvironmentVariableA("QMIS_LOG", nullptr);
  std::ifstream in(log);
  std::string first;
  std::getline(in, first);
  EXPECT_THAT(first, ::testing::HasSubstr("QMSetup_SetRefcountedKey(\"" + product + "\""));
}

TEST_F(FaultSweep, RenameAlwaysReturnsZeroAndLosesNothing) {
  TempDir dir;
  Sweep({[&] {
           RemoveTree(dir / "new");
           dir.File("old\\f.txt", 1);
         },
         [&] {
           return static_cast<uint32_t>(
               api().RenameDirectory((dir / "old").c_str(), (dir / "new").c_str()));
         },
         [&](uint32_t result, const std::string&) {
           EXPECT_EQ(result, 0u);
           EXPECT_NE(PathExists(dir / "old\\f.txt"), PathExists(dir / "new\\f.txt"));
         }});
}

}  // namespace
}  // namespace qmis_test
