// Running a program silently for its exit code and message text.
#include <gmock/gmock.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "library_test.h"
#include "temp_dir.h"
#include "wide.h"

namespace qmis_test {
namespace {

constexpr DWORD kFailed = 0x80004005;

class SilentRun : public LibraryTest {
 protected:
  DWORD Run(const std::string& arguments, char* errorText) {
    std::string command = ChildCommand(arguments);
    return api().SilentRunExternalWait(command.data(), errorText);
  }
  static std::string SystemText(DWORD code) {
    char text[1024] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                   LANG_USER_DEFAULT, text, sizeof text, nullptr);
    return text;
  }
  void Fill(char* buffer) {
    std::memset(buffer, 0xBD, 300);
    std::strcpy(buffer, "untouched");
  }
};

// Each way a run ends: its result, and the caller's buffer, which holds the
// system's text (with its line break) for a failing code and is otherwise
// left as the caller filled it.
TEST_F(SilentRun, EachEndingGivesItsResultAndText) {
  const std::string child = ChildCommand("");
  struct Row {
    std::string command;
    const char* failed;  // made to fail on every call, with `failure`
    uint32_t failure;
    DWORD result;
    bool text;
    const char* counted;  // and how often it was called
    int count;
  };
  const Row rows[] = {
      {child + "0", nullptr, 0, 0, false, "FormatMessageW", 0},
      {child + "3010", nullptr, 0, 3010, false, "FormatMessageW", 0},
      {child + "5", nullptr, 0, 5, true, "CloseHandle", 2},
      {child + "259", nullptr, 0, 259, true, "GetExitCodeProcess", 1},
      {child + "0x20000001", nullptr, 0, 0x20000001, false, "FormatMessageW", 1},
      {"C:\\no\\such\\program.exe -x", nullptr, 0, kFailed, false, "CloseHandle", 0},
      {child + "5", "GetExitCodeProcess", FALSE, kFailed, false, "CloseHandle", 2},
      {child + "0 100", "WaitForSingleObject", WAIT_FAILED, kFailed, false, "GetExitCodeProcess",
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    char text[300];
    Fill(text);
    hook().ClearLog();
    if (row.failed) hook().Fail(row.failed, 0, row.failure, ERROR_ACCESS_DENIED);
    std::string command = row.command;
    EXPECT_EQ(api().SilentRunExternalWait(command.data(), text), row.result);
    hook().ClearRules();
    const std::string expected = row.text ? SystemText(row.result) : "untouched";
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(text, expected);
    EXPECT_EQ(expected.back(), row.text ? '\n' : 'd');
    EXPECT_EQ(hook().Count(row.counted), row.count) << row.counted;
  }
  char text[300];
  std::string command = "C:\\no\\such\\program.exe";
  hook().ClearLog();
  EXPECT_EQ(api().SilentRunExternalWait(nullptr, text), kFailed);
  EXPECT_EQ(api().SilentRunExternalWait(command.data(), nullptr), kFailed);
  EXPECT_EQ(hook().WorkLog().size(), 0u);  // refused before any system call
}

TEST_F(SilentRun, StartsQuietlyAndBlocksOnTheProcess) {
  PROCESS_INFORMATION started{};
  hook().Replace("CreateProcessW", [&](const uint32_t* a) -> uint32_t {
    const uint32_t ok = hook().CallReal("CreateProcessW", a);
    started = *StartedProcess(a);
    return ok;
  });
  char text[300];
  EXPECT_EQ(Run("7 200", text), 7u);
  std::vector<uint32_t> closed;  // the thread's handle first, then the process's
  for (const Call& call : hook().Calls("CloseHandle")) closed.push_back(HandleArgument(call));
  EXPECT_EQ(closed, (std::vector<uint32_t>{reinterpret_cast<uintptr_t>(started.hThread),
                                           reinterpret_cast<uintptr_t>(started.hProcess)}));
  const Call create = hook().Calls("CreateProcessW").at(0);
  EXPECT_FALSE(NamesAnApplication(create));  // the command line's first word is the program
  EXPECT_FALSE(InheritsHandles(create));     // the installer's handles stay its own
  EXPECT_EQ(CreationFlags(create), 0u);      // no console of its own, not suspended
  EXPECT_EQ(Timeout(hook().Calls("WaitForSingleObject").at(0)), INFINITE);
  EXPECT_EQ(hook().Count("GetExitCodeProcess"), 1);  // read once, after the end: no polling
}

TEST_F(SilentRun, ShowsTheWaitCursorAndRestoresThePreviousOne) {
  HCURSOR previous = LoadCursorA(nullptr, IDC_IBEAM);
  SetCursor(previous);
  char text[300];
  EXPECT_EQ(Run("0", text), 0u);
  EXPECT_EQ(GetCursor(), previous);
  std::string missing = "C:\\missing.exe";
  EXPECT_EQ(api().SilentRunExternalWait(missing.data(), text), kFailed);
  EXPECT_EQ(GetCursor(), previous);
  const std::vector<Call> set = hook().Calls("SetCursor");
  ASSERT_EQ(set.size(), 4u);
  std::vector<uint32_t> shown;
  for (const Call& call : set) shown.push_back(HandleArgument(call));
  const auto wait = reinterpret_cast<uintptr_t>(LoadCursorA(nullptr, IDC_WAIT)),
             before = reinterpret_cast<uintptr_t>(previous);
  EXPECT_EQ(shown, (std::vector<uint32_t>{wait, before, wait, before}));
}

// The system's text is copied up to its length or its zero, at most 259
// units, and never with half of a surrogate pair.
TEST_F(SilentRun, LongTextIsCutAtAWholeCharacterWithinTheBuffer) {
  const std::wstring pair = L"\U0001F600";
  struct Row {
    const char* what;
    std::wstring message;
    DWORD length;  // as the system reports it
    std::string copied;
  };
  const Row rows[] = {
      {.what = "too long",
       .message = std::wstring(400, L'm'),
       .length = 400,
       .copied = std::string(259, 'm')},
      {.what = "a pair across the cut",
       .message = std::wstring(258, L'm') + pair + L"tail",
       .length = 264,
       .copied = std::string(258, 'm')},
      {.what = "a pair within it",
       .message = std::wstring(257, L'm') + pair + L"tail",
       .length = 263,
       .copied = std::string(257, 'm') + Narrow(pair, CP_ACP)},
      {.what = "a zero before its length",
       .message = std::wstring(L"ab\0cd", 5),
       .length = 5,
       .copied = "ab"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    hook().Replace("FormatMessageW", [&](const uint32_t* a) -> uint32_t {
      const size_t bytes = (row.message.size() + 1) * sizeof(wchar_t);
      auto* block = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, bytes));
      std::memcpy(block, row.message.c_str(), bytes);
      HandOutMessage(a, block);
      return row.length;
    });
    char text[400];
    std::memset(text, 0xBD, sizeof text);
    EXPECT_EQ(Run("5", text), 5u);
    EXPECT_EQ(std::string(text), row.copied);
    EXPECT_EQ(static_cast<unsigned char>(text[260]), 0xBD);
  }
}

// 3010 (restart required) is success: no text is fetched, even where the
// system has one for it.
TEST_F(SilentRun, RebootRequiredIsSuccessWhateverTheSystemWouldSay) {
  hook().Replace("FormatMessageW", [](const uint32_t* a) -> uint32_t {
    auto* block = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, 7 * sizeof(wchar_t)));
    std::memcpy(block, L"reboot", 7 * sizeof(wchar_t));
    HandOutMessage(a, block);
    return 6;
  });
  char text[300];
  std::memset(text, 0xBD, sizeof text);
  EXPECT_EQ(Run("3010", text), 3010u);
  EXPECT_EQ(hook().Count("FormatMessageW"), 0);
  for (unsigned char byte : text) ASSERT_EQ(byte, 0xBD);
}

// The child is started with a neutral STARTUPINFO: no flags, so its own
// defaults (and its show state) hold.
TEST_F(SilentRun, ChildSeesANeutralStartupInfo) {
  TempDir dir;
  const std::string trace = dir / "startup.log";
  SetEnvironmentVariableA("QMIS_TEST_CHILD_TRACE", trace.c_str());
  char text[300];
  EXPECT_EQ(Run("0", text), 0u);
  SetEnvironmentVariableA("QMIS_TEST_CHILD_TRACE", nullptr);
  char line[512] = "";
  if (FILE* in = std::fopen(trace.c_str(), "r")) {
    std::fgets(line, sizeof line, in);
    std::fclose(in);
  }
  EXPECT_EQ(std::string(line).rfind("flags=0 show=0 ", 0), 0u) << line;
}

}  // namespace
}  // namespace qmis_test
