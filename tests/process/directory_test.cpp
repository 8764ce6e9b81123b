// Directory sizes and renames on Wine's file system.
#include <gmock/gmock.h>

#include <cstring>
#include <string>

#include "internals.h"
#include "library_test.h"
#include "temp_dir.h"

namespace qmis_test {
namespace {

using DirectorySize = LibraryTest;

TEST_F(DirectorySize, SumsTheTreeWithOrWithoutATrailingBackslash) {
  TempDir dir;
  dir.File("a.bin", 100);
  dir.File("b.bin", 200);
  dir.File("sub\\c.bin", 50);
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), 350u);
  EXPECT_EQ(api().GetCopyFileSize((dir.path() + "\\").c_str()), 350u);
}

TEST_F(DirectorySize, NamesBeginningWithADotAreLeftOut) {
  TempDir dir;
  dir.File("kept.bin", 10);
  dir.File(".hidden", 1000);
  dir.File(".cache\\inside.bin", 1000);
  dir.File("sub\\.dot", 1000);
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), 10u);
}

TEST_F(DirectorySize, LargeFileAddsItsLowThirtyTwoBits) {
  TempDir dir;
  HANDLE file = CreateFileA((dir / "sparse.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  size.QuadPart = 5LL << 30;
  SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
  SetEndOfFile(file);
  CloseHandle(file);
  dir.File("small.bin", 7);
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), (1u << 30) + 7u);
}

TEST_F(DirectorySize, MissingAndEmptyDirectoriesGiveZero) {
  TempDir dir;
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), 0u);
  EXPECT_EQ(api().GetCopyFileSize((dir / "missing").c_str()), 0u);
  EXPECT_EQ(api().GetCopyFileSize(nullptr), 0u);
}

TEST_F(DirectorySize, EmptyArgumentSumsTheCurrentDirectory) {
  TempDir dir;
  dir.File("x.bin", 30);
  dir.File("d\\y.bin", 12);
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(dir.path().c_str());
  EXPECT_EQ(api().GetCopyFileSize(""), 42u);
  SetCurrentDirectoryA(previous);
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

TEST_F(DirectorySize, PathsThatWouldNotFitAreNotSearched) {
  const std::string base = "C:\\" + std::string(253, 'd');  // 256 bytes: no room for "\*.*"
  EXPECT_EQ(api().GetCopyFileSize(base.c_str()), 0u);
  EXPECT_EQ(api().GetCopyFileSize(std::string(300, 'e').c_str()), 0u);
  EXPECT_EQ(hook().Count("FindFirstFileA"), 0);
  // A subdirectory whose path would not fit adds 0; the walk goes on.
  TempDir dir;
  dir.File("a.bin", 5);
  dir.Folder("sub");
  hook().Replace("FindNextFileA", [this](const uint32_t* a) -> uint32_t {
    auto* entry = reinterpret_cast<WIN32_FIND_DATAA*>(a[1]);
    const uint32_t found = hook().CallReal("FindNextFileA", a);
    if (found && std::strcmp(entry->cFileName, "sub") == 0) {
      std::memset(entry->cFileName, 'n', 250);  // too long to append to the base
      entry->cFileName[250] = '\0';
    }
    return found;
  });
  EXPECT_EQ(api().GetCopyFileSize(dir.path().c_str()), 5u);
  EXPECT_EQ(hook().Count("FindFirstFileA"), 1);
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
  EXPECT_EQ(hook().Count("MoveFileA"), 4);
}

}  // namespace
}  // namespace qmis_test
