// Text walked by whole characters of code page 932, where a trail byte may
// be 0x5C (the backslash) or other ASCII bytes. Run with LC_ALL=ja_JP.UTF-8.
#include <gmock/gmock.h>

#include <cstring>
#include <string>

#include "internals.h"
#include "library_test.h"
#include "wide.h"

namespace qmis_test {
namespace {

// 0x95 0x5C is one character in code page 932, 0x83 0x7A another ("z" trail).
const std::string kTable = "\x95\x5c";
const std::string kZTrail = "\x83\x7a";

class CodePage932 : public InternalsTest {
 protected:
  void SetUp() override {
    InternalsTest::SetUp();
    // CTest runs this program with LC_ALL=ja_JP.UTF-8; without it the
    // cases below would prove nothing, so that is a failure, not a skip.
    ASSERT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8";
  }
  std::string Product(const std::string& line, int* found) {
    char out[MAX_PATH];
    *found = internals().GetProductArg(line.c_str(), out);
    return out;
  }
};

TEST_F(CodePage932, LastDoubleByteCharacterIsNotTheByteItEndsWith) {
  EXPECT_EQ(internals().EndsWithChar(("a" + kTable).c_str(), '\\'), 0);
  EXPECT_EQ(internals().EndsWithChar((kTable + "\\").c_str(), '\\'), 1);
  EXPECT_EQ(internals().EndsWithChar("\x83\x22", '"'), 0);
  EXPECT_EQ(internals().EndsWithChar(("a" + kTable).c_str(), 0x95), 0);  // nor its lead byte
}

TEST_F(CodePage932, TrailingBackslashIsAppendedAfterADoubleByteCharacter) {
  char path[MAX_PATH];
  std::strcpy(path, ("C:\\" + kTable).c_str());
  EXPECT_EQ(internals().EnsureTrailingBackslash(path, MAX_PATH), 6u);
  EXPECT_EQ(std::string(path), "C:\\" + kTable + "\\");
}

TEST_F(CodePage932, MarkersNeverBeginInsideACharacter) {
  int found = 0;
  // "-z" whose hyphen is a trail byte (0x81 0x2D) is not a marker.
  EXPECT_EQ(Product("r.exe -fx \x81-zX -zTool", &found), "Tool");
  EXPECT_EQ(found, 1);
  // A key ending in a double-byte character whose trail byte is '"' keeps it.
  EXPECT_EQ(Product("r.exe -fx -z\"Tool\x83\"", &found), "Tool\x83\"");
  EXPECT_EQ(Product("r.exe -fx -z" + kZTrail + "k", &found), kZTrail + "k");
}

TEST_F(CodePage932, UninstallerPathWithDoubleBytesAndQuotes) {
  wchar_t out[MAX_PATH];
  const std::string line = "\"C:\\" + kTable + "\\r.exe\" -f\"x\" -zT";
  EXPECT_EQ(internals().GetUninstallerPath(Wide(line, CP_ACP).c_str(), out), 1);
  EXPECT_EQ(Narrow(out, CP_ACP), "C:\\" + kTable + "\\r.exe");
}

class MessageText932 : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    // CTest runs this program with LC_ALL=ja_JP.UTF-8; without it the
    // cases below would prove nothing, so that is a failure, not a skip.
    ASSERT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8";
  }
};

TEST_F(MessageText932, LongTextIsCutBeforeACharacterThatWouldNotFit) {
  // A double-byte character at bytes 258 and 259 would leave no room for
  // the zero: the text ends before it.
  hook().Replace("FormatMessageW", [](const uint32_t* a) -> uint32_t {
    const std::wstring message = Wide(std::string(258, 'm') + "\x95\x5c" + "tail\r\n", CP_ACP);
    const size_t bytes = (message.size() + 1) * sizeof(wchar_t);
    auto* block = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, bytes));
    std::memcpy(block, message.c_str(), bytes);
    HandOutMessage(a, block);
    return static_cast<uint32_t>(message.size());
  });
  std::string command = ChildCommand("5");
  char text[300];
  std::memset(text, 0xBD, sizeof text);
  EXPECT_EQ(api().SilentRunExternalWait(command.data(), text), 5u);
  EXPECT_EQ(std::string(text), std::string(258, 'm'));
  EXPECT_EQ(static_cast<unsigned char>(text[259]), 0xBD);
}

}  // namespace
}  // namespace qmis_test
