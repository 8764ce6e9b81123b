// Key-tree deletion on Wine's registry, which refuses to delete a key that
// still has subkeys, so the pass structure runs for real.
#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <vector>

#include "internals.h"
#include "qmis/handles.h"

namespace qmis_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kTestRoot = "Software\\QmisTests";

class DeleteKeyTree : public InternalsTest {
 protected:
  void SetUp() override {
    InternalsTest::SetUp();
    key_ = sandbox_.NewKey(HKEY_CURRENT_USER, kTestRoot, "tree");
  }

  LONG Delete(const std::string& path) {
    return internals().DeleteKeyTree(HKEY_CURRENT_USER, path.c_str());
  }

  // The subkey paths RegDeleteKeyA was given, in order.
  std::vector<std::string> Deletions() {
    std::vector<std::string> paths;
    for (const Call& call : hook().Calls("RegDeleteKeyA")) paths.push_back(KeyPath(call));
    return paths;
  }

  std::string key_;
};

TEST_F(DeleteKeyTree, MissingKeyGivesFileNotFoundAndChangesNothing) {
  CreateTree(HKEY_CURRENT_USER, key_, {"stays"});
  EXPECT_EQ(Delete(key_ + "\\missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_THAT(ReadTree(HKEY_CURRENT_USER, key_), ElementsAre("stays"));
  EXPECT_THAT(Deletions(), IsEmpty());
}

TEST_F(DeleteKeyTree, KeyWithoutSubkeysGoesInOnePass) {
  CreateKey(HKEY_CURRENT_USER, key_);
  SetValue(HKEY_CURRENT_USER, key_, "v", Sz("x"));
  EXPECT_EQ(Delete(key_), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key_));
  EXPECT_THAT(Deletions(), ElementsAre(key_));
}

TEST_F(DeleteKeyTree, FourSubkeysTakeThreePassesInTheStatedOrder) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A", "B", "C", "D"});
  EXPECT_EQ(Delete(key_), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key_));
  // Pass 1 takes A and C, pass 2 B, pass 3 D and then the key; the key's
  // own deletes in passes 1 and 2 are refused while subkeys remain.
  EXPECT_THAT(Deletions(), ElementsAre("A", "C", key_, "B", key_, "D", key_));
  std::vector<std::string> outcomes;
  for (const Call& call : hook().Calls("RegDeleteKeyA"))
    outcomes.push_back(KeyPath(call) + (call.result == ERROR_SUCCESS ? " gone" : " refused"));
  EXPECT_THAT(outcomes, ElementsAre("A gone", "C gone", key_ + " refused", "B gone",
                                    key_ + " refused", "D gone", key_ + " gone"));
}

TEST_F(DeleteKeyTree, EachSubkeyGoesWithItsSubtreeBeforeTheNextIndex) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A", "A\\x", "A\\y", "A\\x\\deep", "B", "C\\z"});
  SetValue(HKEY_CURRENT_USER, key_ + "\\A\\x\\deep", "v", Dword(1));
  EXPECT_EQ(Delete(key_), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key_));
  // A's subtree first, depth first.
  const std::vector<std::string> deletions = Deletions();
  EXPECT_THAT(std::vector<std::string>(deletions.begin(),
                                       deletions.begin() + std::min<size_t>(deletions.size(), 2)),
              ElementsAre("deep", "x"));
}

TEST_F(DeleteKeyTree, PathOfTwoKeysDeletesOnlyTheLast) {
  CreateTree(HKEY_CURRENT_USER, key_, {"X", "X\\Y", "X\\Y\\Z", "X\\other"});
  EXPECT_EQ(Delete(key_ + "\\X\\Y"), ERROR_SUCCESS);
  EXPECT_THAT(ReadTree(HKEY_CURRENT_USER, key_), ElementsAre("X", "X\\other"));
}

TEST_F(DeleteKeyTree, EmptyOrNullPathDeletesNothing) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A", "B"});
  qmis::UniqueKey parent;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_ALL_ACCESS, parent.put()), 0);
  EXPECT_EQ(internals().DeleteKeyTree(parent.get(), ""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(internals().DeleteKeyTree(parent.get(), nullptr), ERROR_INVALID_PARAMETER);
  parent.reset();
  EXPECT_THAT(ReadTree(HKEY_CURRENT_USER, key_), ElementsAre("A", "B"));
  EXPECT_EQ(hook().WorkLog().size(), 0u);
}

TEST_F(DeleteKeyTree, NameBlockThatCannotBeHadEndsBeforeAnyEnumeration) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A", "B"});
  for (const char* failed : {"GlobalAlloc", "GlobalLock"}) {
    SCOPED_TRACE(failed);
    hook().ClearLog();
    hook().Fail(failed, 0, 0, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(Delete(key_), ERROR_NOT_ENOUGH_MEMORY);
    hook().ClearRules();
    EXPECT_EQ(hook().Count("RegEnumKeyExA"), 0);
    EXPECT_THAT(ReadTree(HKEY_CURRENT_USER, key_), ElementsAre("A", "B"));
  }
}

TEST_F(DeleteKeyTree, OpenFailingAtTheStartOfAPassReturnsItsError) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A", "B", "C"});
  // The first open is the one at the start of pass 1.
  hook().Fail("RegOpenKeyA", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Delete(key_), ERROR_ACCESS_DENIED);
  EXPECT_THAT(ReadTree(HKEY_CURRENT_USER, key_), ElementsAre("A", "B", "C"));

  // In pass 2, after A and C went in pass 1: they stay deleted.
  hook().ClearRules();
  CreateKey(HKEY_CURRENT_USER, key_ + "\\D");
  hook().Replace("RegOpenKeyA", [this](const uint32_t* a) -> uint32_t {
    static int passStarts = 0;
    const std::string path = SubKeyArgument(a);
    // Opens of the key alternate: start of a pass, then the end-of-pass test.
    if (path == key_ && ++passStarts == 3) return ERROR_ACCESS_DENIED;
    return hook().CallReal("RegOpenKeyA", a);
  });
  EXPECT_EQ(Delete(key_), ERROR_ACCESS_DENIED);
  EXPECT_THAT(ReadTree(HKEY_CURRENT_USER, key_), ElementsAre("B", "D"));
}

TEST_F(DeleteKeyTree, KeyNotReadableStillEnumeratesUntilTheEnumerationFails) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A", "B", "C", "A\\x"});
  hook().Fail("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(internals().QuerySubkeyCount(HKEY_CURRENT_USER, key_.c_str()), 0xFFFFFFFFu);
  EXPECT_EQ(Delete(key_), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key_));
}

TEST_F(DeleteKeyTree, UndeletableSubkeyEndsTheOperationInsteadOfLooping) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A", "B", "C"});
  hook().Replace("RegDeleteKeyA", [this](const uint32_t* a) -> uint32_t {
    if (SubKeyArgument(a) == "B") return ERROR_ACCESS_DENIED;
    return hook().CallReal("RegDeleteKeyA", a);
  });
  EXPECT_EQ(Delete(key_), ERROR_ACCESS_DENIED);
  EXPECT_THAT(ReadTree(HKEY_CURRENT_USER, key_), ElementsAre("B"));
  // Pass 1 takes A and C (B moved under the passed index); pass 2 fails on
  // B and on the key, changes nothing, and ends the operation.
  EXPECT_THAT(Deletions(), ElementsAre("A", "C", key_, "B", key_));
}

TEST_F(DeleteKeyTree, UndeletableKeyWithoutSubkeysEndsAfterOnePass) {
  CreateKey(HKEY_CURRENT_USER, key_);
  hook().Fail("RegDeleteKeyA", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Delete(key_), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key_));
  EXPECT_EQ(hook().Count("RegDeleteKeyA"), 1);
}

TEST_F(DeleteKeyTree, DeleteThatFailsWhileTheKeyGoesAnywayReturnsItsError) {
  CreateKey(HKEY_CURRENT_USER, key_);
  hook().Replace("RegDeleteKeyA", [this](const uint32_t* a) -> uint32_t {
    hook().CallReal("RegDeleteKeyA", a);
    return ERROR_ACCESS_DENIED;
  });
  EXPECT_EQ(Delete(key_), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key_));
}

TEST_F(DeleteKeyTree, FlushesTheOpenedKeyAndTheParentAfterEachDelete) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A"});
  EXPECT_EQ(Delete(key_), ERROR_SUCCESS);
  const std::vector<Call> log = hook().Log();
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].function != "RegDeleteKeyA") continue;
    ASSERT_LT(i + 1, log.size());
    EXPECT_EQ(log[i + 1].function, "RegFlushKey");
    EXPECT_EQ(HandleArgument(log[i + 1]), HandleArgument(log[i])) << "the key deleted from";
  }
  // After A's delete (on the key's opened handle), after the subkey loop on
  // that handle, and after the key's delete (on its parent).
  EXPECT_EQ(hook().Count("RegFlushKey"), 3);
}

TEST_F(DeleteKeyTree, SubkeyCountOfAKey) {
  CreateTree(HKEY_CURRENT_USER, key_, {"A", "B", "C", "A\\x"});
  EXPECT_EQ(internals().QuerySubkeyCount(HKEY_CURRENT_USER, key_.c_str()), 3u);
  EXPECT_EQ(internals().QuerySubkeyCount(HKEY_CURRENT_USER, (key_ + "\\B").c_str()), 0u);
  EXPECT_EQ(internals().QuerySubkeyCount(HKEY_CURRENT_USER, (key_ + "\\none").c_str()),
            0xFFFFFFFFu);
}

}  // namespace
}  // namespace qmis_test
