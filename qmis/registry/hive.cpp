#include "qmis/registry/hive.h"

#include "qmis/call_report.h"
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
  const char* applyName;
};

LONG SaveHive(HKEY key, const wchar_t* file) { return RegSaveKeyW(key, file, nullptr); }
LONG RestoreHive(HKEY key, const wchar_t* file) { return RegRestoreKeyW(key, file, 0); }

// Opens or creates the key and lets the system save or restore it.
bool ApplyToKey(HKEY root, const wchar_t* subkey, const wchar_t* file,
                const HiveOperation& operation) {
  UniqueKey key;
  DWORD disposition = 0;
  const LONG created = RegCreateKeyExW(root, subkey, 0, nullptr, operation.options,
                                       operation.access, nullptr, key.put(), &disposition);
  if (created != ERROR_SUCCESS) return Failed(false, "RegCreateKeyExW", created, subkey);
  const LONG applied = operation.apply(key.get(), file);
  if (applied != ERROR_SUCCESS) return Failed(false, operation.applyName, applied, file);
  return true;
}

int RunWithPrivilege(HKEY root, const wchar_t* subkey, const wchar_t* file,
                     const HiveOperation& operation) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
    // Without a token nothing is switched on or put back; the save or
    // restore is still attempted, but cannot count as a success.
    ReportFailure("OpenProcessToken", static_cast<LONG>(GetLastError()));
    (void)ApplyToKey(root, subkey, file, operation);
    return 0;
  }

  TOKEN_PRIVILEGES enable{};
  enable.PrivilegeCount = 1;
  enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, operation.privilege, &enable.Privileges[0].Luid))
    ReportFailure("LookupPrivilegeValueA", static_cast<LONG>(GetLastError()));
  TOKEN_PRIVILEGES previous{};
  DWORD previousLength = sizeof previous;
  // A token without the privilege reports ERROR_NOT_ALL_ASSIGNED and goes on:
  // the system then refuses the operation itself.
  const bool enabled =
      AdjustTokenPrivileges(token.get(), FALSE, &enable, sizeof enable, &previous, &previousLength);
  if (!enabled) ReportFailure("AdjustTokenPrivileges", static_cast<LONG>(GetLastError()));

  int result = ApplyToKey(root, subkey, file, operation) ? 1 : 0;

  if (!enabled) return 0;  // no previous state was recorded to put back
  // The put-back's result is TRUE even when not every privilege was put
  // back: only the last error tells, and it is read at once.
  (void)AdjustTokenPrivileges(token.get(), FALSE, &previous, sizeof previous, nullptr, nullptr);
  const DWORD putBack = GetLastError();
  if (putBack != ERROR_SUCCESS) {
    ReportFailure("AdjustTokenPrivileges (putting the privilege back)", static_cast<LONG>(putBack));
    result = 0;
  }
  return result;
}

}  // namespace

int RegSaveKeyToFile(HKEY root, const wchar_t* subkey, const wchar_t* file) {
  if (!CheckWidePath(subkey) || !CheckWidePath(file)) return 0;
  // Some platforms' save overwrites an existing file; this one never does.
  if (GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES)
    return Failed(0, "save (never over an existing file)", ERROR_FILE_EXISTS, file);
  static constexpr HiveOperation kSave{SE_BACKUP_NAME, REG_OPTION_BACKUP_RESTORE, KEY_WRITE,
                                       SaveHive, "RegSaveKeyW"};
  return RunWithPrivilege(root, subkey, file, kSave);
}

int RegRestoreKeyFromFile(HKEY root, const wchar_t* subkey, const wchar_t* file) {
  if (!CheckWidePath(subkey) || !CheckWidePath(file)) return 0;
  static constexpr HiveOperation kRestore{SE_RESTORE_NAME, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                          RestoreHive, "RegRestoreKeyW"};
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
