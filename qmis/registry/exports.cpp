// Exports of the registry toolkit and the shared-key claims. Each refuses a
// null pointer argument with its failure result before doing anything.
#include "qmis.h"

#include <windows.h>

#include "qmis/registry/hive.h"
#include "qmis/registry/key_sweep.h"
#include "qmis/registry/pending_renames.h"
#include "qmis/registry/shared_keys.h"

extern "C" {

int WINAPI QMSetup_RegSaveKey(HKEY root, char* subkey, char* file) {
  if (subkey == nullptr || file == nullptr) return 0;
  return qmis::RegSaveKeyToFileAnsi(root, subkey, file);
}

int WINAPI QMSetup_RegSaveKeyW(HKEY root, const wchar_t* subkey, const wchar_t* file) {
  if (subkey == nullptr || file == nullptr) return 0;
  return qmis::RegSaveKeyToFile(root, subkey, file);
}

int WINAPI QMSetup_RegRestoreKey(HKEY root, char* subkey, char* file) {
  if (subkey == nullptr || file == nullptr) return 0;
  return qmis::RegRestoreKeyFromFileAnsi(root, subkey, file);
}

int WINAPI QMSetup_RegRestoreKeyW(HKEY root, const wchar_t* subkey, const wchar_t* file) {
  if (subkey == nullptr || file == nullptr) return 0;
  return qmis::RegRestoreKeyFromFile(root, subkey, file);
}

int WINAPI QMSetup_BackupPendingFileRename() { return qmis::BackupPendingFileRename(); }

int WINAPI QMSetup_RestorePendingFileRename() { return qmis::RestorePendingFileRename(); }

LONG WINAPI QmUninstall_KeyClean(HKEY root, char* subkey) {
  if (subkey == nullptr) return ERROR_INVALID_PARAMETER;
  return qmis::KeyClean(root, subkey);
}

int WINAPI QMSetup_SetRefcountedKey(char* productKey, char* sharedKeyName, DWORD bits) {
  if (productKey == nullptr || sharedKeyName == nullptr) return 0;
  return qmis::SetRefcountedKey(productKey, sharedKeyName, bits);
}

LONG WINAPI QMSetup_RemoveRefcountedKeys(char* productKey) {
  if (productKey == nullptr) return ERROR_INVALID_PARAMETER;
  return qmis::RemoveRefcountedKeys(productKey);
}

}  // extern "C"
