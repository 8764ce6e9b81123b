// A crash at every registry write: each scenario's call is made once in a
// child process to count its writes, then, for each write k, made in a child
// that is killed just before write k and made again to the end by a second
// child. The registry must then be as one whole call leaves it, or in the
// one state a scenario names, which loses nothing.
#include <gmock/gmock.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "call_child.h"
#include "library.h"
#include "registry_sandbox.h"
#include "temp_dir.h"

namespace qmis_test {
namespace {

struct Place {
  HKEY root;
  std::string path;
};

// Every key and value below each place, and which places are gone.
std::vector<std::string> Snapshot(const std::vector<Place>& places) {
  std::vector<std::string> lines;
  for (const Place& place : places) {
    if (!KeyExists(place.root, place.path)) lines.push_back(place.path + " is gone");
    for (const std::string& line : ReadTree(place.root, place.path))
      lines.push_back(place.path + " " + line);
  }
  for (const std::string& name : {kPendingRenames, kParkedRenames}) {
    if (const auto value = ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, name))
      lines.push_back(name + " " + std::to_string(value->type) + " " + value->bytes);
  }
  return lines;
}

void PutList(const std::string& name, const std::optional<RegValue>& value) {
  PutValue(HKEY_LOCAL_MACHINE, kSessionManager, name, value);
}

struct Scenario {
  const char* what;
  std::function<void()> setUp;  // from any state to the one before the call
  std::vector<std::string> call;
  std::vector<Place> places;
  // Turns the state one whole call leaves into the only other state a
  // killed and repeated call may leave; none when it must be the same.
  std::function<void()> acceptedDifference = nullptr;
};

class CrashSweep : public ::testing::Test {
 protected:
  void Sweep(const Scenario& scenario) {
    SCOPED_TRACE(scenario.what);
    scenario.setUp();
    const CallRun clean = RunCall(scenario.call);
    ASSERT_GT(clean.writes, 1) << "a scenario for a call that writes more than once";
    const std::vector<std::string> whole = Snapshot(scenario.places);
    std::vector<std::string> accepted = whole;
    if (scenario.acceptedDifference) {
      scenario.acceptedDifference();
      accepted = Snapshot(scenario.places);
    }
    std::string differing;
    for (int k = 1; k <= clean.writes; ++k) {
      SCOPED_TRACE("killed before write " + std::to_string(k));
      scenario.setUp();
      ASSERT_EQ(RunCall(scenario.call, k).exitCode, kKilled);
      const CallRun again = RunCall(scenario.call);
      EXPECT_EQ(again.exitCode, clean.exitCode);
      const std::vector<std::string> after = Snapshot(scenario.places);
      if (after != whole) {
        EXPECT_EQ(after, accepted);
        differing += " " + std::to_string(k);
      }
    }
    std::printf(
        "crash sweep: %s, %d kill points%s%s\n", scenario.what, clean.writes,
        differing.empty() ? "" : "; another state than one whole call's after kills before write",
        differing.c_str());
  }

  RegistrySandbox sandbox_;
  SavedRenameLists lists_;
};

TEST_F(CrashSweep, EveryWriteOfEveryCallThatWritesMoreThanOnce) {
  const std::string product = sandbox_.NewProduct("P");
  const std::string other = sandbox_.NewProduct("O");
  const std::string keep = sandbox_.NewSharedKey("keep");
  const std::string drop = sandbox_.NewSharedKey("drop");
  const std::string claims = ClaimListPath(product);
  const std::string handler = "Quillmoor" + product;
  const std::string ext = "." + sandbox_.Unique("e");
  const std::string bare = "." + sandbox_.Unique("b");
  sandbox_.Own(HKEY_CLASSES_ROOT, ext);
  sandbox_.Own(HKEY_CLASSES_ROOT, bare);
  sandbox_.Own(HKEY_CLASSES_ROOT, handler + "File" + ext);
  sandbox_.Own(HKEY_CLASSES_ROOT, handler + "File" + bare);
  sandbox_.Own(HKEY_CLASSES_ROOT, "AudioCD");
  const std::vector<Place> products = {{HKEY_LOCAL_MACHINE, ProductPath(product)},
                                       {HKEY_LOCAL_MACHINE, ProductPath(other)}};
  const std::vector<Place> shared = {{HKEY_LOCAL_MACHINE, SharedKeyPath(keep)},
                                     {HKEY_LOCAL_MACHINE, SharedKeyPath(drop)}};
  const std::vector<Place> shell = {{HKEY_CLASSES_ROOT, ext},
                                    {HKEY_CLASSES_ROOT, bare},
                                    {HKEY_CLASSES_ROOT, handler + "File" + ext},
                                    {HKEY_CLASSES_ROOT, handler + "File" + bare},
                                    {HKEY_CLASSES_ROOT, "AudioCD"}};
  auto all = [&] {
    std::vector<Place> places = products;
    places.insert(places.end(), shared.begin(), shared.end());
    places.insert(places.end(), shell.begin(), shell.end());
    return places;
  }();
  TempDir dir;
  dir.File("dependent.txt", 1);

  auto claimed = [&] {
    for (const Place& place : all) DeleteTree(place.root, place.path);
    SetValue(HKEY_LOCAL_MACHINE, claims, keep, Dword(1));
    SetValue(HKEY_LOCAL_MACHINE, claims, drop, Dword(1));
    SetValue(HKEY_LOCAL_MACHINE, ClaimListPath(other), keep, Dword(2));
    SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(keep), kClaimMask, Dword(3));
    SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(drop), kClaimMask, Dword(1));
    SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(drop) + "\\deep\\er", "v", Sz("x"));
  };
  auto tookShell = [&] {
    claimed();
    SetValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", "", Sz(handler));
    SetValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", kSavedDefault, Sz("play"));
    CreateKey(HKEY_CLASSES_ROOT, "AudioCD\\shell\\" + handler + "\\command");
    for (const std::string& e : {ext, bare}) {
      SetValue(HKEY_LOCAL_MACHINE, ExtensionsPath(product), e, Sz(""));
      SetValue(HKEY_CLASSES_ROOT, e, "", Sz(handler + "File" + e));
      CreateKey(HKEY_CLASSES_ROOT, handler + "File" + e + "\\shell\\open\\command");
    }
    SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Sz("txtfile"));
  };
  // A kill between the extension's write back and the removal of its
  // "QmPrevious" leaves the extension no longer the product's: the repeated
  // call hands nothing back there, and the saved type stays beside the
  // restored one.
  auto savedTypeStays = [&] { SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Sz("txtfile")); };
  auto lists = [&](bool parked) {
    static const char kNew[] = "\\??\\C:\\q-new\0\0";             // a deletion
    static const char kOld[] = "\\??\\C:\\q-a\0\\??\\C:\\q-b\0";  // a rename
    PutList(kPendingRenames, RegValue{REG_MULTI_SZ, std::string(kNew, sizeof kNew)});
    PutList(kParkedRenames,
            parked ? std::optional<RegValue>({REG_MULTI_SZ, std::string(kOld, sizeof kOld)})
                   : std::nullopt);
  };
  const std::string sweepKey = sandbox_.NewKey(HKEY_CURRENT_USER, "Software\\QmisTests", "sweep");
  const std::string host = ChildCommand("-f\"x\" -z") + product;

  const Scenario scenarios[] = {
      {"claim", claimed, {"claim", product, keep, "4"}, all},
      {"release", claimed, {"release", product}, all},
      {"AutoPlay take",
       [&] {
         DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
         SetValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", "", Sz("play"));
       },
       {"take-autoplay", product},
       shell},
      {"AutoPlay hand-back", tookShell, {"hand-back-autoplay", product}, shell},
      {"extension hand-back", tookShell, {"hand-back-extensions", product}, shell, savedTypeStays},
      {"sweep",
       [&] {
         DeleteTree(HKEY_CURRENT_USER, sweepKey);
         CreateTree(HKEY_CURRENT_USER, sweepKey, {"A\\x", "B\\c", "C\\d\\e", "D"});
         SetValue(HKEY_CURRENT_USER, sweepKey + "\\B\\c", "v", Dword(1));
       },
       {"sweep", "HKCU", sweepKey},
       {{HKEY_CURRENT_USER, sweepKey}}},
      {"key-tree deletion",
       [&] {
         DeleteTree(HKEY_CURRENT_USER, sweepKey);
         CreateTree(HKEY_CURRENT_USER, sweepKey, {"A\\x\\y", "B", "C\\d"});
       },
       {"delete-tree", "HKCU", sweepKey},
       {{HKEY_CURRENT_USER, sweepKey}}},
      {"backup", [&] { lists(false); }, {"backup"}, {}},
      {"backup behind an earlier parked list", [&] { lists(true); }, {"backup"}, {}},
      {"restore", [&] { lists(true); }, {"restore"}, {}},
      {"uninstall hook",
       [&] {
         tookShell();
         SetValue(HKEY_LOCAL_MACHINE, DependentsPath(product), "d", Sz(dir / "dependent.txt"));
       },
       {"uninstall", host},
       all,
       savedTypeStays},
  };
  for (const Scenario& scenario : scenarios) Sweep(scenario);
}

}  // namespace
}  // namespace qmis_test
