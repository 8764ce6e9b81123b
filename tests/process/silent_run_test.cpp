// Running a program silently for its exit code and message text.
#include <gmock/gmock.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "library_test.h"
#include "temp_dir.h"

namespace qmis_test {
namespace {

constexpr DWORD kFailed = 0x80004005;

class SilentRun : public LibraryTest {
 protected:
  DWORD Run(const std::string& arguments, char* errorText) {
    std::string command = "\"" + ProgramFolder() + "qmis-test-child.exe\" " + arguments;
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

TEST_F(SilentRun, SuccessCodesLeaveTheBufferAlone) {
  char text[300];
  Fill(text);
  EXPECT_EQ(Run("0", text), 0u);
  EXPECT_EQ(Run("3010", text), 3010u);
  EXPECT_STREQ(text, "untouched");
}

TEST_F(SilentRun, FailingCodeBringsTheSystemText) {
  char text[300];
  for (DWORD code : {5u, 259u}) {
    Fill(text);
    EXPECT_EQ(Run(std::to_string(code), text), code);
    const std::string expected = SystemText(code);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(text, expected);
    EXPECT_EQ(expected.back(), '\n');
  }
}

TEST_F(SilentRun, CodeWithoutTextLeavesTheBufferAlone) {
  char text[300];
  Fill(text);
  EXPECT_EQ(Run("0x20000001", text), 0x20000001u);
  EXPECT_STREQ(text, "untouched");
}

TEST_F(SilentRun, MissingProgramFailsWithoutTouchingTheBuffer) {
  char text[300];
  Fill(text);
  std::string command = "C:\\no\\such\\program.exe -x";
  EXPECT_EQ(api().SilentRunExternalWait(command.data(), text), kFailed);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(api().SilentRunExternalWait(nullptr, text), kFailed);
  EXPECT_EQ(api().SilentRunExternalWait(command.data(), nullptr), kFailed);
  EXPECT_EQ(hook().Count("CreateProcessA"), 1);
}

TEST_F(SilentRun, StartsQuietlyAndBlocksOnTheProcess) {
  char text[300];
  EXPECT_EQ(Run("7 200", text), 7u);
  const Call create = hook().Calls("CreateProcessA").at(0);
  EXPECT_EQ(create.args[0], 0u);  // no application name
  EXPECT_EQ(create.args[4], 0u);  // handles not inherited
  EXPECT_EQ(create.args[5], 0u);  // creation flags
  const Call wait = hook().Calls("WaitForSingleObject").at(0);
  EXPECT_EQ(wait.args[1], INFINITE);
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
  EXPECT_EQ(set[0].args[0], reinterpret_cast<uintptr_t>(LoadCursorA(nullptr, IDC_WAIT)));
  EXPECT_EQ(set[1].args[0], reinterpret_cast<uintptr_t>(previous));
}

TEST_F(SilentRun, ExitCodeThatCannotBeReadFailsAndClosesBothHandles) {
  char text[300];
  Fill(text);
  hook().Fail("GetExitCodeProcess", 0, FALSE, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run("5", text), kFailed);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(hook().Count("CloseHandle"), 2);
}

TEST_F(SilentRun, LongTextIsCutAtAWholeCharacterWithinTheBuffer) {
  hook().Replace("FormatMessageA", [](const uint32_t* a) -> uint32_t {
    const std::string message(400, 'm');
    char* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, message.size() + 1));
    std::memcpy(block, message.c_str(), message.size() + 1);
    *reinterpret_cast<char**>(a[4]) = block;
    return static_cast<uint32_t>(message.size());
  });
  char text[400];
  std::memset(text, 0xBD, sizeof text);
  EXPECT_EQ(Run("5", text), 5u);
  EXPECT_EQ(std::strlen(text), 259u);
  EXPECT_EQ(static_cast<unsigned char>(text[260]), 0xBD);
}

// 3010 (restart required) is success: no text is fetched, even where the
// system has one for it.
TEST_F(SilentRun, RebootRequiredIsSuccessWhateverTheSystemWouldSay) {
  hook().Replace("FormatMessageA", [](const uint32_t* a) -> uint32_t {
    char* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, 8));
    std::memcpy(block, "reboot", 7);
    *reinterpret_cast<char**>(a[4]) = block;
    return 6;
  });
  char text[300];
  std::memset(text, 0xBD, sizeof text);
  EXPECT_EQ(Run("3010", text), 3010u);
  EXPECT_EQ(hook().Count("FormatMessageA"), 0);
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

TEST_F(SilentRun, FailedWaitIsNoExitCode) {
  char text[300];
  Fill(text);
  hook().Fail("WaitForSingleObject", 0, WAIT_FAILED, ERROR_INVALID_HANDLE);
  EXPECT_EQ(Run("0 100", text), kFailed);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(hook().Count("GetExitCodeProcess"), 0);
}

}  // namespace
}  // namespace qmis_test
