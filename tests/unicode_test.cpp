// Names the ANSI code page cannot spell, carried whole: the rename lists,
// the saved defaults, a dependent and its host, and the Unicode entry
// points. CTest runs it under code page 1252 and again under 932, where the
// Japanese name is in the code page and the others are not.
#include <gmock/gmock.h>

#include <functional>
#include <string>
#include <vector>

#include "library_test.h"
#include "programs.h"
#include "qmis/handles.h"
#include "temp_dir.h"
#include "wide.h"

namespace qmis_test {
namespace {

const char kShell[] = "AudioCD\\shell";

// Greek, Cyrillic, Chinese, a letter the ANSI functions turn into a
// look-alike ("best fit": l), one outside the Basic Multilingual Plane (a
// pair of surrogates in UTF-16), and Japanese.
const std::vector<std::string> kNames = {"Ελληνικά", "Кириллица", "測試",
                                         "złoty",    "𝄞clef",     "日本語"};

// Text as the system stores a REG_SZ of it: UTF-16 with its zero.
RegValue StoredSz(const std::string& utf8) {
  return {REG_SZ, Utf16Bytes(utf8) + std::string(2, '\0')};
}

void MakeFile(const std::wstring& path, DWORD size, const Caller& caller = Caller::current()) {
  QMIS_TEST_TRACE_CALLER(caller);
  const qmis::UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file) << Narrow(path);
  const std::string bytes(size, 'u');
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), size, &written, nullptr);
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The program's own folder in UTF-16, for copying the test's programs.
std::wstring Program(const char* name) { return Wide(ProgramFolder() + name, CP_ACP); }

class Unicode : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    root_ = Wide(dir_.path(), CP_ACP) + L"\\";
    product_ = sandbox_.NewProduct("Product");
    handler_ = "Quillmoor" + product_;
    DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
    sandbox_.Own(HKEY_CLASSES_ROOT, "AudioCD");
    CreateKey(HKEY_CLASSES_ROOT, kShell);
  }
  char* Product() {
    argument_ = product_;
    return argument_.data();
  }
  std::wstring Path(const std::string& utf8) const { return root_ + Wide(utf8); }

  TempDir dir_;
  SavedRenameLists lists_;
  std::wstring root_;
  std::string product_, handler_, argument_;
};

// Every operation that carries a name through, for each name: what it gets
// back must be exactly what went in.
TEST_F(Unicode, EveryNameIsCarriedWhole) {
  struct Row {
    const char* what;
    std::function<void(const std::string& name)> check;
  };
  const std::vector<Row> rows = {
      {"a rename scheduled by the system, parked and merged back",
       [&](const std::string& name) {
         const std::wstring file = Path(name + ".txt");
         MakeFile(file, 1);
         PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, std::nullopt);
         ASSERT_TRUE(MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
         const auto scheduled =
             ReadStoredValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
         ASSERT_TRUE(scheduled.has_value());
         ASSERT_NE(scheduled->bytes.find(Utf16Bytes(name)), std::string::npos);
         EXPECT_EQ(api().BackupPendingFileRename(), 1);
         EXPECT_EQ(ReadStoredValue(HKEY_LOCAL_MACHINE, kSessionManager, kParkedRenames), scheduled);
         EXPECT_EQ(api().RestorePendingFileRename(), 1);
         EXPECT_EQ(ReadStoredValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames),
                   scheduled);
         PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, std::nullopt);
       }},
      {"the AutoPlay default, taken and handed back",
       [&](const std::string& name) {
         SetStoredValue(HKEY_CLASSES_ROOT, kShell, "", StoredSz(name));
         api().RegisterAutoInsertTag(Product());
         EXPECT_EQ(ReadStoredValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault), StoredSz(name));
         api().UnregisterAutoInsertTag(Product());
         EXPECT_EQ(ReadStoredValue(HKEY_CLASSES_ROOT, kShell, ""), StoredSz(name));
         EXPECT_EQ(ReadStoredValue(HKEY_CLASSES_ROOT, kShell, kSavedDefault), std::nullopt);
       }},
      {"an extension's saved file type, handed back",
       [&](const std::string& name) {
         const std::string ext = "." + sandbox_.Unique("ext");
         sandbox_.Own(HKEY_CLASSES_ROOT, ext);
         SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(handler_ + "File" + ext));
         SetStoredValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, StoredSz(name));
         std::string handler = handler_, extension = ext;
         api().UnregisterSpecificExtension(handler.data(), extension.data());
         EXPECT_EQ(ReadStoredValue(HKEY_CLASSES_ROOT, ext, ""), StoredSz(name));
       }},
      {"a dependent in such a folder, run by a host in such a folder",
       [&](const std::string& name) {
         const std::wstring host = Path(name + " host\\qmis-uninstall-host.exe");
         CreateDirectoryW(Path(name + " host").c_str(), nullptr);
         CreateDirectoryW(Path(name + " dependent").c_str(), nullptr);
         ASSERT_TRUE(CopyFileW(Program("qmis-uninstall-host.exe").c_str(), host.c_str(), FALSE));
         ASSERT_TRUE(
             CopyFileW(Program("QMIS.dll").c_str(), Path(name + " host\\QMIS.dll").c_str(), FALSE));
         // The dependent's uninstall removes a file of its own.
         const std::wstring marker = Path(name + " dependent\\" + name + ".dat");
         const std::wstring script = Path(name + " dependent\\" + name + ".txt");
         MakeFile(marker, 1);
         MakeFile(script, 0);
         {
           const qmis::UniqueFile out(
               CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
           const std::string text = "file " + Narrow(marker) + "\n";
           DWORD written = 0;
           WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
         }
         SetStoredValue(HKEY_LOCAL_MACHINE, DependentsPath(product_), "d",
                        {REG_SZ, Utf16Bytes(Narrow(script)) + std::string(2, '\0')});
         const std::wstring own = Path(name + " host\\own.txt");
         MakeFile(own, 0);
         EXPECT_EQ(RunWithoutOutput(L"\"" + host + L"\" -f\"" + own + L"\" -z" + Wide(product_)),
                   0u);
         EXPECT_FALSE(Exists(marker)) << "the dependent's uninstall did not run";
       }},
      {"the directory size of such a folder, and its rename",
       [&](const std::string& name) {
         MakeFile(Path(name), 0);  // a file of the name beside the folder
         CreateDirectoryW(Path(name + "-dir").c_str(), nullptr);
         CreateDirectoryW(Path(name + "-dir\\" + name).c_str(), nullptr);
         MakeFile(Path(name + "-dir\\" + name + ".bin"), 10);
         MakeFile(Path(name + "-dir\\" + name + "\\" + name + ".bin"), 5);
         ASSERT_NE(api().GetCopyFileSizeW, nullptr);
         EXPECT_EQ(api().GetCopyFileSizeW(Path(name + "-dir").c_str()), 15u);
         EXPECT_EQ(
             api().RenameDirectoryW(Path(name + "-dir").c_str(), Path(name + "-moved").c_str()), 0);
         EXPECT_TRUE(Exists(Path(name + "-moved\\" + name + "\\" + name + ".bin")));
       }},
      {"a program of that name, run silently",
       [&](const std::string& name) {
         const std::wstring program = Path(name + ".exe");
         ASSERT_TRUE(CopyFileW(Program("qmis-test-child.exe").c_str(), program.c_str(), FALSE));
         wchar_t text[MAX_PATH] = L"untouched";
         ASSERT_NE(api().SilentRunExternalWaitW, nullptr);
         EXPECT_EQ(api().SilentRunExternalWaitW((L"\"" + program + L"\" 5").c_str(), text), 5u);
         wchar_t expected[MAX_PATH] = L"";
         FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 5,
                        LANG_USER_DEFAULT, expected, MAX_PATH, nullptr);
         EXPECT_EQ(std::wstring(text), expected);
       }},
      {"a hive saved to and restored from a file of that name",
       [&](const std::string& name) {
         const std::string key = sandbox_.NewKey(HKEY_CURRENT_USER, "Software\\QmisTests", "hive");
         const std::wstring hive = Path(name + ".hive");
         ASSERT_NE(api().RegSaveKeyW, nullptr);
         EXPECT_EQ(api().RegSaveKeyW(HKEY_CURRENT_USER, Wide(key).c_str(), hive.c_str()), 1);
         EXPECT_TRUE(Exists(hive));
         hook().ClearLog();
         EXPECT_EQ(api().RegRestoreKeyW(HKEY_CURRENT_USER, Wide(key).c_str(), hive.c_str()), 1);
         // Wine's restore is a stub: what it was given is what can be checked.
         ASSERT_EQ(hook().Count("RegRestoreKeyW"), 1);
         EXPECT_EQ(FilePath(hook().Calls("RegRestoreKeyW").at(0)), Narrow(hive));
       }},
  };
  for (const std::string& name : kNames) {
    for (const Row& row : rows) {
      SCOPED_TRACE(name + ": " + row.what);
      row.check(name);
    }
  }
}

// A restart carries out exactly the scheduled deletions: none of the names
// is turned into another, and the file the best-fit look-alike of "złoty"
// names is left alone.
TEST_F(Unicode, RestartDeletesExactlyTheScheduledFiles) {
  const std::wstring namesake = Path("zloty.txt");
  MakeFile(namesake, 1);
  PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, std::nullopt);
  for (const std::string& name : kNames) {
    MakeFile(Path(name + ".txt"), 1);
    ASSERT_TRUE(MoveFileExW(Path(name + ".txt").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  }
  ASSERT_EQ(api().BackupPendingFileRename(), 1);
  ASSERT_EQ(api().RestorePendingFileRename(), 1);
  ASSERT_EQ(RunWithoutOutput(L"wineboot.exe -r"), 0u);
  for (const std::string& name : kNames)
    EXPECT_FALSE(Exists(Path(name + ".txt"))) << name << ".txt was not deleted";
  EXPECT_TRUE(Exists(namesake)) << "zloty.txt, which nobody scheduled, was deleted";
}

}  // namespace
}  // namespace qmis_test
