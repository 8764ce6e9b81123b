// Hostile input: every string argument of every export in turn null, empty,
// at and around the 260-byte limit, very long, or full of quotes,
// backslashes and high bytes, placed against a guard page; and generated
// cases checked against small models of the rules.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "guard_buffer.h"
#include "internals.h"
#include "library_test.h"
#include "temp_dir.h"
#include "wide.h"

namespace qmis_test {
namespace {

const std::string kHostileRoot = "Software\\QmisHostile";

// The hostile strings: sizes around the buffer limit and awkward content.
std::vector<std::string> HostileStrings() {
  std::vector<std::string> strings = {
      "",      "\"", "\\", "\"\"", "a\"b\\c", "\xe9\xff\x81\x5c", " -f -z \" \\ ",
      "-z\x81"};  // under code page 932, a lead byte cut off by the zero
  for (size_t length : {259u, 260u, 261u, 1000u, 70000u}) {
    std::string text(length, 'h');
    for (size_t i = 7; i < length; i += 13) text[i] = "\\\" \xe9-zf"[i % 8];
    strings.push_back(text);
  }
  return strings;
}

class HostileInput : public LibraryTest {
 protected:
  void TearDown() override {
    DeleteTree(HKEY_CURRENT_USER, kHostileRoot);
    LibraryTest::TearDown();
  }

  // No registry path the library used may hold a cut-off copy of `text`:
  // a path that begins like it holds it whole.
  void ExpectNoCutOffNames(const std::string& text, const Caller& caller = Caller::current()) {
    QMIS_TEST_TRACE_CALLER(caller);
    if (text.size() < 40) return;
    const std::string head = text.substr(0, 40);
    for (const Call& call : hook().Log()) {
      if (call.function.rfind("Reg", 0) != 0) continue;
      for (const std::string& argument : call.strings) {
        const size_t at = argument.find(head);
        if (at != std::string::npos) {
          EXPECT_NE(argument.find(text), std::string::npos)
              << call.function << " was given a cut-off name of " << text.size() << " bytes";
        }
      }
    }
    hook().ClearLog();
  }
};

// The hostile strings themselves: run again under code page 932, where their
// high bytes are lead and trail bytes of double-byte characters.
using HostileText = HostileInput;

TEST_F(HostileText, ProductKeysAndNames) {
  for (const std::string& text : HostileStrings()) {
    SCOPED_TRACE(text.size());
    GuardedBuffer a = GuardedBuffer::String(text);
    GuardedBuffer b = GuardedBuffer::String(text);
    std::string name = "QmisHostileKey", product = "QmisHostileProduct";
    api().SetRefcountedKey(a.data(), name.data(), 1);
    ExpectNoCutOffNames(text);
    api().SetRefcountedKey(product.data(), b.data(), 1);
    ExpectNoCutOffNames(text);
    api().RemoveRefcountedKeys(a.data());
    api().RemoveRefcountedKeys(product.data());
    ExpectNoCutOffNames(text);
    api().RegisterAutoInsertTag(a.data());
    api().UnregisterAutoInsertTag(a.data());
    api().UnregisterExtensions(a.data());
    api().UnregisterSpecificExtension(a.data(), b.data());
    std::string prefix = "QuillmoorX";
    api().UnregisterSpecificExtension(prefix.data(), b.data());
    ExpectNoCutOffNames(text);
    DeleteTree(HKEY_LOCAL_MACHINE, ProductPath(text));
    DeleteTree(HKEY_LOCAL_MACHINE, SharedKeyPath(text));
  }
  DeleteTree(HKEY_LOCAL_MACHINE, SharedKeyPath("QmisHostileKey"));
  DeleteTree(HKEY_LOCAL_MACHINE, kUninstall + "\\QmisHostileProduct");
  EXPECT_EQ(api().SetRefcountedKey(nullptr, nullptr, 1), 0);
}

// A null pointer in any position, or a product key too long for the
// library's key paths, is refused before any call to the system.
TEST_F(HostileInput, NullsAnywhereAndOverlongProductKeysReachNoSystemCall) {
  std::string s = "QmisHostileKey", file = "C:\\qmis-hostile-none.hive";
  char text[300] = "untouched";
  hook().ClearLog();
  EXPECT_EQ(api().RegSaveKey(HKEY_CURRENT_USER, nullptr, file.data()), 0);
  EXPECT_EQ(api().RegSaveKey(HKEY_CURRENT_USER, s.data(), nullptr), 0);
  EXPECT_EQ(api().RegRestoreKey(HKEY_CURRENT_USER, nullptr, file.data()), 0);
  EXPECT_EQ(api().RegRestoreKey(HKEY_CURRENT_USER, s.data(), nullptr), 0);
  EXPECT_EQ(api().SetRefcountedKey(nullptr, s.data(), 1), 0);
  EXPECT_EQ(api().SetRefcountedKey(s.data(), nullptr, 1), 0);
  api().UnregisterSpecificExtension(nullptr, s.data());
  api().UnregisterSpecificExtension(s.data(), nullptr);
  EXPECT_EQ(api().SilentRunExternalWait(nullptr, text), 0x80004005u);
  EXPECT_EQ(api().SilentRunExternalWait(s.data(), nullptr), 0x80004005u);
  EXPECT_EQ(api().RenameDirectory(nullptr, s.data()), 0);
  EXPECT_EQ(api().RenameDirectory(s.data(), nullptr), 0);
  wchar_t wideText[300] = L"untouched";
  EXPECT_EQ(api().RegSaveKeyW(HKEY_CURRENT_USER, nullptr, L"C:\\x.hive"), 0);
  EXPECT_EQ(api().RegSaveKeyW(HKEY_CURRENT_USER, L"x", nullptr), 0);
  EXPECT_EQ(api().RegRestoreKeyW(HKEY_CURRENT_USER, nullptr, L"C:\\x.hive"), 0);
  EXPECT_EQ(api().RegRestoreKeyW(HKEY_CURRENT_USER, L"x", nullptr), 0);
  EXPECT_EQ(api().SilentRunExternalWaitW(nullptr, wideText), 0x80004005u);
  EXPECT_EQ(api().SilentRunExternalWaitW(L"x", nullptr), 0x80004005u);
  EXPECT_EQ(api().GetCopyFileSizeW(nullptr), 0u);
  EXPECT_EQ(api().RenameDirectoryW(nullptr, L"x"), 0);
  EXPECT_EQ(api().RenameDirectoryW(L"x", nullptr), 0);
  EXPECT_STREQ(wideText, L"untouched");
  // Too long for the handler name, and for the list paths only.
  for (const size_t length : {size_t{255}, size_t{200}}) {
    std::string product(length, 'p');
    api().UnregisterExtensions(product.data());
  }
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(hook().WorkLog().size(), 0u);
  // The uninstall hook with such a key reads the command line, and takes
  // only the AutoPlay hand-back, whose handler name still fits.
  hook().ReplaceCommandLine("\"C:\\host.exe\" -f\"x\" -z" + std::string(200, 'p'));
  EXPECT_EQ(api().UninstInitialize(0, 0, 0), 0);
  const std::vector<Call> opens = hook().Calls("RegOpenKeyExA");
  ASSERT_FALSE(opens.empty());
  for (const Call& open : opens) EXPECT_EQ(KeyPath(open), "AudioCD\\shell");
}

TEST_F(HostileText, RegistryPathsAndFiles) {
  TempDir dir;
  // The empty directory argument sums the current directory: make it ours.
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(dir.path().c_str());
  for (const std::string& text : HostileStrings()) {
    SCOPED_TRACE(text.size());
    GuardedBuffer path = GuardedBuffer::String(kHostileRoot + "\\" + text);
    GuardedBuffer file = GuardedBuffer::String(dir / text);
    std::string fine = kHostileRoot + "\\ok", fineFile = dir / "ok.hive";
    api().KeyClean(HKEY_CURRENT_USER, path.data());
    api().RegSaveKey(HKEY_CURRENT_USER, path.data(), fineFile.data());
    DeleteFileA(fineFile.c_str());
    api().RegSaveKey(HKEY_CURRENT_USER, fine.data(), file.data());
    api().RegRestoreKey(HKEY_CURRENT_USER, path.data(), file.data());
    api().GetCopyFileSize(file.data());
    GuardedBuffer raw = GuardedBuffer::String(text);
    api().GetCopyFileSize(raw.data());
    api().RenameDirectory(file.data(), raw.data());
    DeleteFileA(file.data());
    // The same through the Unicode entry points.
    GuardedBuffer widePath = GuardedBuffer::String(Wide(kHostileRoot + "\\" + text, CP_ACP));
    GuardedBuffer wideFile = GuardedBuffer::String(Wide(dir / text, CP_ACP));
    GuardedBuffer wideRaw = GuardedBuffer::String(Wide(text, CP_ACP));
    api().RegSaveKeyW(HKEY_CURRENT_USER, widePath.wide(), Wide(fineFile).c_str());
    DeleteFileA(fineFile.c_str());
    api().RegSaveKeyW(HKEY_CURRENT_USER, Wide(fine).c_str(), wideFile.wide());
    api().RegRestoreKeyW(HKEY_CURRENT_USER, widePath.wide(), wideFile.wide());
    api().GetCopyFileSizeW(wideFile.wide());
    api().GetCopyFileSizeW(wideRaw.wide());
    api().RenameDirectoryW(wideFile.wide(), wideRaw.wide());
    DeleteFileW(wideFile.wide());
  }
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(api().KeyClean(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(HostileText, CommandLinesAndSpaces) {
  for (const std::string& text : HostileStrings()) {
    SCOPED_TRACE(text.size());
    GuardedBuffer command = GuardedBuffer::String(text.empty() ? "C:\\nothing-here.exe" : text);
    char errorText[300] = "untouched";
    api().SilentRunExternalWait(command.data(), errorText);
    GuardedBuffer wideCommand =
        GuardedBuffer::String(Wide(text.empty() ? "C:\\nothing-here.exe" : text, CP_ACP));
    wchar_t wideErrorText[300] = L"untouched";
    api().SilentRunExternalWaitW(wideCommand.wide(), wideErrorText);
    GuardedBuffer spaced = GuardedBuffer::String(text);
    api().RemoveSpaces(spaced.data(), static_cast<DWORD>(text.size()));
    // The host's own command line, read by the uninstall hook.
    GuardedBuffer line = GuardedBuffer::String(text);
    GuardedBuffer wideLine = GuardedBuffer::String(Wide(text, CP_ACP));
    hook().Replace("GetCommandLineA", [&](const uint32_t*) {
      return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(line.data()));
    });
    hook().Replace("GetCommandLineW", [&](const uint32_t*) {
      return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(wideLine.wide()));
    });
    EXPECT_EQ(api().UninstInitialize(0, 0, 0), 0);
    hook().ClearRules();
    ExpectNoCutOffNames(text);
  }
}

// Each refusal leaves its code as the thread's last error: a null or empty
// argument ERROR_INVALID_PARAMETER, a path that does not fit
// ERROR_FILENAME_EXCED_RANGE, a value of another type ERROR_INVALID_DATATYPE,
// an existing file ERROR_FILE_EXISTS, nothing to do ERROR_FILE_NOT_FOUND; a
// call that did its work ERROR_SUCCESS.
TEST_F(HostileInput, EachRefusalLeavesItsCode) {
  SavedRenameLists lists;
  TempDir dir;
  dir.File("exists.hive", 1);
  std::string k = "QmisHostileKey", empty, none = "QmisHostileNone", typed = "QmisHostileTyped";
  std::string longName(300, 'p'), product = "QmisHostileProduct", exists = dir / "exists.hive";
  std::string spaced = "a b";
  char text[300];
  SetValue(HKEY_LOCAL_MACHINE, SharedKeyPath(typed), kClaimMask, Sz("x"));
  struct Row {
    const char* what;
    std::function<void()> call;
    DWORD code;
  };
  const Row rows[] = {
      {"claim, null product key", [&] { api().SetRefcountedKey(nullptr, k.data(), 1); }, 87},
      {"claim, empty product key", [&] { api().SetRefcountedKey(empty.data(), k.data(), 1); }, 87},
      {"claim, a name too long", [&] { api().SetRefcountedKey(longName.data(), k.data(), 1); },
       ERROR_FILENAME_EXCED_RANGE},
      {"claim over a mask of another type",
       [&] { api().SetRefcountedKey(product.data(), typed.data(), 1); }, ERROR_INVALID_DATATYPE},
      {"release, nothing claimed", [&] { api().RemoveRefcountedKeys(none.data()); },
       ERROR_FILE_NOT_FOUND},
      {"release, empty product key", [&] { api().RemoveRefcountedKeys(empty.data()); }, 87},
      {"sweep, empty path", [&] { api().KeyClean(HKEY_CURRENT_USER, empty.data()); }, 87},
      {"directory size, a path too long", [&] { api().GetCopyFileSize(longName.c_str()); },
       ERROR_FILENAME_EXCED_RANGE},
      {"directory size, null", [&] { api().GetCopyFileSizeW(nullptr); }, 87},
      {"runner, null command", [&] { api().SilentRunExternalWait(nullptr, text); }, 87},
      {"rename, a path too long", [&] { api().RenameDirectory(longName.c_str(), exists.c_str()); },
       ERROR_FILENAME_EXCED_RANGE},
      {"hive save over an existing file",
       [&] { api().RegSaveKey(HKEY_CURRENT_USER, k.data(), exists.data()); }, ERROR_FILE_EXISTS},
      {"backup, nothing pending", [&] { api().BackupPendingFileRename(); }, ERROR_FILE_NOT_FOUND},
      {"restore, nothing parked", [&] { api().RestorePendingFileRename(); }, ERROR_FILE_NOT_FOUND},
      {"AutoPlay hand-back, empty product key",
       [&] { api().UnregisterAutoInsertTag(empty.data()); }, 87},
      {"extensions hand-back, nothing listed", [&] { api().UnregisterExtensions(none.data()); },
       ERROR_FILE_NOT_FOUND},
      {"uninstall hook, no -z on the command line",
       [&] {
         hook().ReplaceCommandLine("C:\\host.exe -f\"x\"");
         api().UninstInitialize(0, 0, 0);
       },
       87},
      {"space removal, a length over 260", [&] { api().RemoveSpaces(spaced.data(), 261); }, 87},
      {"space removal", [&] { api().RemoveSpaces(spaced.data(), 3); }, ERROR_SUCCESS},
      {"version query", [&] { api().GetInternalBuildNum(); }, ERROR_SUCCESS},
  };
  for (const Row& row : rows) {
    SetLastError(0xDEADBEEF);
    row.call();
    const DWORD code = GetLastError();
    EXPECT_EQ(code, row.code) << row.what;
  }
  hook().ClearRules();
  DeleteTree(HKEY_LOCAL_MACHINE, SharedKeyPath(typed));
  DeleteTree(HKEY_LOCAL_MACHINE, ProductPath(product));
}

// A log that cannot be written changes nothing: with QMIS_LOG naming a file
// in a folder that does not exist, a read-only file, or the debugger, each
// call's result, last error and effect are those without the log.
TEST_F(HostileInput, ALogThatCannotBeWrittenChangesNothing) {
  TempDir dir;
  dir.File("read-only.log", 0);
  SetFileAttributesA((dir / "read-only.log").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::string product = "QmisHostileLogged", key = "QmisHostileLoggedKey";
  auto run = [&] {
    std::vector<std::string> seen;
    std::string p = product, k = key, empty;
    auto note = [&](const std::string& what, DWORD result) {
      seen.push_back(what + " " + std::to_string(result) + " " + std::to_string(GetLastError()));
    };
    note("claim", api().SetRefcountedKey(p.data(), k.data(), 1));
    note("empty claim", api().SetRefcountedKey(empty.data(), k.data(), 1));
    const auto after = ReadTree(HKEY_LOCAL_MACHINE, SharedKeyPath(key));
    note("release", api().RemoveRefcountedKeys(p.data()));
    note("release again", api().RemoveRefcountedKeys(p.data()));
    for (const std::string& line : after) seen.push_back(line);
    return seen;
  };
  const std::vector<std::string> withoutLog = run();
  for (const std::string& target : {dir / "no such folder\\qmis.log", dir / "read-only.log",
                                    std::string("debug"), dir / std::string(260, 'l')}) {
    SCOPED_TRACE(target);
    SetEnvironmentVariableA("QMIS_LOG", target.c_str());
    EXPECT_EQ(run(), withoutLog);
    SetEnvironmentVariableA("QMIS_LOG", nullptr);
  }
  SetFileAttributesA((dir / "read-only.log").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// `text` with every character a regular expression gives a meaning escaped.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// Each call's line names the call and its arguments as given (text quoted,
// cut after 80 characters; null; a root by its name), its result (in hex
// when large), and for a failure the step, what it acted on and the
// system's text for the status.
TEST_F(HostileInput, EachLogLineSaysWhatWasCalledAndWhyItFailed) {
  TempDir dir, counted;
  counted.File("big.bin", 70000);
  const std::string log = dir / "qmis.log", missing = dir / "missing-\xce\xa9";
  SetEnvironmentVariableA("QMIS_LOG", log.c_str());
  std::string empty, key = "x", product(100, 'p'), shared = "K", prefix(255, 'q'), ext = ".e";
  api().KeyClean(HKEY_CURRENT_USER, empty.data());
  api().KeyClean(reinterpret_cast<HKEY>(0x12345), key.data());
  api().GetCopyFileSizeW(Wide(missing).c_str());
  api().RenameDirectoryW(nullptr, nullptr);
  hook().Fail("RegCreateKeyExA", 1, ERROR_ACCESS_DENIED);
  api().SetRefcountedKey(product.data(), shared.data(), 1);
  hook().ClearRules();
  api().GetCopyFileSize(counted.path().c_str());
  api().UnregisterSpecificExtension(prefix.data(), ext.data());
  hook().Fail("FormatMessageW", 0, 0, ERROR_NOT_ENOUGH_MEMORY);
  api().GetCopyFileSizeW(L"C:\\qmis-gone");
  hook().ClearRules();
  SetEnvironmentVariableA("QMIS_LOG", nullptr);
  std::ifstream in(log, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    ASSERT_TRUE(line.ends_with("\r")) << line;
    line.pop_back();
    lines.push_back(line.substr(line.find(' ', line.find("pid ") + 4) + 1));
  }
  const std::string d = counted.path();
  const std::string text = " \\(.+\\)";  // the system's text for the status
  const std::vector<std::string> expected = {
      "QmUninstall_KeyClean\\(HKCU, \"\"\\) = 87; argument check: error 87" + text,
      "QmUninstall_KeyClean\\(0x12345, \"x\"\\) = 6; RegOpenKeyExA x: error 6" + text,
      "QMSetup_GetCopyFileSizeW\\(\"C:[^\"]{78}\\.\\.\\.\"\\) = 0; FindFirstFileW " +
          Escaped(missing) + ".*: error 3" + text,
      "QmRenameDirectoryW\\(null, null\\) = 0; argument check: error 87" + text,
      "QMSetup_SetRefcountedKey\\(\"" + std::string(80, 'p') +
          "...\", \"K\", 1\\) = 0; RegCreateKeyExA .+: error 5" + text,
      "QMSetup_GetCopyFileSize\\(\"" + Escaped(d) + "\"\\) = 0x11170",
      "UnregisterSpecificExtension\\(\"" + std::string(80, 'q') + "...\", \".e\"\\); [^:]+ " +
          prefix + ": error 206" + text,
      "QMSetup_GetCopyFileSizeW\\(\"C:\\\\qmis-gone\"\\) = 0; FindFirstFileW .*: error 3",
  };
  ASSERT_EQ(lines.size(), expected.size()) << ::testing::PrintToString(lines);
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines.at(i), std::regex(expected.at(i)))) << lines.at(i);
}

// Many threads in the library at once: every call gives its result, and
// each thread its own last error.
TEST_F(HostileInput, ManyThreadsAtOnceEachGetTheirOwnResult) {
  TempDir dir;
  dir.File("a.bin", 7);
  constexpr int kThreads = 24;
  std::atomic<int> inside{0};
  hook().Replace("FindFirstFileW", [&](const uint32_t* a) -> uint32_t {
    // Every thread waits here until all are inside a call (or a while).
    ++inside;
    for (int wait = 0; wait < 500 && inside < kThreads; ++wait) Sleep(10);
    return hook().CallReal("FindFirstFileW", a);
  });
  std::vector<std::string> results(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      const bool found = i % 2 == 0;
      const std::wstring path = Wide(found ? dir.path() : dir / "missing");
      SetLastError(12345);
      const DWORD size = api().GetCopyFileSizeW(path.c_str());
      results[i] = std::to_string(size) + " " + std::to_string(GetLastError());
    });
  }
  for (std::thread& thread : threads) thread.join();
  hook().ClearRules();
  EXPECT_EQ(inside, kThreads);
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(results[i], i % 2 == 0 ? "7 0" : "0 3") << i;
  }
}

// A read the system reports whole, with far more bytes than the buffer the
// library offered: taken as one too long, never used to copy, index or
// write back (a size that were used would fault at once).
TEST_F(HostileInput, NoSizeBeyondTheBufferOfferedIsEverUsed) {
  constexpr DWORD kBeyond = 0x01000000;
  const std::string product = sandbox_.NewProduct("Sized"), shell = "AudioCD\\shell";
  const std::string entry = ProductPath(product);
  SavedRenameLists lists;
  TempDir dir;
  dir.File("script.txt", 1);
  const std::string pending = std::string("\\??\\C:\\a\0\0\0", 11);
  struct Row {
    const char* what;
    const char* function;
    std::function<void()> run, check;
  };
  const Row rows[] = {
      {.what = "the AutoPlay default",
       .function = "RegQueryValueExW",
       .run = [&] { api().RegisterAutoInsertTag(std::string(product).data()); },
       .check =
           [&] {
             EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, shell, ""), Sz("play"));
             EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, shell, kSavedDefault), std::nullopt);
           }},
      {.what = "the pending rename list",
       .function = "RegQueryValueExW",
       .run = [&] { EXPECT_EQ(api().BackupPendingFileRename(), 0); },
       .check =
           [&] {
             EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames),
                       (RegValue{REG_MULTI_SZ, pending}));
           }},
      {.what = "a dependent's path",
       .function = "RegEnumValueW",
       .run =
           [&] {
             hook().ReplaceCommandLine("C:\\host.exe -f\"x\" -z" + product);
             api().UninstInitialize(0, 0, 0);
           },
       .check = [&] { EXPECT_EQ(hook().Count("CreateProcessW"), 0); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
    sandbox_.Own(HKEY_CLASSES_ROOT, "AudioCD");
    SetValue(HKEY_CLASSES_ROOT, shell, "", Sz("play"));
    SetValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, {REG_MULTI_SZ, pending});
    SetValue(HKEY_LOCAL_MACHINE, entry + "\\Dependents", "a", Sz(dir / "script.txt"));
    const bool query = std::string(row.function) == "RegQueryValueExW";
    hook().Replace(row.function, [&](const uint32_t* a) -> uint32_t {
      const uint32_t status = hook().CallReal(row.function, a);
      BYTE* data = query ? QueriedData(a) : EnumeratedData(a);
      if (status == ERROR_SUCCESS && data != nullptr)
        *(query ? QueriedSize(a) : EnumeratedSize(a)) += kBeyond;
      return status;
    });
    hook().ClearLog();
    row.run();
    hook().ClearRules();
    row.check();
    // Nor is it passed on: no write carries the size the system claimed.
    for (const Call& call : hook().Calls("RegSetValueExW")) EXPECT_LT(ByteCount(call), kBeyond);
  }
  DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
}

// Each Unicode entry point gives what its ANSI twin gives for an empty path,
// one that fits (259 characters) and one that does not (260), and hands an
// unpaired surrogate to the system as it is.
TEST_F(HostileInput, UnicodeEntryPointsRefuseAsTheirAnsiTwinsDo) {
  TempDir dir;
  dir.File("counted.bin", 7);
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(dir.path().c_str());  // what the empty directory sums
  const std::string base = dir.path() + "\\";
  for (const std::string& path : {std::string(), base + std::string(259 - base.size(), 'n'),
                                  base + std::string(260 - base.size(), 'n')}) {
    SCOPED_TRACE(path.size());
    std::string ansi = path, other = base + "other", command = path;
    const std::wstring wide = Wide(path), wideOther = Wide(other);
    EXPECT_EQ(api().GetCopyFileSizeW(wide.c_str()), api().GetCopyFileSize(ansi.c_str()));
    EXPECT_EQ(api().RenameDirectoryW(wide.c_str(), wideOther.c_str()),
              api().RenameDirectory(ansi.c_str(), other.c_str()));
    std::string key = kHostileRoot;
    const int saved = api().RegSaveKey(HKEY_CURRENT_USER, key.data(), ansi.data());
    DeleteFileA(ansi.c_str());
    EXPECT_EQ(api().RegSaveKeyW(HKEY_CURRENT_USER, Wide(key).c_str(), wide.c_str()), saved);
    DeleteFileA(ansi.c_str());
    char text[300] = "untouched";
    wchar_t wideText[300] = L"untouched";
    EXPECT_EQ(api().SilentRunExternalWaitW(wide.c_str(), wideText),
              api().SilentRunExternalWait(command.data(), text));
  }
  SetCurrentDirectoryA(previous);
  // Whichever of its paths is too long, a call is refused with that reason.
  const std::wstring overlong(260, L'k'), hive = Wide(dir / "never.hive"),
                                          folder = Wide(dir.path());
  EXPECT_EQ(api().RegSaveKeyW(HKEY_CURRENT_USER, overlong.c_str(), hive.c_str()), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(api().RegRestoreKeyW(HKEY_CURRENT_USER, overlong.c_str(), hive.c_str()), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  const std::wstring key = Wide(kHostileRoot);
  EXPECT_EQ(api().RegRestoreKeyW(HKEY_CURRENT_USER, key.c_str(), overlong.c_str()), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  api().RenameDirectoryW(folder.c_str(), overlong.c_str());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(PathExists(dir.path()));
  std::wstring lone = Wide(dir.path()) + L"\\a";
  lone += static_cast<wchar_t>(0xD800);
  lone += L"b";
  std::wstring searched;
  hook().Replace("FindFirstFileW", [&](const uint32_t* a) {
    searched = SearchPattern(a);
    return hook().CallReal("FindFirstFileW", a);
  });
  EXPECT_EQ(api().GetCopyFileSizeW(lone.c_str()), 0u);
  EXPECT_EQ(searched, lone + L"\\*.*");
}

// Generated cases -------------------------------------------------------

std::string Model_RemoveSpaces(const std::string& text, DWORD length) {
  if (length > 260) return text;
  std::string head = text.substr(0, std::min<size_t>(length, text.size()));
  head.erase(std::remove(head.begin(), head.end(), ' '), head.end());
  return head;
}

TEST_F(HostileText, SpaceRemovalMatchesItsModel) {
  std::mt19937 random(20261208);
  for (int i = 0; i < 2000; ++i) {
    std::string text(random() % 300, 'x');
    for (char& c : text) c = " a\t\xe9"[random() % 4];
    const DWORD length = random() % 3 == 0 ? random() : random() % 320;
    GuardedBuffer buffer = GuardedBuffer::String(text);
    api().RemoveSpaces(buffer.data(), length);
    ASSERT_EQ(std::string(buffer.data()), Model_RemoveSpaces(text, length))
        << "seed 20261208, case " << i << ", length " << length;
  }
}

// The readers' rules for single-byte text: first marker, one quote off each
// end, nothing that would not fit.
std::pair<int, std::string> Model_Read(const std::string& line, const std::string& marker,
                                       bool after) {
  const size_t at = line.find(marker);
  if (at == std::string::npos) return {0, ""};
  std::string result = after ? line.substr(at + marker.size()) : line.substr(0, at);
  if (!result.empty() && result.front() == '"') result.erase(0, 1);
  if (!result.empty() && result.back() == '"') result.pop_back();
  if (result.size() >= 260) return {0, ""};
  return {1, result};
}

using GeneratedReaders = InternalsTest;

TEST_F(GeneratedReaders, CommandLineReadersMatchTheirModel) {
  ASSERT_NE(GetACP(), 932u) << "the model is for single-byte code pages";
  std::mt19937 random(7);
  const char* pieces[] = {" -f", "-z", "\"", " ", "a", "C:\\", "-F", "-Z", "x-", "z"};
  for (int i = 0; i < 3000; ++i) {
    std::string line;
    const int count = random() % 12;
    for (int p = 0; p < count; ++p) line += pieces[random() % 10];
    if (random() % 8 == 0)
      line.insert(random() % (line.size() + 1), std::string(250 + random() % 20, 'l'));
    GuardedBuffer guarded = GuardedBuffer::String(line);
    GuardedBuffer wideGuarded = GuardedBuffer::String(Wide(line));
    wchar_t wideOut[MAX_PATH];
    const auto path = Model_Read(line, " -f", false);
    ASSERT_EQ(internals().GetUninstallerPath(wideGuarded.wide(), wideOut), path.first)
        << "seed 7, case " << i << ": " << line;
    ASSERT_EQ(Narrow(wideOut), path.second) << "seed 7, case " << i << ": " << line;
    char out[MAX_PATH];
    const auto product = Model_Read(line, "-z", true);
    ASSERT_EQ(internals().GetProductArg(guarded.data(), out), product.first)
        << "seed 7, case " << i << ": " << line;
    ASSERT_EQ(std::string(out), product.second) << "seed 7, case " << i << ": " << line;
  }
}

// Random trees, up to a few hundred keys with random values and keys that
// grant only read access, go whole.
TEST_F(GeneratedReaders, RandomTreesAreDeletedWhole) {
  for (unsigned seed : {21u, 22u, 23u}) {
    std::mt19937 random(seed);
    const std::string root = kHostileRoot + "\\tree" + std::to_string(seed);
    DeleteTree(HKEY_CURRENT_USER, root);
    std::vector<std::string> keys = {root};
    const int count = 50 + static_cast<int>(random() % 200);
    for (int i = 0; i < count; ++i) {
      const std::string key = keys[random() % keys.size()] + "\\n" + std::to_string(i);
      CreateKey(HKEY_CURRENT_USER, key);
      if (random() % 4 == 0) SetValue(HKEY_CURRENT_USER, key, random() % 2 ? "" : "v", Dword(i));
      keys.push_back(key);
    }
    for (int i = 0; i < 5; ++i)
      SetKeyDacl(HKEY_CURRENT_USER, keys[1 + random() % (keys.size() - 1)], "D:P(A;;KR;;;WD)");
    ASSERT_EQ(internals().DeleteKeyTree(HKEY_CURRENT_USER, root.c_str()), ERROR_SUCCESS)
        << "seed " << seed;
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, root)) << "seed " << seed;
  }
}

// Claims and releases over several products and keys, against the rules:
// each key's mask is the OR of the bits claimed and not yet released (a
// product's latest claim on a key replaces its earlier one), and a key goes
// exactly when a release brings its mask to zero.
TEST_F(HostileInput, ClaimsAndReleasesMatchTheirModel) {
  const std::vector<std::string> products = {"QmisModelP0", "QmisModelP1", "QmisModelP2"};
  const std::vector<std::string> keys = {"QmisModel\\K0", "QmisModel\\K1", "QmisModel\\K2\\Deep"};
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 random(seed);
    std::map<std::string, DWORD> mask;                           // existing keys
    std::map<std::string, std::map<std::string, DWORD>> claims;  // product -> key -> bits
    for (int step = 0; step < 120; ++step) {
      std::string product = products[random() % products.size()];
      if (random() % 3 != 0) {
        std::string key = keys[random() % keys.size()];
        const DWORD bits = 1u << (random() % 4);
        ASSERT_EQ(api().SetRefcountedKey(product.data(), key.data(), bits), 1);
        claims[product][key] = bits;
        mask[key] |= bits;
      } else {
        const LONG result = api().RemoveRefcountedKeys(product.data());
        const bool hadClaims = !claims[product].empty();
        for (const auto& [key, bits] : claims[product]) {
          auto it = mask.find(key);
          if (it == mask.end()) continue;
          it->second &= ~bits;
          if (it->second == 0) mask.erase(it);
        }
        claims[product].clear();
        ASSERT_EQ(result, hadClaims ? 0 : 1) << "seed " << seed << ", step " << step;
      }
      for (const std::string& key : keys) {
        const auto value = ReadValue(HKEY_LOCAL_MACHINE, SharedKeyPath(key), kClaimMask);
        ASSERT_EQ(value.has_value(), mask.count(key) == 1)
            << "seed " << seed << ", step " << step << ", " << key;
        if (value) {
          ASSERT_EQ(value, Dword(mask[key])) << "seed " << seed << ", step " << step << ", " << key;
        }
      }
    }
    for (std::string product : products) api().RemoveRefcountedKeys(product.data());
    DeleteTree(HKEY_LOCAL_MACHINE, SharedKeyPath("QmisModel"));
    for (const std::string& product : products)
      DeleteTree(HKEY_LOCAL_MACHINE, ProductPath(product));
  }
}

// Random trees swept against the rule: direct subkeys whose branch holds no
// value (and opens with full access) go, and the one that moves into a
// deleted one's place waits for the next call.
TEST_F(HostileInput, SweepsMatchTheirModel) {
  for (unsigned seed : {11u, 12u, 13u, 14u}) {
    std::mt19937 random(seed);
    const std::string root = kHostileRoot + "\\sweep";
    DeleteTree(HKEY_CURRENT_USER, root);
    CreateKey(HKEY_CURRENT_USER, root);
    struct Branch {
      std::string name;
      bool holds = false;
    };
    std::vector<Branch> branches;
    for (int b = 0; b < 12; ++b) {
      Branch branch{"b" + std::to_string(10 + b)};
      const int depth = random() % 4;
      std::string path = root + "\\" + branch.name;
      CreateKey(HKEY_CURRENT_USER, path);
      for (int d = 0; d < depth; ++d) {
        path += "\\k" + std::to_string(random() % 3);
        CreateKey(HKEY_CURRENT_USER, path);
      }
      if (random() % 3 == 0) {
        SetValue(HKEY_CURRENT_USER, path, random() % 2 ? "" : "v", Dword(1));
        branch.holds = true;
      } else if (random() % 5 == 0) {
        SetKeyDacl(HKEY_CURRENT_USER, path,
                   "D:P(A;;KR;;;WD)");  // cannot be opened with full access
        branch.holds = true;
      }
      branches.push_back(branch);
    }
    for (int call = 0; call < 3; ++call) {
      std::string path = root;
      ASSERT_EQ(api().KeyClean(HKEY_CURRENT_USER, path.data()), ERROR_SUCCESS);
      for (size_t i = 0; i < branches.size(); ++i) {
        if (!branches[i].holds) branches.erase(branches.begin() + static_cast<long>(i));
      }
      std::vector<std::string> expected, actual;
      for (const Branch& branch : branches) expected.push_back(branch.name);
      for (const std::string& line : ReadTree(HKEY_CURRENT_USER, root))
        if (line.find('\\') == std::string::npos && line.find(':') == std::string::npos)
          actual.push_back(line);
      ASSERT_EQ(actual, expected) << "seed " << seed << ", call " << call;
    }
  }
}

}  // namespace
}  // namespace qmis_test
