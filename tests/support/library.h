// Loads QMIS.dll as an installer does (LoadLibraryA from the program's own
// folder) and resolves its exports by exact name into typed __stdcall
// pointers.
#pragma once

#include <windows.h>

#include <string>

namespace qmis_test {

struct Exports {
  BOOL(WINAPI* DllMain)(HINSTANCE, DWORD, LPVOID);
  int(WINAPI* DetectDxmedia)();
  int(WINAPI* GetInternalBuildNum)();
  int(WINAPI* GetInternalMajorVerNum)();
  int(WINAPI* GetInternalMinorVerNum)();
  int(WINAPI* GetVersionNum)(char*);
  void(WINAPI* RemoveSpaces)(char*, DWORD);
  int(WINAPI* RegSaveKey)(HKEY, char*, char*);
  int(WINAPI* RegRestoreKey)(HKEY, char*, char*);
  int(WINAPI* BackupPendingFileRename)();
  int(WINAPI* RestorePendingFileRename)();
  LONG(WINAPI* KeyClean)(HKEY, char*);
  int(WINAPI* SetRefcountedKey)(char*, char*, DWORD);
  int(WINAPI* RemoveRefcountedKeys)(char*);
  void(WINAPI* RegisterAutoInsertTag)(char*);
  void(WINAPI* UnregisterAutoInsertTag)(char*);
  void(WINAPI* UnregisterSpecificExtension)(char*, char*);
  void(WINAPI* UnregisterExtensions)(char*);
  DWORD(WINAPI* SilentRunExternalWait)(char*, char*);
  DWORD(WINAPI* GetCopyFileSize)(const char*);
  int(WINAPI* RenameDirectory)(const char*, const char*);
  int(WINAPI* UninstInitialize)(DWORD, DWORD, DWORD);
  int(WINAPI* UninstUnInitialize)(DWORD, DWORD, DWORD);
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
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  HMODULE module() const { return module_; }
  const Exports& api() const { return exports_; }
  // The address of an export by exact name, or null.
  void* Find(const char* name) const;

 private:
  HMODULE module_;
  Exports exports_{};
};

}  // namespace qmis_test
