// Directory sizes and renames on Wine's file system.
#include <gmock/gmock.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "internals.h"
#include "library_test.h"
#include "qmis/handles.h"
#include "temp_dir.h"

namespace qmis_test {
namespace {

using DirectorySize = LibraryTest;

// Each argument's total, with the current directory a tree of its own:
// names beginning with a dot are left out, and an argument too long for its
// pattern is not searched at all ("*.*" alone would sum the current directory).
TEST_F(DirectorySize, EachArgumentGivesItsTreesTotal) {
  TempDir dir, current;
  dir.File("a.bin", 100);
  dir.File("b.bin", 200);
  dir.File("sub\\c.bin", 50);
  for (const char* dotted : {".hidden", ".cache\\in.bin", "sub\\.dot"}) dir.File(dotted, 1000);
  dir.Folder("empty");
  current.File("x.bin", 30);
  current.File("d\\y.bin", 12);
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(current.path().c_str());
  struct Row {
    std::string argument;
    DWORD total;
    bool searched;
  };
  const Row rows[] = {
      {dir.path(), 350, true},
      {dir.path() + "\\", 350, true},
      {dir / "empty", 0, true},
      {dir / "missing", 0, true},
      {"", 42, true},                              // "*.*" alone: the current directory
      {"C:\\" + std::string(253, 'd'), 0, false},  // 256 bytes: no room for "\*.*"
      {"C:\\" + std::string(256, 'd'), 0, false},  // 259 bytes: no room for the backslash
      {std::string(300, 'e'), 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.argument);
    hook().ClearLog();
    EXPECT_EQ(api().GetCopyFileSize(row.argument.c_str()), row.total);
    EXPECT_EQ(hook().Count("FindFirstFileW") > 0, row.searched);
  }
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(api().GetCopyFileSize(nullptr), 0u);
}

TEST_F(DirectorySize, LargeFileAddsItsLowThirtyTwoBits) {
  TempDir dir;
  {
    const qmis::UniqueFile file(CreateFileA((dir / "sparse.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER size;
    size.QuadPart = 5LL << 30;
    SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN);
    SetEndOfFile(file.get());
  }
  dir.File("small.bin", 7);
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), (1u << 30) + 7u);
}

// Links are made from the Unix side: Wine 8 cannot make a Windows junction
// or directory symbolic link, so those kinds are not covered here; all of
// them carry the reparse-point attribute the walk looks at.
TEST_F(DirectorySize, LinksBackToAnAncestorAreNotEntered) {
  TempDir dir;
  dir.File("a.bin", 100);
  dir.File("b.bin", 200);
  dir.File("sub\\c.bin", 50);
  if (!dir.UnixLink("sub\\up", "..")) GTEST_SKIP() << "no Unix symbolic links on this runtime";
  ASSERT_EQ(api().GetCopyFileSize(dir.path().c_str()), 350u);  // the next links would not end
  // Two links per level doubled the work at every level: no end in sight.
  ASSERT_TRUE(dir.UnixLink("sub\\top", "../.."));
  ASSERT_TRUE(dir.UnixLink("self", "."));
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), 350u);
  EXPECT_EQ(api().GetCopyFileSize((dir / "sub").c_str()), 50u);
}

TEST_F(DirectorySize, BlockThatCannotBeHadDropsThatDirectoryOnly) {
  TempDir dir;
  dir.File("top.bin", 1);
  dir.File("sub\\mid.bin", 10);
  dir.File("sub\\deeper\\low.bin", 100);
  // The second block is the one "sub" takes for "deeper": sub's call gives
  // 0 and the top goes on.
  hook().Fail("GlobalAlloc", 2, 0, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), 1u);
  hook().ClearRules();
  hook().Fail("GlobalAlloc", 1, 0, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), 0u);
}

// A subdirectory whose path would not fit adds 0; the walk goes on.
TEST_F(DirectorySize, SubdirectoriesThatWouldNotFitAreNotSearched) {
  TempDir dir;
  dir.File("a.bin", 5);
  dir.Folder("sub");
  // Too long to append to the base; then long enough that the folder's path
  // fits 259 characters but its search pattern ("\*.*") does not.
  for (const size_t length : {size_t{250}, 257 - dir.path().size()}) {
    SCOPED_TRACE(length);
    hook().ClearLog();
    hook().Replace("FindNextFileW", [this, length](const uint32_t* a) -> uint32_t {
      WIN32_FIND_DATAW* entry = FoundEntry(a);
      const uint32_t found = hook().CallReal("FindNextFileW", a);
      if (found && std::wcscmp(entry->cFileName, L"sub") == 0) {
        std::wmemset(entry->cFileName, L'n', length);
        entry->cFileName[length] = L'\0';
      }
      return found;
    });
    EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), 5u);
    EXPECT_EQ(hook().Count("FindFirstFileW"), 1);
  }
}

// A folder name the ANSI code page cannot spell (U+65E5 U+672C under code
// page 1252) is walked all the same, and so is everything below it.
TEST_F(DirectorySize, FoldersNamedOutsideTheAnsiCodePageAreSummed) {
  TempDir dir;
  dir.File("top.bin", 5);
  dir.File("ab\\b.bin", 30);
  wchar_t wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, dir.path().c_str(), -1, wide, MAX_PATH);
  const std::wstring folder = std::wstring(wide) + L"\\\u65e5\u672c";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  {
    const qmis::UniqueFile file(CreateFileW((folder + L"\\inside.bin").c_str(), GENERIC_WRITE, 0,
                                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    WriteFile(file.get(), std::string(1000, 'j').data(), 1000, &written, nullptr);
  }
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), 1035u);
  EXPECT_EQ(hook().Count("FindFirstFileW"), 3);
}

using TrailingBackslash = InternalsTest;

TEST_F(TrailingBackslash, AppendsOnlyWhereNeededAndWhereThereIsRoom) {
  char path[MAX_PATH];
  std::strcpy(path, "C:\\dir");
  EXPECT_EQ(internals().EnsureTrailingBackslash(path, MAX_PATH), 7u);
  EXPECT_STREQ(path, "C:\\dir\\");
  EXPECT_EQ(internals().EnsureTrailingBackslash(path, MAX_PATH), 7u);
  EXPECT_STREQ(path, "C:\\dir\\");
  path[0] = '\0';
  EXPECT_EQ(internals().EnsureTrailingBackslash(path, MAX_PATH), 0u);
  std::strcpy(path, "abc");
  EXPECT_EQ(internals().EnsureTrailingBackslash(path, 0), 0u);
  EXPECT_EQ(internals().EnsureTrailingBackslash(path, 1), 0u);
  EXPECT_EQ(internals().EnsureTrailingBackslash(path, 4), 0u);  // no room for the backslash
  EXPECT_STREQ(path, "abc");
  EXPECT_EQ(internals().EnsureTrailingBackslash(path, 3), 0u);  // unterminated within 3
  EXPECT_EQ(internals().EnsureTrailingBackslash(path, 5), 4u);
}

using RenameDirectory = LibraryTest;

TEST_F(RenameDirectory, MovesWhatExistsAndLeavesEverythingElse) {
  TempDir dir;
  dir.File("old\\inside.txt", 3);
  EXPECT_EQ(api().RenameDirectory((dir / "old").c_str(), (dir / "new").c_str()), 0);
  EXPECT_TRUE(PathExists(dir / "new\\inside.txt"));
  EXPECT_FALSE(PathExists(dir / "old"));

  dir.Folder("taken");
  EXPECT_EQ(api().RenameDirectory((dir / "new").c_str(), (dir / "taken").c_str()), 0);
  EXPECT_TRUE(PathExists(dir / "new\\inside.txt"));

  EXPECT_EQ(api().RenameDirectory((dir / "missing").c_str(), (dir / "other").c_str()), 0);
  EXPECT_FALSE(PathExists(dir / "other"));

  dir.File("file.txt", 1);
  EXPECT_EQ(api().RenameDirectory((dir / "file.txt").c_str(), (dir / "moved.txt").c_str()), 0);
  EXPECT_TRUE(PathExists(dir / "moved.txt"));
  EXPECT_EQ(api().RenameDirectory(nullptr, (dir / "x").c_str()), 0);
  EXPECT_EQ(hook().Count("MoveFileW"), 4);
}

}  // namespace
}  // namespace qmis_test
