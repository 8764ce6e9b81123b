// Loads QMIS.dll as an installer does (LoadLibraryA from the program's own
// folder) and resolves its exports by exact name into typed __stdcall
// pointers.
#pragma once

#include <windows.h>

#include <string>
#include <type_traits>

#include "qmis/handles.h"

namespace qmis_test {

// Every export once: its field in Exports, its name in the export table,
// its type, the stack bytes it removes, and its ordinal.
// clang-format off
#define QMIS_TEST_EXPORTS(X) \
  X(DllMain, "_DllMain@12", BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID), 12, 23) \
  X(DetectDxmedia, "QMSetup_DetectDxmedia", int(WINAPI*)(), 0, 6) \
  X(GetInternalBuildNum, "QMSetup_GetInternalBuildNum", int(WINAPI*)(), 0, 8) \
  X(GetInternalMajorVerNum, "QMSetup_GetInternalMajorVerNum", int(WINAPI*)(), 0, 9) \
  X(GetInternalMinorVerNum, "QMSetup_GetInternalMinorVerNum", int(WINAPI*)(), 0, 10) \
  X(GetVersionNum, "QMSetup_GetVersionNum", int(WINAPI*)(char*), 4, 11) \
  X(RemoveSpaces, "QMSetup_RemoveSpaces", void(WINAPI*)(char*, DWORD), 8, 15) \
  X(RegSaveKey, "QMSetup_RegSaveKey", int(WINAPI*)(HKEY, char*, char*), 12, 13) \
  X(RegRestoreKey, "QMSetup_RegRestoreKey", int(WINAPI*)(HKEY, char*, char*), 12, 12) \
  X(BackupPendingFileRename, "QMSetup_BackupPendingFileRename", int(WINAPI*)(), 0, 5) \
  X(RestorePendingFileRename, "QMSetup_RestorePendingFileRename", int(WINAPI*)(), 0, 16) \
  X(KeyClean, "QmUninstall_KeyClean", LONG(WINAPI*)(HKEY, char*), 8, 20) \
  X(SetRefcountedKey, "QMSetup_SetRefcountedKey", int(WINAPI*)(char*, char*, DWORD), 12, 17) \
  X(RemoveRefcountedKeys, "QMSetup_RemoveRefcountedKeys", LONG(WINAPI*)(char*), 4, 14) \
  X(RegisterAutoInsertTag, "?RegisterAutoInsertTag@@YGXPAD@Z", void(WINAPI*)(char*), 4, 1) \
  X(UnregisterAutoInsertTag, "?UnregisterAutoInsertTag@@YGXPAD@Z", void(WINAPI*)(char*), 4, 2) \
  X(UnregisterSpecificExtension, "?UnregisterSpecificExtension@@YGXPAD0@Z", void(WINAPI*)(char*, char*), 8, 4) \
  X(UnregisterExtensions, "?UnregisterExtensions@@YGXPAD@Z", void(WINAPI*)(char*), 4, 3) \
  X(SilentRunExternalWait, "QMSetup_SilentRunExternalWait", DWORD(WINAPI*)(char*, char*), 8, 18) \
  X(GetCopyFileSize, "QMSetup_GetCopyFileSize", DWORD(WINAPI*)(const char*), 4, 7) \
  X(RenameDirectory, "QmRenameDirectory", int(WINAPI*)(const char*, const char*), 8, 19) \
  X(UninstInitialize, "UninstInitialize", int(WINAPI*)(DWORD, DWORD, DWORD), 12, 21) \
  X(UninstUnInitialize, "UninstUnInitialize", int(WINAPI*)(DWORD, DWORD, DWORD), 12, 22) \
  X(GetCopyFileSizeW, "QMSetup_GetCopyFileSizeW", DWORD(WINAPI*)(const wchar_t*), 4, 24) \
  X(RenameDirectoryW, "QmRenameDirectoryW", int(WINAPI*)(const wchar_t*, const wchar_t*), 8, 25) \
  X(SilentRunExternalWaitW, "QMSetup_SilentRunExternalWaitW", DWORD(WINAPI*)(const wchar_t*, wchar_t*), 8, 26) \
  X(RegSaveKeyW, "QMSetup_RegSaveKeyW", int(WINAPI*)(HKEY, const wchar_t*, const wchar_t*), 12, 27) \
  X(RegRestoreKeyW, "QMSetup_RegRestoreKeyW", int(WINAPI*)(HKEY, const wchar_t*, const wchar_t*), 12, 28)
// clang-format on

struct Exports {
#define QMIS_TEST_EXPORT_FIELD(field, name, type, bytes, ordinal) std::type_identity_t<type> field;
  QMIS_TEST_EXPORTS(QMIS_TEST_EXPORT_FIELD)
#undef QMIS_TEST_EXPORT_FIELD
};

// One export: its name in the export table, the stack bytes it removes and
// its ordinal.
struct ExportInfo {
  const char* name;
  int argumentBytes;
  WORD ordinal;
};
extern const ExportInfo kExportTable[28];

// The folder of the running test program, with a trailing backslash.
std::string ProgramFolder();
// The command line of the test's child program (qmis-test-child.exe, quoted)
// with `arguments`: it exits with the code it is given.
std::string ChildCommand(const std::string& arguments);

class Library {
 public:
  explicit Library(const char* fileName = "QMIS.dll");

  HMODULE module() const { return module_.get(); }
  const Exports& api() const { return exports_; }
  // The address of an export by exact name, or null.
  void* Find(const char* name) const;

 private:
  qmis::UniqueModule module_;
  Exports exports_{};
};

}  // namespace qmis_test
