// File extensions handed back to their earlier file types.
#include <gmock/gmock.h>

#include <algorithm>
#include <string>

#include "library_test.h"

namespace qmis_test {
namespace {

class Extensions : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    product_ = sandbox_.NewProduct("Ext Product");
    handler_ = "Quillmoor" + product_;
    handler_.erase(std::remove(handler_.begin(), handler_.end(), ' '), handler_.end());
  }

  // An extension of this test's own, listed for the product and taken over:
  // default = the product's file type, optionally with a saved type.
  std::string TakeOver(const std::string& stem, const char* saved) {
    const std::string ext = "." + sandbox_.Unique(stem);
    sandbox_.Own(HKEY_CLASSES_ROOT, ext);
    sandbox_.Own(HKEY_CLASSES_ROOT, FileType(ext));
    SetValue(HKEY_LOCAL_MACHINE, List(), ext, Sz("listed"));
    SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(FileType(ext)));
    CreateKey(HKEY_CLASSES_ROOT, ext + "\\ShellNew");
    if (saved != nullptr) SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Sz(saved));
    CreateKey(HKEY_CLASSES_ROOT, FileType(ext) + "\\shell\\open\\command");
    return ext;
  }

  std::string FileType(const std::string& ext) const { return handler_ + "File" + ext; }
  std::string List() const { return ExtensionsPath(product_); }
  void UnregisterAll() { api().UnregisterExtensions(product_.data()); }

  std::string product_;
  std::string handler_;
};

TEST_F(Extensions, SavedTypeComesBackAndTheProductsTypeGoes) {
  const std::string ext = TakeOver("restore", "txtfile");
  UnregisterAll();
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, ""), Sz("txtfile"));
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, kSavedDefault), std::nullopt);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ext + "\\ShellNew"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, FileType(ext)));
}

// A listed name outside the code page is left alone: the ANSI functions
// would take ".łx" as its look-alike ".lx" and hand back another extension.
TEST_F(Extensions, NameOutsideTheCodePageNamesNoLookAlike) {
  const std::string ext = TakeOver("lookalike", nullptr);
  DeleteTree(HKEY_LOCAL_MACHINE, List());
  std::string unicode = ext;
  unicode.replace(unicode.find('l'), 1, "\xc5\x82");  // U+0142
  SetStoredValue(HKEY_LOCAL_MACHINE, List(), unicode, Sz("listed"));
  UnregisterAll();
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, ""), Sz(FileType(ext)));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, FileType(ext)));
}

// A code page that takes no look-alike flag (UTF-8) converts exactly: the
// name is read without it.
TEST_F(Extensions, CodePageWithoutLookAlikesReadsTheNameAsIs) {
  const std::string ext = TakeOver("exact", nullptr);
  hook().Fail("WideCharToMultiByte", 1, 0, ERROR_INVALID_FLAGS);
  UnregisterAll();
  hook().ClearRules();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ext));
}

TEST_F(Extensions, WithoutASavedTypeTheExtensionKeyGoes) {
  const std::string ext = TakeOver("delete", nullptr);
  UnregisterAll();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ext));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, FileType(ext)));
}

TEST_F(Extensions, NoDefaultCountsAsTheProducts) {
  const std::string ext = TakeOver("nodefault", "saved");
  PutValue(HKEY_CLASSES_ROOT, ext, "", std::nullopt);
  UnregisterAll();
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, ""), Sz("saved"));
}

TEST_F(Extensions, AnotherProgramsTakeoverStaysButTheProductsTypeGoes) {
  const std::string ext = TakeOver("other", "txtfile");
  SetValue(HKEY_CLASSES_ROOT, ext, "", Sz("OtherApp.Document"));
  const auto before = ReadTree(HKEY_CLASSES_ROOT, ext);
  UnregisterAll();
  EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, ext), before);
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, ""), Sz("OtherApp.Document"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, FileType(ext)));
}

TEST_F(Extensions, ComparisonIgnoresLetterCase) {
  const std::string ext = TakeOver("case", "txtfile");
  std::string upper = FileType(ext);
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(upper));
  UnregisterAll();
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, ""), Sz("txtfile"));
}

TEST_F(Extensions, ListedExtensionWhoseKeyIsGoneStillLosesItsFileType) {
  const std::string ext = TakeOver("gone", nullptr);
  DeleteTree(HKEY_CLASSES_ROOT, ext);
  UnregisterAll();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, FileType(ext)));
}

TEST_F(Extensions, TheListStaysAndASecondCallChangesNothing) {
  const std::string a = TakeOver("a", "atype");
  const std::string b = TakeOver("b", nullptr);
  SetValue(HKEY_LOCAL_MACHINE, List(), b, Dword(7));  // only the name counts
  const auto list = ReadTree(HKEY_LOCAL_MACHINE, List());
  UnregisterAll();
  EXPECT_EQ(ReadTree(HKEY_LOCAL_MACHINE, List()), list);
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, a, ""), Sz("atype"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, b));
  const auto after = ReadTree(HKEY_CLASSES_ROOT, a);
  UnregisterAll();
  EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, a), after);
}

TEST_F(Extensions, EmptyAndOverlongEntriesTouchNothingAndTheWalkGoesOn) {
  const std::string ext = TakeOver("after", nullptr);
  SetValue(HKEY_LOCAL_MACHINE, List(), "", Sz("unnamed"));
  SetValue(HKEY_LOCAL_MACHINE, List(), std::string(300, 'x'), Sz("too long"));
  SetValue(HKEY_LOCAL_MACHINE, List(), ".data", Sz(std::string(400, 'd')));
  const auto rootKeys = hook().Count("RegDeleteKeyA");
  UnregisterAll();
  for (const Call& call : hook().Calls("RegDeleteKeyA")) {
    EXPECT_FALSE(KeyPath(call).empty());
    EXPECT_NE(KeyPath(call), ".data");
  }
  EXPECT_GT(hook().Count("RegDeleteKeyA"), rootKeys);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ext));

  hook().ClearLog();
  std::string empty, prefix = handler_;
  api().UnregisterSpecificExtension(prefix.data(), empty.data());
  api().UnregisterSpecificExtension(nullptr, empty.data());
  std::string longExt = "." + std::string(250, 'e');
  api().UnregisterSpecificExtension(prefix.data(), longExt.data());
  EXPECT_EQ(hook().WorkLog().size(), 0u);
}

TEST_F(Extensions, MissingListDoesNothing) {
  DeleteTree(HKEY_LOCAL_MACHINE, ProductPath(product_));
  UnregisterAll();
  EXPECT_EQ(hook().Count("RegEnumValueW"), 0);
  api().UnregisterExtensions(nullptr);
}

// The saved type stays whenever it cannot be written back or read, while
// the product's file type goes; a later hand-back with nothing failing
// finishes the job.
TEST_F(Extensions, SavedTypeIsKeptUntilItCanBeHandedBack) {
  struct Row {
    const char* what;
    const char* failed;
    int nth;  // every call when 0
  };
  const Row rows[] = {
      {"writing it back fails", "RegSetValueExW", 0},
      {"it cannot be read (the default can)", "RegQueryValueExW", 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string ext = TakeOver(row.failed, "txtfile");
    hook().Fail(row.failed, row.nth, ERROR_ACCESS_DENIED);
    UnregisterAll();
    hook().ClearRules();
    EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, kSavedDefault), Sz("txtfile"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, FileType(ext)));
    UnregisterAll();
    EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, ""), Sz("txtfile")) << "the later hand-back";
    EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, kSavedDefault), std::nullopt);
  }
  // Longer than 260 bytes: never readable, so never deleted either.
  const std::string ext = TakeOver("long", std::string(300, 't').c_str());
  UnregisterAll();
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, ext, kSavedDefault), Sz(std::string(300, 't')));
}

}  // namespace
}  // namespace qmis_test
