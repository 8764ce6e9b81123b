#include "qmis/registry/hive.h"

#include "qmis/handles.h"
#include "qmis/wide_text.h"

namespace qmis {
namespace {

// The token privilege record: one entry, 16 bytes.
static_assert(sizeof(TOKEN_PRIVILEGES) == 16);

// What differs between saving and restoring.
struct HiveOperation {
  const char* privilege;
  DWORD options;
  REGSAM access;
  LONG (*apply)(HKEY key, const wchar_t* file);
};

LONG SaveHive(HKEY key, const wchar_t* file) { return RegSaveKeyW(key, file, nullptr); }
LONG RestoreHive(HKEY key, const wchar_t* file) { return RegRestoreKeyW(key, file, 0); }

// Opens or creates the key and lets the system save or restore it.
bool ApplyToKey(HKEY root, const wchar_t* subkey, const wchar_t* file,
                const HiveOperation& operation) {
  UniqueKey key;
  DWORD disposition = 0;
  if (RegCreateKeyExW(root, subkey, 0, nullptr, operation.options, operation.access, nullptr,
                      key.put(), &disposition) != ERROR_SUCCESS) {
    return false;
  }
  return operation.apply(key.get(), file) == ERROR_SUCCESS;
}

int RunWithPrivilege(HKEY root, const wchar_t* subkey, const wchar_t* file,
                     const HiveOperation& operation) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
    // Without a token nothing is switched on or put back; the save or
    // restore is still attempted, but cannot count as a success.
    ApplyToKey(root, subkey, file, operation);
    return 0;
  }

  TOKEN_PRIVILEGES enable{};
  enable.PrivilegeCount = 1;
  enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  LookupPrivilegeValueA(nullptr, operation.privilege, &enable.Privileges[0].Luid);
  TOKEN_PRIVILEGES previous{};
  DWORD previousLength = sizeof previous;
  // A token without the privilege reports ERROR_NOT_ALL_ASSIGNED and goes on:
  // the system then refuses the operation itself.
  const bool enabled =
      AdjustTokenPrivileges(token.get(), FALSE, &enable, sizeof enable, &previous, &previousLength);

  int result = ApplyToKey(root, subkey, file, operation) ? 1 : 0;

  if (!enabled) return 0;  // no previous state was recorded to put back
  AdjustTokenPrivileges(token.get(), FALSE, &previous, sizeof previous, nullptr, nullptr);
  if (GetLastError() != ERROR_SUCCESS) result = 0;
  return result;
}

}  // namespace

int RegSaveKeyToFile(HKEY root, const wchar_t* subkey, const wchar_t* file) {
  if (!FitsWidePath(subkey) || !FitsWidePath(file)) return 0;
  // Some platforms' save overwrites an existing file; this one never does.
  if (GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES) return 0;
  static constexpr HiveOperation kSave{SE_BACKUP_NAME, REG_OPTION_BACKUP_RESTORE, KEY_WRITE,
                                       SaveHive};
  return RunWithPrivilege(root, subkey, file, kSave);
}

int RegRestoreKeyFromFile(HKEY root, const wchar_t* subkey, const wchar_t* file) {
  if (!FitsWidePath(subkey) || !FitsWidePath(file)) return 0;
  static constexpr HiveOperation kRestore{SE_RESTORE_NAME, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                          RestoreHive};
  return RunWithPrivilege(root, subkey, file, kRestore);
}

int RegSaveKeyToFileAnsi(HKEY root, const char* subkey, const char* file) {
  WidePath wideSubkey;
  WidePath wideFile;
  if (!WidenPath(subkey, wideSubkey) || !WidenPath(file, wideFile)) return 0;
  return RegSaveKeyToFile(root, wideSubkey, wideFile);
}

int RegRestoreKeyFromFileAnsi(HKEY root, const char* subkey, const char* file) {
  WidePath wideSubkey;
  WidePath wideFile;
  if (!WidenPath(subkey, wideSubkey) || !WidenPath(file, wideFile)) return 0;
  return RegRestoreKeyFromFile(root, wideSubkey, wideFile);
}

}  // namespace qmis
