// Space removal (exported) and the handler name (internal).
#include <gmock/gmock.h>

#include <cstring>
#include <string>

#include "guard_buffer.h"
#include "internals.h"
#include "library_test.h"

namespace qmis_test {
namespace {

using RemoveSpaces = LibraryTest;

std::string Removed(const std::string& text, DWORD length, void(WINAPI* remove)(char*, DWORD)) {
  GuardedBuffer buffer = GuardedBuffer::String(text);
  remove(buffer.data(), length);
  return buffer.data();
}

TEST_F(RemoveSpaces, RemovesEverySpaceWithinTheLength) {
  const auto remove = api().RemoveSpaces;
  EXPECT_EQ(Removed("one two  three", 14, remove), "onetwothree");
  EXPECT_EQ(Removed("xy zw uv", 4, remove), "xyz");
  EXPECT_EQ(Removed("pq rs", 260, remove), "pqrs");  // stops at the zero, guard page behind it
  EXPECT_EQ(Removed("abc", 0, remove), "");
  EXPECT_EQ(Removed("    ", 4, remove), "");
  EXPECT_EQ(Removed("", 5, remove), "");
  EXPECT_EQ(Removed("tab\there now", 12, remove), "tab\therenow");
  EXPECT_EQ(Removed("\x81\x40 \xe0\x20", 5, remove), "\x81\x40\xe0");
}

TEST_F(RemoveSpaces, LengthAbove260LeavesTheBufferAsItWas) {
  const auto remove = api().RemoveSpaces;
  EXPECT_EQ(Removed(std::string(200, ' ') + "a b", 260, remove), "ab");
  for (DWORD length : {261u, 1000u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Removed("a b c", length, remove), "a b c") << length;
  }
  api().RemoveSpaces(nullptr, 5);  // refused, no fault
}

using HandlerName = InternalsTest;

std::string Handler(const std::string& productKey, BOOL* ok) {
  char name[MAX_PATH];
  std::memset(name, 0xBD, sizeof name);
  *ok = InternalsTest::internals().BuildHandlerName(productKey.c_str(), name);
  return name;
}

TEST_F(HandlerName, PrefixAndProductKeyWithoutSpaces) {
  BOOL ok = FALSE;
  EXPECT_EQ(Handler("Sample Tool 2", &ok), "QuillmoorSampleTool2");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Handler("", &ok), "Quillmoor");
  EXPECT_EQ(Handler("a.b-c \xe9", &ok), "Quillmoora.b-c\xe9");
}

TEST_F(HandlerName, ProductKeyTooLongIsRefusedNotCut) {
  BOOL ok = FALSE;
  // "Quillmoor " is 10 bytes: 249 more fill the 260-byte buffer with its zero.
  EXPECT_EQ(Handler(std::string(249, 'k'), &ok), "Quillmoor" + std::string(249, 'k'));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Handler(std::string(250, 'k'), &ok), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(Handler(std::string(70000, ' '), &ok), "");
  EXPECT_FALSE(ok);
}

}  // namespace
}  // namespace qmis_test
