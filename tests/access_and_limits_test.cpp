// Each operation's call pattern, from the hook's record of a clean call: the
// rights and options of every open, its steps in their order, the flags,
// code pages and capacities it passes, and each limit exactly and one past.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "library_test.h"
#include "temp_dir.h"

namespace qmis_test {
namespace {

const std::string kShell = "AudioCD\\shell";

// A text of `bytes` bytes with its zero.
RegValue Text(size_t bytes) { return Sz(std::string(bytes - 1, 'v')); }

class AccessAndLimits : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    product_ = sandbox_.NewProduct("Product");
    entry_ = ProductPath(product_);
    handler_ = "Quillmoor" + product_;
    DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
    sandbox_.Own(HKEY_CLASSES_ROOT, "AudioCD");
    CreateKey(HKEY_CLASSES_ROOT, kShell);
  }
  // Whether the library opened the file `path`, or the key `path`.
  bool OpenedFile(const std::string& path) {
    for (const Call& call : hook().Calls("CreateFileW"))
      if (FilePath(call) == path) return true;
    return false;
  }
  bool OpenedKey(const std::string& path) {
    for (const Call& call : hook().Calls("RegOpenKeyExA"))
      if (KeyPath(call) == path) return true;
    return false;
  }
  void HandBack(std::string extension) {
    std::string handler = handler_;
    api().UnregisterSpecificExtension(handler.data(), extension.data());
  }
  // A writable copy of the product key, as the exports take it.
  char* Product() {
    argument_ = product_;
    return argument_.data();
  }
  std::string product_, entry_, handler_, argument_;
};

TEST_F(AccessAndLimits, EveryOpenAsksExactlyTheRightsItsOperationNeeds) {
  const std::string shared = sandbox_.NewSharedKey("Shared");
  const std::string ext = "." + sandbox_.Unique("ext"), fileType = handler_ + "File" + ext;
  sandbox_.Own(HKEY_CLASSES_ROOT, ext);
  sandbox_.Own(HKEY_CLASSES_ROOT, fileType);
  SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(fileType));
  SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Sz("txtfile"));
  CreateKey(HKEY_CLASSES_ROOT, fileType);
  SetValue(HKEY_LOCAL_MACHINE, entry_ + "\\Extensions", ext, Sz(""));
  SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("play"));
  const std::string swept = sandbox_.NewKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "Swept");
  CreateTree(HKEY_LOCAL_MACHINE, swept, {"a-full", "b-empty"});
  SetValue(HKEY_LOCAL_MACHINE, swept + "\\a-full", "v", Dword(1));
  TempDir dir;
  std::string hive = dir / "hive", sweptArg = swept, sharedArg = shared;
  std::string hostLine = "C:\\host.exe -zNone" + product_;

  struct Case {
    const char* operation;
    std::function<void()> run;
    std::vector<std::string> opens;  // as Opens() gives them
  };
  const std::vector<Case> cases = {
      {"claim",
       [&] { api().SetRefcountedKey(Product(), sharedArg.data(), 1); },
       {"create " + entry_ + "\\RefcountList all", "create " + SharedKeyPath(shared) + " all"}},
      {"release",
       [&] { api().RemoveRefcountedKeys(Product()); },
       {"open " + entry_ + " all", "open " + entry_ + "\\RefcountList read",
        "open RefcountList read", "open SOFTWARE\\Quillmoor all", "open " + shared + " all",
        "open " + shared + " read"}},
      {"take AutoPlay",
       [&] { api().RegisterAutoInsertTag(Product()); },
       {"open " + kShell + " all"}},
      {"hand back AutoPlay",
       [&] { api().UnregisterAutoInsertTag(Product()); },
       {"open " + handler_ + " read", "open " + kShell + " all"}},
      {"hand back extensions",
       [&] { api().UnregisterExtensions(Product()); },
       {"open " + ext + " all", "open " + entry_ + "\\Extensions read", "open " + fileType + " all",
        "open " + fileType + " read"}},
      {"sweep",
       [&] { api().KeyClean(HKEY_LOCAL_MACHINE, sweptArg.data()); },
       {"open " + swept + " all", "open a-full all", "open b-empty all", "open b-empty read"}},
      {"save hive",
       [&] { api().RegSaveKey(HKEY_LOCAL_MACHINE, sweptArg.data(), hive.data()); },
       {"create " + swept + " write options 4"}},  // backup semantics
      {"restore hive",
       [&] { api().RegRestoreKey(HKEY_LOCAL_MACHINE, sweptArg.data(), hive.data()); },
       {"create " + swept + " all"}},
      {"park renames",
       [&] { api().BackupPendingFileRename(); },
       {"open " + kSessionManager + " all"}},
      {"merge renames",
       [&] { api().RestorePendingFileRename(); },
       {"open " + kSessionManager + " all"}},
      {"uninstall hook",
       [&] {
         hook().ReplaceCommandLine(hostLine);
         api().UninstInitialize(0, 0, 0);
       },
       {"open Quillmoor" + hostLine.substr(14) + " read", "open " + kShell + " all",
        "open " + DependentsPath(hostLine.substr(14)) + " read",
        "open " + ExtensionsPath(hostLine.substr(14)) + " read",
        "open " + ClaimListPath(hostLine.substr(14)) + " read"}},
  };
  for (const Case& c : cases) {
    hook().ClearLog();
    c.run();
    std::vector<std::string> expected = c.opens;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Opens(hook().Log()), expected) << c.operation;
  }
}

// Text values are read into 260 bytes: 260 with the zero is readable, 261 is
// not, for every value the library reads as text.
TEST_F(AccessAndLimits, TextValuesOfExactly260BytesAreReadAnd261AreNot) {
  const std::string ext = "." + sandbox_.Unique("ext"), fileType = handler_ + "File" + ext;
  sandbox_.Own(HKEY_CLASSES_ROOT, ext);
  struct Reader {
    const char* what;
    std::function<void(size_t bytes)> store;  // the value under test, `bytes` long
    std::function<void()> run;
    std::function<bool()> wasRead;
  };
  const std::vector<Reader> readers = {
      {"AutoPlay default, taken",
       [&](size_t n) { SetValue(HKEY_CLASSES_ROOT, kShell, "", Text(n)); },
       [&] { api().RegisterAutoInsertTag(Product()); },
       [&] { return ReadValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault).has_value(); }},
      {"AutoPlay saved verb, handed back",
       [&](size_t n) {
         SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz(handler_));
         SetValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault, Text(n));
       },
       [&] { api().UnregisterAutoInsertTag(Product()); },
       [&] { return !ReadValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault).has_value(); }},
      // Unreadable, the extension's default counts as the product's own.
      {"extension default",
       [&](size_t n) {
         SetValue(HKEY_CLASSES_ROOT, ext, "", Text(n));
         SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Sz("txtfile"));
       },
       [&] { HandBack(ext); },
       [&] { return ReadValue(HKEY_CLASSES_ROOT, ext, "") != Sz("txtfile"); }},
      {"extension saved type",
       [&](size_t n) {
         SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(fileType));
         SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Text(n));
       },
       [&] { HandBack(ext); },
       [&] { return !ReadValue(HKEY_CLASSES_ROOT, ext, kSavedDefault).has_value(); }},
  };
  for (const Reader& reader : readers) {
    for (size_t bytes : {260u, 261u}) {
      DeleteTree(HKEY_CLASSES_ROOT, kShell);
      CreateKey(HKEY_CLASSES_ROOT, kShell);
      DeleteTree(HKEY_CLASSES_ROOT, ext);
      reader.store(bytes);
      reader.run();
      EXPECT_EQ(reader.wasRead(), bytes == 260) << reader.what << ", " << bytes << " bytes";
    }
  }
}

// List entries: names and data of 260 bytes with the zero are read, 261 are
// passed over.
TEST_F(AccessAndLimits, ListEntriesOfExactly260BytesAreReadAnd261AreNot) {
  TempDir dir;
  const std::string base = dir.path() + "\\";
  const std::string file259 = base + std::string(259 - base.size(), 'f');
  const std::string file260 = base + std::string(260 - base.size(), 'g');
  SetValue(HKEY_LOCAL_MACHINE, entry_ + "\\Dependents", "data259", Sz(file259));
  SetValue(HKEY_LOCAL_MACHINE, entry_ + "\\Dependents", "data260", Sz(file260));
  const std::string name259 = base + std::string(259 - base.size(), 'n');
  const std::string name260 = base + std::string(260 - base.size(), 'm');
  SetValue(HKEY_LOCAL_MACHINE, entry_ + "\\Dependents", name259, Sz(dir / "a"));
  SetValue(HKEY_LOCAL_MACHINE, entry_ + "\\Dependents", name260, Sz(dir / "b"));
  const std::string claim259(259, 'c'), claim260(260, 'd');
  SetValue(HKEY_LOCAL_MACHINE, ClaimListPath(product_), claim259, Dword(1));
  SetValue(HKEY_LOCAL_MACHINE, ClaimListPath(product_), claim260, Dword(1));
  CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor");
  SetValue(HKEY_LOCAL_MACHINE, entry_ + "\\Extensions", "." + sandbox_.Unique("ext"), Sz(""));
  hook().ReplaceCommandLine("C:\\host.exe -f\"x\" -z" + product_);
  api().UninstInitialize(0, 0, 0);
  // What each walk offers, name / data bytes: Extensions reads 260 bytes of
  // ANSI text, RefcountList 4 of bits, Dependents 260 UTF-16 characters of
  // name and of path.
  std::set<std::string> capacities;
  for (const char* walk : {"RegEnumValueA", "RegEnumValueW"})
    for (const Call& call : hook().Calls(walk))
      capacities.insert(std::to_string(NameCapacity(call)) + "/" +
                        std::to_string(DataCapacity(call)));
  EXPECT_EQ(capacities, (std::set<std::string>{"260/260", "260/4", "260/520"}));
  EXPECT_TRUE(OpenedFile(file259));
  EXPECT_FALSE(OpenedFile(file260));
  EXPECT_TRUE(OpenedFile(dir / "a"));
  EXPECT_FALSE(OpenedFile(dir / "b"));
  EXPECT_TRUE(OpenedKey(claim259));
  EXPECT_FALSE(OpenedKey(claim260));
}

// "QmPrevious" keeps the byte count read, zero or no zero; the handback
// writes back the count it reads. The saved text is UTF-16, as stored; the
// product's own name is written as ANSI text.
TEST_F(AccessAndLimits, SavedDefaultKeepsTheByteCountRead) {
  for (const RegValue& stored : {Sz("play"), RegValue{REG_EXPAND_SZ, "play"},
                                 RegValue{REG_SZ, std::string("pl\0ay\0", 6)}}) {
    SetValue(HKEY_CLASSES_ROOT, kShell, "", stored);
    const DWORD size =
        static_cast<DWORD>(ReadStoredValue(HKEY_CLASSES_ROOT, kShell, "")->bytes.size());
    hook().ClearLog();
    api().RegisterAutoInsertTag(Product());
    api().UnregisterAutoInsertTag(Product());
    std::vector<std::string> writes;
    for (const Call& call : hook().Log())
      if (call.function == "RegSetValueExA" || call.function == "RegSetValueExW")
        writes.push_back(ValueName(call) + ":" + std::to_string(ByteCount(call)));
    EXPECT_EQ(writes, (std::vector<std::string>{"QmPrevious:" + std::to_string(size),
                                                ":" + std::to_string(handler_.size() + 1),
                                                ":" + std::to_string(size)}))
        << size;
  }
  // An odd byte count, as only a UTF-16 writer stores it: kept, half unit and all.
  const RegValue odd{REG_SZ, std::string("p\0l\0a", 5)};
  SetStoredValue(HKEY_CLASSES_ROOT, kShell, "", odd);
  api().RegisterAutoInsertTag(Product());
  EXPECT_EQ(ReadStoredValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault), odd);
  api().UnregisterAutoInsertTag(Product());
  EXPECT_EQ(ReadStoredValue(HKEY_CLASSES_ROOT, kShell, ""), odd);
}

TEST_F(AccessAndLimits, EachOperationTakesItsStepsInTheirOrder) {
  const std::string shared = sandbox_.NewSharedKey("Shared");
  const std::string ext = "." + sandbox_.Unique("ext"), fileType = handler_ + "File" + ext;
  sandbox_.Own(HKEY_CLASSES_ROOT, ext);
  sandbox_.Own(HKEY_CLASSES_ROOT, fileType);
  SetValue(HKEY_LOCAL_MACHINE, entry_ + "\\Extensions", ext, Sz(""));
  SavedRenameLists lists;
  const std::string parked("\\??\\C:\\q-a\0\\??\\C:\\q-b\0\0", 22);
  const std::string pending("\\??\\C:\\q-c\0\0\0", 12);
  std::string sharedArg = shared;
  const std::string four = " type 4 bytes 4", sz = " type 1 bytes ";
  // The product's name is written as ANSI text, the saved defaults as UTF-16.
  const std::string handler = std::to_string(handler_.size() + 1), play = "10";
  struct Case {
    const char* operation;
    std::function<void()> setUp, run;
    std::vector<std::string> steps;
  };
  const std::vector<Case> cases = {
      // The claim is recorded first; the mask is read, ORed and written under the lock.
      {"claim",
       [] {},
       [&] { api().SetRefcountedKey(Product(), sharedArg.data(), 1); },
       {"write " + shared + four, "lock", "read Refcount", "write Refcount" + four, "unlock"}},
      // The mask is read and the key deleted under the lock; the list goes last.
      {"release",
       [] {},
       [&] { api().RemoveRefcountedKeys(Product()); },
       {"lock", "read Refcount", "delete key " + shared, "unlock", "delete key RefcountList"}},
      // The earlier default is saved before the product's name is written.
      {"take AutoPlay",
       [&] { SetValue(HKEY_CLASSES_ROOT, kShell, "", Sz("play")); },
       [&] { api().RegisterAutoInsertTag(Product()); },
       {"lock", "read (default)", "write QmPrevious" + sz + play, "write (default)" + sz + handler,
        "unlock"}},
      // The saved verb goes back, as REG_SZ with the bytes read, before it is
      // deleted; the verb key goes below first.
      {"hand back AutoPlay",
       [&] { CreateKey(HKEY_CLASSES_ROOT, kShell + "\\" + handler_ + "\\command"); },
       [&] { api().UnregisterAutoInsertTag(Product()); },
       {"lock", "read (default)", "read QmPrevious", "write (default)" + sz + play,
        "delete value QmPrevious", "delete key command", "delete key " + handler_, "unlock"}},
      {"hand back an extension",
       [&] {
         SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(fileType));
         SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Sz("txtfile"));
         CreateKey(HKEY_CLASSES_ROOT, fileType);
       },
       [&] { api().UnregisterExtensions(Product()); },
       {"read (default)", "read QmPrevious", "write (default) type 1 bytes 16",
        "delete value QmPrevious", "delete key " + fileType}},
      // Parked with the pending list's type and bytes, in UTF-16; the pending
      // list is read again, and goes only as it was parked.
      {"park the renames",
       [&] {
         PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RegValue{7, parked});
       },
       [&] { api().BackupPendingFileRename(); },
       {"lock", "size of PendingFileRenameOperations", "read PendingFileRenameOperations",
        "size of PostponedFileRenameOperations",
        "write PostponedFileRenameOperations type 7 bytes 44",
        "size of PendingFileRenameOperations", "read PendingFileRenameOperations",
        "delete value PendingFileRenameOperations", "unlock"}},
      // Joined in P + Q - 2 bytes (one UTF-16 zero dropped), with the parked
      // list's type, over the pending list as it is read again just before;
      // the parked value goes after.
      {"merge the renames back",
       [&] {
         PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames,
                  RegValue{REG_BINARY, pending});
       },
       [&] { api().RestorePendingFileRename(); },
       {"lock", "size of PostponedFileRenameOperations", "read PostponedFileRenameOperations",
        "size of PendingFileRenameOperations", "read PendingFileRenameOperations",
        "size of PendingFileRenameOperations", "read PendingFileRenameOperations",
        "write PendingFileRenameOperations type 7 bytes 54",
        "delete value PostponedFileRenameOperations", "unlock"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    c.setUp();
    hook().ClearLog();
    c.run();
    EXPECT_THAT(Steps(hook().Log()), ::testing::ElementsAreArray(c.steps));
  }
}

// The flags, code pages and fixed arguments each operation hands the system,
// on every call of the function named.
TEST_F(AccessAndLimits, EachCallPassesTheFlagsAndCodePagesItsOperationNeeds) {
  TempDir dir;
  dir.File("sub\\a.bin", 1);
  dir.File("dependent.txt", 1);
  SetValue(HKEY_LOCAL_MACHINE, entry_ + "\\Dependents", "d", Sz(dir / "dependent.txt"));
  const std::string shared = sandbox_.NewSharedKey("Shared");
  std::string sharedArg = shared, failing = "cmd.exe /c exit 5";
  char text[300];
  const std::string host = ChildCommand("-f\"x\" -z") + product_;
  const uint32_t anySize = 0xFFFFFFFF;  // -1: the text with its zero
  const std::string swept = sandbox_.NewKey(HKEY_CURRENT_USER, "Software\\QmisTests", "swept");
  auto sweep = [&] {
    CreateTree(HKEY_CURRENT_USER, swept, {"empty\\below"});
    api().KeyClean(HKEY_CURRENT_USER, std::string(swept).data());
  };
  struct Case {
    const char* operation;
    std::function<void()> run;
    const char* function;
    std::vector<std::pair<int, uint32_t>> args;         // argument index, value
    std::vector<std::pair<int, uint32_t>> counts = {};  // what a DWORD* argument held
  };
  const std::vector<Case> cases = {
      {"directory walk: ANSI to UTF-16 in the ANSI code page, whole text, 260 units",
       [&] { api().GetCopyFileSize(dir.path().c_str()); },
       "MultiByteToWideChar",
       {{0, CP_ACP}, {1, 0}, {3, anySize}, {5, 260}}},
      {"directory walk: a movable, zero-filled block per subdirectory",
       [&] { api().GetCopyFileSize(dir.path().c_str()); },
       "GlobalAlloc",
       {{0, GMEM_MOVEABLE | GMEM_ZEROINIT}}},
      {"runner: no application name, nothing inherited, creation flags 0, the caller's "
       "environment and folder",
       [&] { api().SilentRunExternalWait(failing.data(), text); },
       "CreateProcessW",
       {{0, 0}, {2, 0}, {3, 0}, {4, FALSE}, {5, 0}, {6, 0}, {7, 0}}},
      {"runner: the system's text, no inserts, the user's language",
       [&] { api().SilentRunExternalWait(failing.data(), text); },
       "FormatMessageW",
       {{0, FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                FORMAT_MESSAGE_ALLOCATE_BUFFER},
        {3, LANG_USER_DEFAULT}}},
      {"dependent's file: read access, shared for reading and writing, existing only",
       [&] {
         hook().ReplaceCommandLine(host);
         api().UninstInitialize(0, 0, 0);
       },
       "CreateFileW",
       {{1, GENERIC_READ},
        {2, FILE_SHARE_READ | FILE_SHARE_WRITE},
        {3, 0},
        {4, OPEN_EXISTING},
        {5, FILE_ATTRIBUTE_NORMAL},
        {6, 0}}},
      {"claim: keys made without class, non-volatile, with default security",
       [&] { api().SetRefcountedKey(Product(), sharedArg.data(), 1); },
       "RegCreateKeyExA",
       {{2, 0}, {3, 0}, {4, REG_OPTION_NON_VOLATILE}, {6, 0}}},
      {"sweep: subkey names into 260 bytes", sweep, "RegEnumKeyA", {{3, 260}}},
      {"sweep: the value probe offers 260 bytes of name, asks for no type or data",
       sweep,
       "RegEnumValueA",
       {{1, 0}, {5, 0}, {6, 0}, {7, 0}},
       {{3, 260}}},
      {"tree deletion: subkey names into 260 bytes, nothing more asked",
       sweep,
       "RegEnumKeyExA",
       {{4, 0}, {5, 0}, {6, 0}, {7, 0}},
       {{3, 260}}},
      {"claim: a lock another account made is opened to wait and release only",
       [&] {
         hook().Fail("CreateMutexA", 0, 0, ERROR_ACCESS_DENIED);
         api().SetRefcountedKey(Product(), sharedArg.data(), 1);
       },
       "OpenMutexA",
       {{0, SYNCHRONIZE | MUTEX_MODIFY_STATE}, {1, FALSE}}},
      {"claim: the lock's mutex is made unowned",
       [&] { api().SetRefcountedKey(Product(), sharedArg.data(), 1); },
       "CreateMutexA",
       {{0, 0}, {1, FALSE}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    hook().ClearLog();
    c.run();
    hook().ClearRules();
    const std::vector<Call> calls = hook().Calls(c.function);
    ASSERT_FALSE(calls.empty()) << c.function;
    for (const Call& call : calls) {
      for (const auto& [index, value] : c.args)
        EXPECT_EQ(call.args[index], value) << "argument " << index;
      for (const auto& [index, value] : c.counts)
        EXPECT_EQ(call.counts[index], value) << "count at argument " << index;
    }
  }
}

}  // namespace
}  // namespace qmis_test
