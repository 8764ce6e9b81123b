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
// its type, and the stack bytes it removes.
// clang-format off
#define QMIS_TEST_EXPORTS(X)                                                                 \
  X(DllMain, "_DllMain@12", BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID), 12)                      \
  X(DetectDxmedia, "QMSetup_DetectDxmedia", int(WINAPI*)(), 0)                                \
  X(GetInternalBuildNum, "QMSetup_GetInternalBuildNum", int(WINAPI*)(), 0)                    \
  X(GetInternalMajorVerNum, "QMSetup_GetInternalMajorVerNum", int(WINAPI*)(), 0)              \
  X(GetInternalMinorVerNum, "QMSetup_GetInternalMinorVerNum", int(WINAPI*)(), 0)              \
  X(GetVersionNum, "QMSetup_GetVersionNum", int(WINAPI*)(char*), 4)                           \
  X(RemoveSpaces, "QMSetup_RemoveSpaces", void(WINAPI*)(char*, DWORD), 8)                     \
  X(RegSaveKey, "QMSetup_RegSaveKey", int(WINAPI*)(HKEY, char*, char*), 12)                   \
  X(RegRestoreKey, "QMSetup_RegRestoreKey", int(WINAPI*)(HKEY, char*, char*), 12)             \
  X(BackupPendingFileRename, "QMSetup_BackupPendingFileRename", int(WINAPI*)(), 0)            \
  X(RestorePendingFileRename, "QMSetup_RestorePendingFileRename", int(WINAPI*)(), 0)          \
  X(KeyClean, "QmUninstall_KeyClean", LONG(WINAPI*)(HKEY, char*), 8)                          \
  X(SetRefcountedKey, "QMSetup_SetRefcountedKey", int(WINAPI*)(char*, char*, DWORD), 12)      \
  X(RemoveRefcountedKeys, "QMSetup_RemoveRefcountedKeys", LONG(WINAPI*)(char*), 4)            \
  X(RegisterAutoInsertTag, "?RegisterAutoInsertTag@@YGXPAD@Z", void(WINAPI*)(char*), 4)       \
  X(UnregisterAutoInsertTag, "?UnregisterAutoInsertTag@@YGXPAD@Z", void(WINAPI*)(char*), 4)   \
  X(UnregisterSpecificExtension, "?UnregisterSpecificExtension@@YGXPAD0@Z",                   \
    void(WINAPI*)(char*, char*), 8)                                                           \
  X(UnregisterExtensions, "?UnregisterExtensions@@YGXPAD@Z", void(WINAPI*)(char*), 4)         \
  X(SilentRunExternalWait, "QMSetup_SilentRunExternalWait", DWORD(WINAPI*)(char*, char*), 8)  \
  X(GetCopyFileSize, "QMSetup_GetCopyFileSize", DWORD(WINAPI*)(const char*), 4)               \
  X(RenameDirectory, "QmRenameDirectory", int(WINAPI*)(const char*, const char*), 8)          \
  X(UninstInitialize, "UninstInitialize", int(WINAPI*)(DWORD, DWORD, DWORD), 12)              \
  X(UninstUnInitialize, "UninstUnInitialize", int(WINAPI*)(DWORD, DWORD, DWORD), 12)
// clang-format on

struct Exports {
#define QMIS_TEST_EXPORT_FIELD(field, name, type, bytes) std::type_identity_t<type> field;
  QMIS_TEST_EXPORTS(QMIS_TEST_EXPORT_FIELD)
#undef QMIS_TEST_EXPORT_FIELD
};

// One export: its name in the export table and the stack bytes it removes.
struct ExportInfo {
  const char* name;
  int argumentBytes;
};
extern const ExportInfo kExportTable[23];

// The folder of the running test program, with a trailing backslash.
std::string ProgramFolder();

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
