// qmis-inspect on prepared registries: what it reports, what it flags, and
// that it changes nothing.
#include <gmock/gmock.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <string>

#include "library_test.h"
#include "programs.h"
#include "temp_dir.h"

namespace qmis_test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class Inspector : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    product_ = sandbox_.NewProduct("Inspected");
    shared_ = sandbox_.NewSharedKey("Shared");
  }
  ProgramRun Inspect(const std::string& arguments) {
    return RunProgram("\"" + ProgramFolder() + "qmis-inspect.exe\" " + arguments);
  }
  ProgramRun InspectProduct(const std::string& extra = "") {
    return Inspect(extra + " --product \"" + product_ + "\"");
  }
  std::string Handler() const {
    std::string handler = "Quillmoor" + product_;
    handler.erase(std::remove(handler.begin(), handler.end(), ' '), handler.end());
    return handler;
  }
  void Claim(DWORD bits, const Caller& caller = Caller::current()) {
    QMIS_TEST_TRACE_CALLER(caller);
    std::string product = product_, key = shared_;
    ASSERT_EQ(api().SetRefcountedKey(product.data(), key.data(), bits), 1);
  }
  std::string product_;
  std::string shared_;
};

TEST_F(Inspector, ConsistentProductIsReportedWholeAndNothingChanges) {
  Claim(1);
  // Its extension opens as its own file type, and the AutoPlay default is
  // its verb: both keys are there.
  const std::string ext = "." + sandbox_.Unique("ext"), type = Handler() + "File" + ext;
  for (const std::string& key : {ext, type, std::string("AudioCD")}) {
    DeleteTree(HKEY_CLASSES_ROOT, key);
    sandbox_.Own(HKEY_CLASSES_ROOT, key);
  }
  SetValue(HKEY_LOCAL_MACHINE, ExtensionsPath(product_), ext, Sz(""));
  SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(type));
  CreateKey(HKEY_CLASSES_ROOT, type);
  SetValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", "", Sz(Handler()));
  CreateKey(HKEY_CLASSES_ROOT, "AudioCD\\shell\\" + Handler());
  TempDir dir;
  dir.File("dep.txt", 1);
  SetValue(HKEY_LOCAL_MACHINE, DependentsPath(product_), "dep", Sz(dir / "dep.txt"));
  SetValue(HKEY_LOCAL_MACHINE, DependentsPath(product_), "gone", Sz(dir / "none.txt"));
  const auto before = ReadTree(HKEY_LOCAL_MACHINE, ProductPath(product_));
  const ProgramRun run = InspectProduct();
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_THAT(run.output, HasSubstr("claims " + shared_ + " with bits 0x1"));
  EXPECT_THAT(run.output, HasSubstr(shared_ + "  Refcount 0x1"));
  EXPECT_THAT(run.output, HasSubstr("none.txt (file missing: will not run)"));
  EXPECT_THAT(run.output, Not(HasSubstr("dep.txt (file missing")));
  EXPECT_THAT(run.output, HasSubstr("Consistent."));
  EXPECT_EQ(ReadTree(HKEY_LOCAL_MACHINE, ProductPath(product_)), before);
  const ProgramRun json = InspectProduct("--json");
  EXPECT_EQ(json.exitCode, 0u);
  EXPECT_THAT(json.output, HasSubstr("\"consistent\":true"));
  EXPECT_THAT(json.output, HasSubstr("{\"sharedKey\":\"" + shared_ + "\",\"bits\":1}"));
  // The view it read is the one this (32-bit) test program sees too.
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  EXPECT_THAT(run.output, HasSubstr(wow64 ? "Registry view: 32-bit, on 64-bit Windows"
                                          : "Registry view: 32-bit Windows"));
  EXPECT_THAT(json.output,
              HasSubstr(wow64 ? "\"registryView\":\"wow64\"" : "\"registryView\":\"32-bit\""));
}

// Each inconsistency is flagged, in text and JSON, with exit code 1, each
// row on a product made consistent again. A row that reads the whole
// machine says so (a shared key no product claims is shown only there).
TEST_F(Inspector, EachInconsistencyIsFlagged) {
  const std::string mask = SharedKeyPath(shared_), entry = ProductPath(product_);
  const std::string ext = "." + sandbox_.Unique("ext"), own = Handler() + "File" + ext,
                    gone = "QUILLMOOR" + sandbox_.Unique("Gone");
  const std::pair<HKEY, std::string> scratch[] = {
      {HKEY_LOCAL_MACHINE, entry},
      {HKEY_LOCAL_MACHINE, mask},
      {HKEY_CLASSES_ROOT, ext},
      {HKEY_CLASSES_ROOT, gone + "file" + ext},
      {HKEY_CLASSES_ROOT, "AudioCD"},
      {HKEY_LOCAL_MACHINE, kUninstall + "\\RefcountList"},
      {HKEY_LOCAL_MACHINE, kMaker + "\\HKEY_LOCAL_MACHINE"}};
  for (const auto& [root, path] : scratch) sandbox_.Own(root, path);
  auto list = [&](const std::string& type) {
    SetValue(HKEY_LOCAL_MACHINE, entry + "\\Extensions", ext, Sz(""));
    SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(type));
  };
  struct Row {
    std::function<void()> change;
    std::string flagged;
    bool wholeMachine = false;
  };
  const Row rows[] = {
      {[&] { SetValue(HKEY_LOCAL_MACHINE, mask, kClaimMask, Dword(3)); },
       "bits 0x2 are claimed by no product"},
      {[&] { DeleteTree(HKEY_LOCAL_MACHINE, mask); },
       "claims shared key " + shared_ + ", which is gone"},
      {[&] {
         SetValue(HKEY_LOCAL_MACHINE, mask, kClaimMask, {REG_BINARY, std::string(8, '\1')});
       },
       "Refcount has type 3 and 8 bytes"},
      {[&] { SetValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", "", Sz("gone")); },
       "Audio-CD AutoPlay default names verb gone, whose key HKCR\\AudioCD\\shell\\gone is "
       "missing"},
      {[&] { list(own); }, "product " + product_ + " lists extension " + ext +
                               ", whose type key HKCR\\" + own + " is missing"},
      {[&] {
         list(gone + "file" + ext);
         CreateKey(HKEY_CLASSES_ROOT, gone + "file" + ext);
       },
       "lists extension " + ext + ", whose type " + gone + "file" + ext +
           " belongs to no installed product (no uninstall key has the handler name " + gone + ")"},
      {[&] { SetValue(HKEY_LOCAL_MACHINE, entry + "\\RefcountList", "hkcu\\x", Dword(1)); },
       "shared key hkcu\\x: the name begins with a registry root"},
      {[&] {
         SetValue(HKEY_LOCAL_MACHINE, kMaker + "\\HKEY_LOCAL_MACHINE\\x", kClaimMask, Dword(1));
       },
       "shared key HKEY_LOCAL_MACHINE\\x: the name begins with a registry root", true},
      {[&] { SetValue(HKEY_LOCAL_MACHINE, kUninstall + "\\RefcountList", shared_, Dword(1)); },
       "claim list HKLM\\" + kUninstall + "\\RefcountList stands directly under the Uninstall key"},
      {[&] { DeleteTree(HKEY_LOCAL_MACHINE, entry); }, "product " + product_ + " not found"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.flagged);
    for (const auto& [root, path] : scratch) DeleteTree(root, path);
    Claim(1);
    row.change();
    const std::string only = row.wholeMachine ? "" : " --product \"" + product_ + "\"";
    const ProgramRun run = Inspect(only), report = Inspect("--json" + only);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_THAT(run.output, HasSubstr(row.flagged));
    EXPECT_THAT(report.output,
                HasSubstr(std::regex_replace(row.flagged, std::regex(R"(\\)"), R"(\\)")));
  }
}

TEST_F(Inspector, ExtensionsAutoPlayAndRenamesAreDecoded) {
  const std::string handler = Handler();
  const std::string ext = "." + sandbox_.Unique("ext");
  sandbox_.Own(HKEY_CLASSES_ROOT, ext);
  SetValue(HKEY_LOCAL_MACHINE, ExtensionsPath(product_), ext, Sz(""));
  SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(handler + "File" + ext));
  SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Sz("txtfile"));
  ProgramRun run;
  {
    const SavedRenameLists lists;
    SetValue(HKEY_LOCAL_MACHINE, kSessionManager, kParkedRenames,
             {REG_MULTI_SZ, std::string("\\??\\C:\\a\0\\??\\C:\\b\0\\??\\C:\\c\0\0\0", 29)});
    run = InspectProduct();
  }
  EXPECT_THAT(run.output,
              HasSubstr("extension " + ext +
                        ": held by the product, restorable from QmPrevious (\"txtfile\")"));
  EXPECT_THAT(run.output, HasSubstr("\\??\\C:\\a -> \\??\\C:\\b"));
  EXPECT_THAT(run.output, HasSubstr("\\??\\C:\\c -> (delete)"));
}

// Bad usage gives 2; a copy with no QMIS.dll beside it or in ..\bin gives 3.
TEST_F(Inspector, BadUsageGivesTwoAndNoLibraryThree) {
  TempDir dir;
  ASSERT_TRUE(CopyFileA((ProgramFolder() + "qmis-inspect.exe").c_str(),
                        (dir / "qmis-inspect.exe").c_str(), FALSE));
  const std::string inspect = "\"" + ProgramFolder() + "qmis-inspect.exe\" ";
  const std::pair<std::string, DWORD> rows[] = {
      {inspect + "--bogus", 2}, {inspect + "--product", 2}, {dir / "qmis-inspect.exe", 3}};
  for (const auto& [line, code] : rows) EXPECT_EQ(RunProgram(line).exitCode, code) << line;
}

}  // namespace
}  // namespace qmis_test
