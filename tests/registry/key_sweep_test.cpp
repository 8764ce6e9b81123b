// Sweeping empty branches out of a key.
#include <gmock/gmock.h>

#include <string>
#include <thread>

#include "library_test.h"

namespace qmis_test {
namespace {

using ::testing::ElementsAre;

class KeySweep : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    key_ = sandbox_.NewKey(HKEY_CURRENT_USER, "Software\\QmisTests", "sweep");
    CreateKey(HKEY_CURRENT_USER, key_);
  }
  LONG Clean() { return Clean(key_); }
  LONG Clean(std::string path) { return api().KeyClean(HKEY_CURRENT_USER, path.data()); }
  std::vector<std::string> Keys() {
    std::vector<std::string> keys;
    for (const std::string& line : ReadTree(HKEY_CURRENT_USER, key_))
      if (line.find(':') == std::string::npos) keys.push_back(line);
    return keys;
  }
  std::string key_;
};

TEST_F(KeySweep, EmptyBranchGoesAndABranchWithAValueStaysWhole) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A\\x\\y", "A\\z", "B\\empty", "B\\m\\n", "C\\long"});
  SetValue(HKEY_CURRENT_USER, key_ + "\\B\\m\\n", "v", Dword(1));
  // A value whose name is longer than the probe's buffer is a value too.
  SetValue(HKEY_CURRENT_USER, key_ + "\\C\\long", std::string(300, 'v'), Sz(""));
  SetValue(HKEY_CURRENT_USER, key_, "own", Sz("the swept key's values do not matter"));
  EXPECT_EQ(Clean(), ERROR_SUCCESS);
  EXPECT_THAT(Keys(), ElementsAre("B", "B\\empty", "B\\m", "B\\m\\n", "C", "C\\long"));
}

TEST_F(KeySweep, SetDefaultValueCountsAsAValue) {
  CreateTree(HKEY_CURRENT_USER, key_, {"D"});
  SetValue(HKEY_CURRENT_USER, key_ + "\\D", "", Sz(""));
  EXPECT_EQ(Clean(), ERROR_SUCCESS);
  EXPECT_THAT(Keys(), ElementsAre("D"));
}

TEST_F(KeySweep, NeighbouringEmptyBranchesTakeTwoCalls) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A", "B", "C"});
  EXPECT_EQ(Clean(), ERROR_SUCCESS);
  EXPECT_THAT(Keys(), ElementsAre("B"));
  EXPECT_EQ(Clean(), ERROR_SUCCESS);
  EXPECT_THAT(Keys(), ElementsAre());
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key_));
}

// A missing key; and a null or empty path, which would name the root itself
// (all its empty top-level keys would go), refused before anything is opened.
TEST_F(KeySweep, MissingKeyOrEmptyPathIsRefused) {
  EXPECT_EQ(Clean(key_ + "\\missing"), ERROR_FILE_NOT_FOUND);
  hook().ClearLog();
  EXPECT_EQ(api().KeyClean(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Clean(""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(hook().WorkLog().size(), 0u);
}

TEST_F(KeySweep, BranchHoldingAKeyWithoutFullAccessStaysWhole) {
  CreateTree(HKEY_CURRENT_USER, key_, {"L\\locked\\below", "L\\free", "E"});
  SetKeyDacl(HKEY_CURRENT_USER, key_ + "\\L\\locked", "D:P(A;;KR;;;WD)");
  EXPECT_EQ(Clean(), ERROR_SUCCESS);
  EXPECT_THAT(Keys(), ElementsAre("L", "L\\free", "L\\locked", "L\\locked\\below"));
}

TEST_F(KeySweep, FailuresInsideTheWalkAreNotReported) {
  struct Row {
    const char* failed;
    int nth;
    std::vector<std::string> left;
  };
  const Row rows[] = {
      {"RegDeleteKeyA", 0, {"A", "B", "B\\c"}},
      {"RegEnumKeyA", 2, {"B", "B\\c"}},  // B's level ends at once, so B stays
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.failed);
    CreateTree(HKEY_CURRENT_USER, key_, {"A", "B\\c"});
    hook().Fail(row.failed, row.nth, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Clean(), ERROR_SUCCESS);
    hook().ClearRules();
    EXPECT_THAT(Keys(), ::testing::ElementsAreArray(row.left));
  }
}

TEST_F(KeySweep, TwoSweepsOnTwoThreadsGiveTheSingleThreadedResult) {
  const std::string one = key_ + "\\one", two = key_ + "\\two";
  for (const std::string& root : {one, two}) {
    for (int i = 0; i < 40; ++i) {
      const std::string branch = root + "\\k" + std::to_string(i);
      CreateTree(HKEY_CURRENT_USER, branch, {"a", "b\\c"});
      if (i % 4 == 0) SetValue(HKEY_CURRENT_USER, branch + "\\b\\c", "v", Dword(i));
    }
  }
  std::thread first([&] {
    for (int i = 0; i < 6; ++i) Clean(one);
  });
  std::thread second([&] {
    for (int i = 0; i < 6; ++i) Clean(two);
  });
  first.join();
  second.join();
  for (const std::string& root : {one, two}) {
    for (int i = 0; i < 40; ++i) {
      EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, root + "\\k" + std::to_string(i)), i % 4 == 0)
          << root << " " << i;
    }
  }
}

}  // namespace
}  // namespace qmis_test
