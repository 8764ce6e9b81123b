#include "library.h"

#include <cstdio>
#include <cstdlib>

namespace qmis_test {

const ExportInfo kExportTable[23] = {
    {"_DllMain@12", 12},
    {"QMSetup_DetectDxmedia", 0},
    {"QMSetup_GetInternalBuildNum", 0},
    {"QMSetup_GetInternalMajorVerNum", 0},
    {"QMSetup_GetInternalMinorVerNum", 0},
    {"QMSetup_GetVersionNum", 4},
    {"QMSetup_RemoveSpaces", 8},
    {"QMSetup_RegSaveKey", 12},
    {"QMSetup_RegRestoreKey", 12},
    {"QMSetup_BackupPendingFileRename", 0},
    {"QMSetup_RestorePendingFileRename", 0},
    {"QmUninstall_KeyClean", 8},
    {"QMSetup_SetRefcountedKey", 12},
    {"QMSetup_RemoveRefcountedKeys", 4},
    {"?RegisterAutoInsertTag@@YGXPAD@Z", 4},
    {"?UnregisterAutoInsertTag@@YGXPAD@Z", 4},
    {"?UnregisterSpecificExtension@@YGXPAD0@Z", 8},
    {"?UnregisterExtensions@@YGXPAD@Z", 4},
    {"QMSetup_SilentRunExternalWait", 8},
    {"QMSetup_GetCopyFileSize", 4},
    {"QmRenameDirectory", 8},
    {"UninstInitialize", 12},
    {"UninstUnInitialize", 12},
};

std::string ProgramFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

Library::Library(const char* fileName) {
  const std::string path = ProgramFolder() + fileName;
  module_ = LoadLibraryA(path.c_str());
  if (module_ == nullptr) {
    std::fprintf(stderr, "cannot load %s: error %lu\n", path.c_str(), GetLastError());
    std::abort();
  }
  auto bind = [this](auto& slot, const char* name) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(Find(name));
  };
  bind(exports_.DllMain, "_DllMain@12");
  bind(exports_.DetectDxmedia, "QMSetup_DetectDxmedia");
  bind(exports_.GetInternalBuildNum, "QMSetup_GetInternalBuildNum");
  bind(exports_.GetInternalMajorVerNum, "QMSetup_GetInternalMajorVerNum");
  bind(exports_.GetInternalMinorVerNum, "QMSetup_GetInternalMinorVerNum");
  bind(exports_.GetVersionNum, "QMSetup_GetVersionNum");
  bind(exports_.RemoveSpaces, "QMSetup_RemoveSpaces");
  bind(exports_.RegSaveKey, "QMSetup_RegSaveKey");
  bind(exports_.RegRestoreKey, "QMSetup_RegRestoreKey");
  bind(exports_.BackupPendingFileRename, "QMSetup_BackupPendingFileRename");
  bind(exports_.RestorePendingFileRename, "QMSetup_RestorePendingFileRename");
  bind(exports_.KeyClean, "QmUninstall_KeyClean");
  bind(exports_.SetRefcountedKey, "QMSetup_SetRefcountedKey");
  bind(exports_.RemoveRefcountedKeys, "QMSetup_RemoveRefcountedKeys");
  bind(exports_.RegisterAutoInsertTag, "?RegisterAutoInsertTag@@YGXPAD@Z");
  bind(exports_.UnregisterAutoInsertTag, "?UnregisterAutoInsertTag@@YGXPAD@Z");
  bind(exports_.UnregisterSpecificExtension, "?UnregisterSpecificExtension@@YGXPAD0@Z");
  bind(exports_.UnregisterExtensions, "?UnregisterExtensions@@YGXPAD@Z");
  bind(exports_.SilentRunExternalWait, "QMSetup_SilentRunExternalWait");
  bind(exports_.GetCopyFileSize, "QMSetup_GetCopyFileSize");
  bind(exports_.RenameDirectory, "QmRenameDirectory");
  bind(exports_.UninstInitialize, "UninstInitialize");
  bind(exports_.UninstUnInitialize, "UninstUnInitialize");
}

Library::~Library() { FreeLibrary(module_); }

void* Library::Find(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(module_, name));
}

}  // namespace qmis_test
