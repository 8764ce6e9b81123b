// The Audio-CD AutoPlay default: taken over and handed back.
#include <gmock/gmock.h>

#include <string>

#include "library_test.h"

namespace qmis_test {
namespace {

const std::string kShell = "AudioCD\\shell";

class AutoPlay : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
    sandbox_.Own(HKEY_CLASSES_ROOT, "AudioCD");
    CreateKey(HKEY_CLASSES_ROOT, kShell);
  }
  void Register(std::string product) { api().RegisterAutoInsertTag(product.data()); }
  void Unregister(std::string product) { api().UnregisterAutoInsertTag(product.data()); }
  static std::optional<RegValue> Default() { return ReadValue(HKEY_CLASSES_ROOT, kShell, ""); }
  static std::optional<RegValue> Saved() {
    return ReadValue(HKEY_CLASSES_ROOT, kShell, "QmPrevious");
  }
};

TEST_F(AutoPlay, RegisterAndUnregisterHandBackTheExactBytes) {
  // Stored without its zero and as REG_EXPAND_SZ: handed back as REG_SZ with
  // the byte count read.
  SetValue(HKEY_CLASSES_ROOT, kShell, "", {REG_EXPAND_SZ, "play"});
  const RegValue before = *Default();
  CreateKey(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorSampleTool2\\command");
  Register("Sample Tool 2");
  EXPECT_EQ(Default(), Sz("QuillmoorSampleTool2"));
  EXPECT_EQ(Saved(), (RegValue{REG_SZ, before.bytes}));

  Register("Sample Tool 2");  // already held: the saved verb stays
  EXPECT_EQ(Saved(), (RegValue{REG_SZ, before.bytes}));

  Unregister("Sample Tool 2");
  EXPECT_EQ(Default(), (RegValue{REG_SZ, before.bytes}));
  EXPECT_EQ(Saved(), std::nullopt);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorSampleTool2"));
}

// Each call from the values it finds: the comparison is case-sensitive, and
// a default the product does not hold is never restored over.
TEST_F(AutoPlay, EachCallLeavesTheValuesItsRulesGive) {
  using Value = std::optional<RegValue>;
  const Value none;
  struct Row {
    const char* what;
    bool take;
    Value defaultBefore, savedBefore, defaultAfter, savedAfter;
  };
  const Row rows[] = {
      {"taking with no default", true, none, none, none, none},
      {"taking over another handler", true, Sz("Other"), Sz("older"), Sz("QuillmoorP"),
       Sz("Other")},
      {"taking from a name that differs in case", true, Sz("quillmoorp"), Sz("play"),
       Sz("QuillmoorP"), Sz("quillmoorp")},
      {"handing back beside a name that differs in case", false, Sz("quillmoorp"), Sz("play"),
       Sz("quillmoorp"), none},
      {"handing back, held, nothing saved", false, Sz("QuillmoorP"), none, Sz("QuillmoorP"), none},
      {"handing back, no default, a saved verb of any type", false, none,
       RegValue{REG_BINARY, std::string("cdplay\0", 7)}, Sz("cdplay"), none},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    PutValue(HKEY_CLASSES_ROOT, kShell, "", row.defaultBefore);
    PutValue(HKEY_CLASSES_ROOT, kShell, "QmPrevious", row.savedBefore);
    CreateKey(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP");
    row.take ? Register("P") : Unregister("P");
    EXPECT_EQ(Default(), row.defaultAfter);
    EXPECT_EQ(Saved(), row.savedAfter);
    // The product's verb key goes with every hand-back, and only then.
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP"), row.take);
  }
}

// Text stored without its zero comes back without one on Windows (Wine adds
// it): the default is still read whole, and nothing after it.
TEST_F(AutoPlay, DefaultReadWithoutItsZeroIsSavedWhole) {
  SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("play"));
  SetValue(HKEY_CLASSES_ROOT, kShell, "QmPrevious", {REG_SZ, "play"});
  const auto whole = Saved();
  hook().Replace("RegQueryValueExW", [this](const uint32_t* a) -> uint32_t {
    const uint32_t status = hook().CallReal("RegQueryValueExW", a);
    auto* size = reinterpret_cast<DWORD*>(a[5]);
    if (status == ERROR_SUCCESS && a[4] != 0 && *size >= 2) {
      *size -= 2;
      reinterpret_cast<wchar_t*>(a[4])[*size / 2] = L'X';
    }
    return status;
  });
  Register("P");
  hook().ClearRules();
  EXPECT_EQ(Saved(), whole);
}

TEST_F(AutoPlay, MissingShellKeyDoesNothing) {
  DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
  Register("P");
  Unregister("P");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kShell));
  api().RegisterAutoInsertTag(nullptr);
  api().UnregisterAutoInsertTag(nullptr);
}

// A failing step never loses the saved verb, and a later call with nothing
// failing ends as one whole call would.
TEST_F(AutoPlay, SavedVerbIsNeverLost) {
  struct Row {
    const char* what;
    bool held;  // the product holds the default before the call
    const char* failed;
    int nth;
    std::optional<RegValue> defaultAfter, savedAfter;
  };
  const Row rows[] = {
      {"taking it, the saving fails", false, "RegSetValueExW", 1, Sz("play"), std::nullopt},
      {"handing it back, the write back fails", true, "RegSetValueExW", 1, Sz("QuillmoorP"),
       Sz("play")},
      {"handing it back, the saved verb cannot be read", true, "RegQueryValueExW", 2,
       Sz("QuillmoorP"), Sz("play")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz(row.held ? "QuillmoorP" : "play"));
    PutValue(HKEY_CLASSES_ROOT, kShell, "QmPrevious",
             row.held ? std::optional<RegValue>(Sz("play")) : std::nullopt);
    CreateKey(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP");
    hook().Fail(row.failed, row.nth, ERROR_ACCESS_DENIED);
    row.held ? Unregister("P") : Register("P");
    hook().ClearRules();
    EXPECT_EQ(Default(), row.defaultAfter);
    EXPECT_EQ(Saved(), row.savedAfter);
    // The product's verb key goes with a hand-back, whatever the default.
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP"), !row.held);
    row.held ? Unregister("P") : Register("P");
    EXPECT_EQ(Default(), Sz(row.held ? "play" : "QuillmoorP")) << "the later call";
    EXPECT_EQ(Saved(), row.held ? std::nullopt : std::optional<RegValue>(Sz("play")));
  }
}

TEST_F(AutoPlay, OverlongProductKeyChangesNothing) {
  SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("Quillmoor" + std::string(250, 'k')));
  SetValue(HKEY_CLASSES_ROOT, kShell, "QmPrevious", Sz("play"));
  const auto before = ReadTree(HKEY_CLASSES_ROOT, "AudioCD");
  Unregister(std::string(250, 'k'));
  Register(std::string(250, 'k'));
  EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, "AudioCD"), before);
  EXPECT_EQ(hook().Count("RegOpenKeyExA"), 0);
}

}  // namespace
}  // namespace qmis_test
