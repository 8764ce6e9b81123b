// The module frame: export directory, calling convention, version queries.
#include <gmock/gmock.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "guard_buffer.h"
#include "library_test.h"
#include "stack_check.h"

namespace qmis_test {
namespace {

template <typename T>
T* AtRva(HMODULE module, DWORD rva) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

struct ExportDirectory {
  std::string moduleName;
  std::set<std::string> names;
};

ExportDirectory ReadExportDirectory(HMODULE module) {
  auto* dos = AtRva<IMAGE_DOS_HEADER>(module, 0);
  auto* nt = AtRva<IMAGE_NT_HEADERS32>(module, dos->e_lfanew);
  const auto& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto* dir = AtRva<IMAGE_EXPORT_DIRECTORY>(module, entry.VirtualAddress);
  ExportDirectory result;
  result.moduleName = AtRva<char>(module, dir->Name);
  auto* names = AtRva<DWORD>(module, dir->AddressOfNames);
  for (DWORD i = 0; i < dir->NumberOfNames; ++i) result.names.insert(AtRva<char>(module, names[i]));
  return result;
}

std::set<std::string> ImportedDlls(HMODULE module) {
  auto* nt = AtRva<IMAGE_NT_HEADERS32>(module, AtRva<IMAGE_DOS_HEADER>(module, 0)->e_lfanew);
  const auto& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::set<std::string> dlls;
  for (auto* desc = AtRva<IMAGE_IMPORT_DESCRIPTOR>(module, entry.VirtualAddress); desc->Name;
       ++desc) {
    std::string name = AtRva<char>(module, desc->Name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    dlls.insert(name);
  }
  return dlls;
}

// The release's stripped copy, build/release/QMIS.dll.
std::string ShippedDllPath() { return ProgramFolder() + "..\\release\\QMIS.dll"; }

// The base of an image mapped as a resource: its handle without the low
// bits that mark it so.
HMODULE ImageBase(const qmis::UniqueModule& image) {
  return reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(image.get()) & ~uintptr_t{3});
}

using ModuleFrame = LibraryTest;

// The hardening flags, the sections and the imports of a mapped image.
void ExpectHardened(HMODULE module, const Caller& caller = Caller::current()) {
  QMIS_TEST_TRACE_CALLER(caller);
  auto* nt = AtRva<IMAGE_NT_HEADERS32>(module, AtRva<IMAGE_DOS_HEADER>(module, 0)->e_lfanew);
  const WORD flags = nt->OptionalHeader.DllCharacteristics;
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NO_SEH);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    const std::string name(reinterpret_cast<const char*>(section->Name),
                           strnlen(reinterpret_cast<const char*>(section->Name), 8));
    const DWORD c = section->Characteristics;
    EXPECT_FALSE((c & IMAGE_SCN_MEM_WRITE) && (c & IMAGE_SCN_MEM_EXECUTE)) << name;
    EXPECT_FALSE((c & IMAGE_SCN_MEM_WRITE) && (c & IMAGE_SCN_MEM_SHARED)) << name;
  }
  EXPECT_EQ(ImportedDlls(module),
            (std::set<std::string>{"advapi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"}));
}

TEST_F(ModuleFrame, HeaderIsHardenedAndImportsOnlySystemDlls) {
  ExpectHardened(library().module());
  // The shipped DLL mapped as an image that is not run.
  const qmis::UniqueModule shipped(
      LoadLibraryExA(ShippedDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(shipped);
  SCOPED_TRACE("the release's stripped copy");
  ExpectHardened(ImageBase(shipped));
}

// The 23 names with the ordinals they always had, then the five Unicode
// entry points after them.
TEST_F(ModuleFrame, ExportDirectoryHoldsExactlyTheNamesAtTheirOrdinals) {
  const ExportDirectory dir = ReadExportDirectory(library().module());
  EXPECT_EQ(dir.moduleName, "QMIS.dll");
  std::set<std::string> table;
  for (const ExportInfo& info : kExportTable) {
    table.insert(info.name);
    EXPECT_EQ(library().Find(MAKEINTRESOURCEA(info.ordinal)), library().Find(info.name))
        << info.name << " at ordinal " << info.ordinal;
  }
  EXPECT_EQ(table.size(), 28u);
  EXPECT_EQ(dir.names, table);
}

TEST_F(ModuleFrame, EveryExportRemovesFourBytesPerArgument) {
  // A command line without markers keeps the uninstall hook from naming a
  // real product.
  hook().ReplaceCommandLine("C:\\stack-check.exe");
  const uint32_t args[3] = {0, 0, 0};  // null pointers are refused before any work
  for (const ExportInfo& info : kExportTable) {
    void* function = library().Find(info.name);
    ASSERT_NE(function, nullptr) << info.name;
    EXPECT_EQ(StackBytesRemoved(function, args, info.argumentBytes / 4), info.argumentBytes)
        << info.name;
  }
}

TEST_F(ModuleFrame, DllMainAcceptsEveryReason) {
  for (DWORD reason : {0u, 1u, 2u, 3u, 99u}) {
    EXPECT_TRUE(api().DllMain(reinterpret_cast<HINSTANCE>(library().module()), reason, nullptr))
        << reason;
  }
}

TEST_F(ModuleFrame, VersionQueriesAgree) {
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(api().GetInternalBuildNum(), 60);
    EXPECT_EQ(api().GetInternalMajorVerNum(), 2);
    EXPECT_EQ(api().GetInternalMinorVerNum(), 0);
    EXPECT_EQ(api().DetectDxmedia(), 1);
  }
}

TEST_F(ModuleFrame, VersionTextIsNineBytesExactly) {
  char text[16];
  std::memset(text, 0xBD, sizeof text);
  EXPECT_EQ(api().GetVersionNum(text), 60);
  EXPECT_EQ(std::string(text, 9), std::string("2.0.0.60", 9));
  EXPECT_EQ(static_cast<unsigned char>(text[9]), 0xBD);
  EXPECT_EQ(api().GetVersionNum(text), 60);
  EXPECT_STREQ(text, "2.0.0.60");

  GuardedBuffer exact(9);  // a tenth byte would fault
  EXPECT_EQ(api().GetVersionNum(exact.data()), 60);
  EXPECT_STREQ(exact.data(), "2.0.0.60");
  EXPECT_EQ(api().GetVersionNum(nullptr), 60);
}

// The version resource of the DLL at `path`, read back as an installer reads
// it, against the version exports.
void ExpectVersionResource(const Exports& api, const std::string& path,
                           const Caller& caller = Caller::current()) {
  QMIS_TEST_TRACE_CALLER(caller);
  SCOPED_TRACE(path);
  DWORD unused = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(path.c_str(), &unused));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  const DWORD high = MAKELONG(api.GetInternalMinorVerNum(), api.GetInternalMajorVerNum());
  const DWORD low = MAKELONG(api.GetInternalBuildNum(), 0);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  char version[16];
  EXPECT_EQ(static_cast<DWORD>(api.GetVersionNum(version)), low);
  const std::pair<const char*, std::string> strings[] = {
      {"FileVersion", version},
      {"ProductVersion", version},
      {"OriginalFilename", "QMIS.dll"},
      {"InternalName", "QMIS"},
      {"ProductName", "QMIS"},
      {"CompanyName", "Quillmoor"},
      {"FileDescription", "QMIS setup and uninstall helper"}};
  // Version readers find the strings by the translation table, as
  // language and code page: the block they name must be there.
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, sizeof *translation);
  char block[40];
  std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation->language,
                translation->codePage);
  for (const auto& [name, expected] : strings) {
    char* text = nullptr;
    const std::string query = block + std::string(name);
    ASSERT_TRUE(
        VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
        << name;
    EXPECT_EQ(std::string(text), expected) << name;
  }
}

TEST_F(ModuleFrame, VersionResourceMatchesTheVersionExports) {
  char built[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(library().module(), built, MAX_PATH), 0u);
  ExpectVersionResource(api(), built);
  ExpectVersionResource(api(), ShippedDllPath());
}

}  // namespace
}  // namespace qmis_test
