// The Audio-CD AutoPlay default: taken over and handed back.
#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <vector>

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

// Each call from the values it finds: the handler name matches in any letter
// case, as the registry matches key names; a default the product does not
// hold is never restored over; a default is never left naming the verb key
// the hand-back deletes.
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
      {"taking from the handler name in another case: already held", true, Sz("quillmoorp"),
       Sz("play"), Sz("quillmoorp"), Sz("play")},
      {"handing back from the handler name in another case", false, Sz("quillmoorp"), Sz("play"),
       Sz("play"), none},
      {"handing back, held, nothing saved: the default goes with the verb", false, Sz("QuillmoorP"),
       none, none, none},
      {"handing back over a handler name whose verb key is gone", false, Sz("QuillmoorGone"),
       Sz("play"), Sz("play"), none},
      {"taking over a handler name whose verb key is gone: it is not saved", true,
       Sz("QuillmoorGone"), none, Sz("QuillmoorP"), none},
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

TEST_F(AutoPlay, MissingShellKeyOrEmptyProductKeyDoesNothing) {
  SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("Quillmoor"));
  SetValue(HKEY_CLASSES_ROOT, kShell, "QmPrevious", Sz("play"));
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
    // A default that could not be handed back keeps naming a verb that exists.
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP"));
    row.held ? Unregister("P") : Register("P");
    EXPECT_EQ(Default(), Sz(row.held ? "play" : "QuillmoorP")) << "the later call";
    EXPECT_EQ(Saved(), row.held ? std::nullopt : std::optional<RegValue>(Sz("play")));
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, kShell + "\\QuillmoorP"), !row.held);
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
            SetValue(HKEY_CLASSES_ROOT, kShell, "QmPrevious", *current);
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
  SetValue(HKEY_CLASSES_ROOT, kShell, "QmPrevious", Sz("play"));
  const auto before = ReadTree(HKEY_CLASSES_ROOT, "AudioCD");
  Unregister(std::string(250, 'k'));
  Register(std::string(250, 'k'));
  EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, "AudioCD"), before);
  EXPECT_EQ(hook().Count("RegOpenKeyExA"), 0);
}

}  // namespace
}  // namespace qmis_test
