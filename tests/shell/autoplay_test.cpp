// The Audio-CD AutoPlay default: taken over and handed back.
#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library_test.h"
#include "wide.h"

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
  enum class Operation { kTake, kHandBack };
  void Make(Operation call, const std::string& product) {
    call == Operation::kTake ? Register(product) : Unregister(product);
  }
  static std::optional<RegValue> Default() { return ReadValue(HKEY_CLASSES_ROOT, kShell, ""); }
  static std::optional<RegValue> Saved() {
    return ReadValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault);
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

// Each call from the values it finds: the handler name matches in any letter
// case, as the registry matches key names; a default the product does not
// hold is never restored over; a default is never left naming the verb key
// the hand-back deletes.
TEST_F(AutoPlay, EachCallLeavesTheValuesItsRulesGive) {
  struct Row {
    const char* what;
    Operation call;
    std::optional<RegValue> defaultBefore = {}, savedBefore = {}, defaultAfter = {},
                            savedAfter = {};
  };
  const Row rows[] = {
      {.what = "taking with no default", .call = Operation::kTake},
      {.what = "taking over another handler",
       .call = Operation::kTake,
       .defaultBefore = Sz("Other"),
       .savedBefore = Sz("older"),
       .defaultAfter = Sz("QuillmoorP"),
       .savedAfter = Sz("Other")},
      {.what = "taking from the handler name in another case: already held",
       .call = Operation::kTake,
       .defaultBefore = Sz("quillmoorp"),
       .savedBefore = Sz("play"),
       .defaultAfter = Sz("quillmoorp"),
       .savedAfter = Sz("play")},
      {.what = "handing back from the handler name in another case",
       .call = Operation::kHandBack,
       .defaultBefore = Sz("quillmoorp"),
       .savedBefore = Sz("play"),
       .defaultAfter = Sz("play")},
      {.what = "handing back, held, nothing saved: the default goes with the verb",
       .call = Operation::kHandBack,
       .defaultBefore = Sz("QuillmoorP")},
      {.what = "handing back over a handler name whose verb key is gone",
       .call = Operation::kHandBack,
       .defaultBefore = Sz("QuillmoorGone"),
       .savedBefore = Sz("play"),
       .defaultAfter = Sz("play")},
      {.what = "taking over a handler name whose verb key is gone: it is not saved",
       .call = Operation::kTake,
       .defaultBefore = Sz("QuillmoorGone"),
       .defaultAfter = Sz("QuillmoorP")},
      {.what = "handing back, no default, a saved verb of any type",
       .call = Operation::kHandBack,
       .savedBefore = RegValue{REG_BINARY, std::string("cdplay\0", 7)},
       .defaultAfter = Sz("cdplay")},
      {.what = "handing back to another product's verb, saved and still there",
       .call = Operation::kHandBack,
       .defaultBefore = Sz("QuillmoorP"),
       .savedBefore = Sz("quillmoorlive"),
       .defaultAfter = Sz("quillmoorlive")},
      {.what = "handing back to the product's own verb, saved: it goes, and so does the default",
       .call = Operation::kHandBack,
       .defaultBefore = Sz("QuillmoorP"),
       .savedBefore = Sz("QUILLMOORP")},
      {.what = "taking over a name with a backslash: no handler's, saved",
       .call = Operation::kTake,
       .defaultBefore = Sz("QuillmoorLive\\x"),
       .defaultAfter = Sz("QuillmoorP"),
       .savedAfter = Sz("QuillmoorLive\\x")},
      {.what =
           "handing back to another product's verb, saved, whose key is gone: nothing to restore",
       .call = Operation::kHandBack,
       .defaultBefore = Sz("QuillmoorP"),
       .savedBefore = Sz("QuillmoorGone")},
      {.what = "handing back to the maker's bare name: no handler's",
       .call = Operation::kHandBack,
       .defaultBefore = Sz("QuillmoorP"),
       .savedBefore = Sz("Quillmoor"),
       .defaultAfter = Sz("Quillmoor")},
      {.what = "handing back a saved list: its bytes, as text",
       .call = Operation::kHandBack,
       .defaultBefore = Sz("QuillmoorP"),
       .savedBefore = RegValue{REG_MULTI_SZ, std::string("cd\0\0", 4)},
       .defaultAfter = RegValue{REG_SZ, std::string("cd\0\0", 4)}},
  };
  CreateKey(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorLive");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    PutValue(HKEY_CLASSES_ROOT, kShell, "", row.defaultBefore);
    PutValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault, row.savedBefore);
    CreateKey(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP");
    Make(row.call, "P");
    EXPECT_EQ(Default(), row.defaultAfter);
    EXPECT_EQ(Saved(), row.savedAfter);
    // The product's verb key goes with every hand-back, and only then.
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP"), row.call == Operation::kTake);
  }
}

// Text stored without its zero comes back without one on Windows (Wine adds
// it): the default is still read whole, and nothing after it.
TEST_F(AutoPlay, DefaultReadWithoutItsZeroIsSavedWhole) {
  SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("play"));
  SetValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault, {REG_SZ, "play"});
  const auto whole = Saved();
  hook().Replace("RegQueryValueExW", [this](const uint32_t* a) -> uint32_t {
    const uint32_t status = hook().CallReal("RegQueryValueExW", a);
    DWORD* size = QueriedSize(a);
    if (status == ERROR_SUCCESS && QueriedData(a) != nullptr && *size >= 2) {
      *size -= 2;
      reinterpret_cast<wchar_t*>(QueriedData(a))[*size / 2] = L'X';
    }
    return status;
  });
  Register("P");
  hook().ClearRules();
  EXPECT_EQ(Saved(), whole);
}

// A saved value of a type the system does not convert is taken as ANSI
// text of at most 260 bytes: a longer one is never handed back nor lost.
TEST_F(AutoPlay, SavedBytesAreTextOfAtMost260Bytes) {
  const RegValue empty{REG_BINARY, ""}, longest{REG_BINARY, std::string(260, 'v')},
      tooLong{REG_BINARY, std::string(261, 'v')};
  for (const RegValue& saved : {empty, longest, tooLong}) {
    SCOPED_TRACE(saved.bytes.size());
    SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("QuillmoorP"));
    SetValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault, saved);
    Unregister("P");
    const bool fits = saved.bytes.size() <= 260;
    if (fits) {  // handed back as UTF-16 text of the bytes read; Wine may end it with a zero
      const std::string text = Utf16Bytes(saved.bytes);
      EXPECT_THAT(
          ReadStoredValue(HKEY_CLASSES_ROOT, kShell, ""),
          ::testing::AnyOf(RegValue{REG_SZ, text}, RegValue{REG_SZ, text + std::string(2, '\0')}));
    } else {
      EXPECT_EQ(Default(), Sz("QuillmoorP"));
    }
    EXPECT_EQ(Saved(), fits ? std::nullopt : std::optional<RegValue>(saved));
  }
}

TEST_F(AutoPlay, MissingShellKeyOrEmptyProductKeyDoesNothing) {
  SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("Quillmoor"));
  SetValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault, Sz("play"));
  CreateKey(HKEY_CLASSES_ROOT, kShell + "\\Quillmoor");
  const auto before = ReadTree(HKEY_CLASSES_ROOT, "AudioCD");
  Register("");
  Unregister("");
  EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, "AudioCD"), before);
  EXPECT_EQ(hook().Count("RegOpenKeyExA"), 0);
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
    Operation call;  // a hand-back starts with the product holding the default, "play" saved
    const char* failed;
    int nth;
    std::optional<RegValue> defaultAfter = {}, savedAfter = {};
  };
  const Row rows[] = {
      {.what = "taking it, the saving fails",
       .call = Operation::kTake,
       .failed = "RegSetValueExW",
       .nth = 1,
       .defaultAfter = Sz("play")},
      {.what = "handing it back, the write back fails",
       .call = Operation::kHandBack,
       .failed = "RegSetValueExW",
       .nth = 1,
       .defaultAfter = Sz("QuillmoorP"),
       .savedAfter = Sz("play")},
      {.what = "handing it back, the saved verb cannot be read",
       .call = Operation::kHandBack,
       .failed = "RegQueryValueExW",
       .nth = 2,
       .defaultAfter = Sz("QuillmoorP"),
       .savedAfter = Sz("play")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const bool held = row.call == Operation::kHandBack;
    SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz(held ? "QuillmoorP" : "play"));
    PutValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault,
             held ? std::optional<RegValue>(Sz("play")) : std::nullopt);
    CreateKey(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP");
    hook().Fail(row.failed, row.nth, ERROR_ACCESS_DENIED);
    Make(row.call, "P");
    hook().ClearRules();
    EXPECT_EQ(Default(), row.defaultAfter);
    EXPECT_EQ(Saved(), row.savedAfter);
    // A default that could not be handed back keeps naming a verb that exists.
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP"));
    Make(row.call, "P");
    EXPECT_EQ(Default(), Sz(held ? "play" : "QuillmoorP")) << "the later call";
    EXPECT_EQ(Saved(), held ? std::nullopt : std::optional<RegValue>(Sz("play")));
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP"), !held);
  }
}

// Several products of the maker take the default and are removed, in every
// order. After every step: the default never names a verb key the library
// deleted, the machine's own default is the default or saved, and each
// product's verb key exists exactly while it is installed. After the last
// removal the machine's default (or the one a user set since) is back and
// nothing is saved.
TEST_F(AutoPlay, NoDefaultIsLostWhateverTheProductsAndTheirOrder) {
  const std::string machine = "play", user = "userverb";
  struct Step {
    enum class Kind { kTake, kTakeAsBefore, kRemove, kUserSets } kind;
    char product;
  };
  using Kind = Step::Kind;
  struct Row {
    std::string what;
    bool machineDefault;
    std::vector<Step> steps;
  };
  std::vector<Row> rows;
  const std::string products = "ABC";
  for (size_t count = 1; count <= 3; ++count) {
    std::string takes = products.substr(0, count);
    do {
      std::string removals = takes;
      std::sort(removals.begin(), removals.end());
      do {
        Row row{"take " + takes + ", remove " + removals, true, {}};
        for (char p : takes) row.steps.push_back({Kind::kTake, p});
        for (char p : removals) row.steps.push_back({Kind::kRemove, p});
        rows.push_back(row);
      } while (std::next_permutation(removals.begin(), removals.end()));
    } while (std::next_permutation(takes.begin(), takes.end()));
  }
  rows.push_back({"a product that never took it removed in between",
                  true,
                  {{Kind::kTake, 'A'}, {Kind::kRemove, 'B'}, {Kind::kRemove, 'A'}}});
  rows.push_back(
      {"no machine default",
       false,
       {{Kind::kTake, 'A'}, {Kind::kTake, 'B'}, {Kind::kRemove, 'A'}, {Kind::kRemove, 'B'}}});
  rows.push_back({"a user's default set in between",
                  true,
                  {{Kind::kTake, 'A'},
                   {Kind::kUserSets, ' '},
                   {Kind::kTake, 'B'},
                   {Kind::kRemove, 'A'},
                   {Kind::kRemove, 'B'}}});
  rows.push_back({"first taken the way the earlier build takes it",
                  true,
                  {{Kind::kTakeAsBefore, 'A'},
                   {Kind::kTake, 'B'},
                   {Kind::kRemove, 'A'},
                   {Kind::kRemove, 'B'}}});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
    CreateKey(HKEY_CLASSES_ROOT, kShell + "\\" + machine);
    if (row.machineDefault) SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz(machine));
    std::string expected = row.machineDefault ? machine : "", installed;
    auto verb = [&](char p) { return kShell + "\\QuillmoorProduct" + p; };
    for (const Step& step : row.steps) {
      const std::string product = std::string("Product") + step.product;
      switch (step.kind) {
        case Kind::kTake:
        case Kind::kTakeAsBefore:
          CreateKey(HKEY_CLASSES_ROOT, verb(step.product));
          installed += step.product;
          if (step.kind == Kind::kTake) {
            Register(product);
          } else if (const auto current = Default()) {
            SetValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault, *current);
            SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("Quillmoor" + product));
          }
          break;
        case Kind::kRemove:
          Unregister(product);
          std::erase(installed, step.product);
          break;
        case Kind::kUserSets:
          CreateKey(HKEY_CLASSES_ROOT, kShell + "\\" + user);
          SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz(user));
          expected = user;
          break;
      }
      SCOPED_TRACE("after " + product + (step.kind == Kind::kRemove ? " removed" : " step"));
      const auto current = Default();
      if (current) {
        const std::string name = current->bytes.c_str();
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kShell + "\\" + name))
            << "the default names a deleted verb: " << name;
      }
      if (!expected.empty()) {
        EXPECT_TRUE(current == Sz(expected) || Saved() == Sz(expected)) << expected << " is lost";
      }
      for (char p : products) {
        EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, verb(p)), installed.find(p) != std::string::npos)
            << p;
      }
    }
    EXPECT_EQ(Default(), expected.empty() ? std::nullopt : std::optional<RegValue>(Sz(expected)));
    EXPECT_EQ(Saved(), std::nullopt);
  }
}

TEST_F(AutoPlay, OverlongProductKeyChangesNothing) {
  SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("Quillmoor" + std::string(250, 'k')));
  SetValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault, Sz("play"));
  const auto before = ReadTree(HKEY_CLASSES_ROOT, "AudioCD");
  Unregister(std::string(250, 'k'));
  Register(std::string(250, 'k'));
  EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, "AudioCD"), before);
  EXPECT_EQ(hook().Count("RegOpenKeyExA"), 0);
}

}  // namespace
}  // namespace qmis_test
