// Exports of the registry toolkit and the shared-key claims. Each refuses a
// null pointer argument with its failure result before doing anything, and
// leaves the thread's last error telling why it failed.
#include "qmis.h"

#include <windows.h>

#include "qmis/call_report.h"
#include "qmis/registry/hive.h"
#include "qmis/registry/key_sweep.h"
#include "qmis/registry/pending_renames.h"
#include "qmis/registry/shared_keys.h"

using qmis::Arg;
using qmis::CallReport;

extern "C" {

int WINAPI QMSetup_RegSaveKey(HKEY root, char* subkey, char* file) {
  CallReport report("QMSetup_RegSaveKey", {Arg(root), Arg(subkey), Arg(file)});
  if (subkey == nullptr || file == nullptr) return report.Refuse(0);
  const int result = qmis::RegSaveKeyToFileAnsi(root, subkey, file);
  return report.Return(result, result == 1);
}

int WINAPI QMSetup_RegSaveKeyW(HKEY root, const wchar_t* subkey, const wchar_t* file) {
  CallReport report("QMSetup_RegSaveKeyW", {Arg(root), Arg(subkey), Arg(file)});
  if (subkey == nullptr || file == nullptr) return report.Refuse(0);
  const int result = qmis::RegSaveKeyToFile(root, subkey, file);
  return report.Return(result, result == 1);
}

int WINAPI QMSetup_RegRestoreKey(HKEY root, char* subkey, char* file) {
  CallReport report("QMSetup_RegRestoreKey", {Arg(root), Arg(subkey), Arg(file)});
  if (subkey == nullptr || file == nullptr) return report.Refuse(0);
  const int result = qmis::RegRestoreKeyFromFileAnsi(root, subkey, file);
  return report.Return(result, result == 1);
}

int WINAPI QMSetup_RegRestoreKeyW(HKEY root, const wchar_t* subkey, const wchar_t* file) {
  CallReport report("QMSetup_RegRestoreKeyW", {Arg(root), Arg(subkey), Arg(file)});
  if (subkey == nullptr || file == nullptr) return report.Refuse(0);
  const int result = qmis::RegRestoreKeyFromFile(root, subkey, file);
  return report.Return(result, result == 1);
}

int WINAPI QMSetup_BackupPendingFileRename() {
  CallReport report("QMSetup_BackupPendingFileRename", {});
  const int result = qmis::BackupPendingFileRename();
  return report.Return(result, result == 1);
}

int WINAPI QMSetup_RestorePendingFileRename() {
  CallReport report("QMSetup_RestorePendingFileRename", {});
  const int result = qmis::RestorePendingFileRename();
  return report.Return(result, result == 1);
}

LONG WINAPI QmUninstall_KeyClean(HKEY root, char* subkey) {
  CallReport report("QmUninstall_KeyClean", {Arg(root), Arg(subkey)});
  if (subkey == nullptr) return report.Refuse(static_cast<LONG>(ERROR_INVALID_PARAMETER));
  return report.ReturnStatus(qmis::KeyClean(root, subkey));
}

int WINAPI QMSetup_SetRefcountedKey(char* productKey, char* sharedKeyName, DWORD bits) {
  CallReport report("QMSetup_SetRefcountedKey", {Arg(productKey), Arg(sharedKeyName), Arg(bits)});
  if (productKey == nullptr || sharedKeyName == nullptr) return report.Refuse(0);
  const int result = qmis::SetRefcountedKey(productKey, sharedKeyName, bits);
  return report.Return(result, result == 1);
}

// 1 stands for "nothing to release": the last error then says what was
// looked for, or why the maker's root could not be opened.
LONG WINAPI QMSetup_RemoveRefcountedKeys(char* productKey) {
  CallReport report("QMSetup_RemoveRefcountedKeys", {Arg(productKey)});
  if (productKey == nullptr) return report.Refuse(static_cast<LONG>(ERROR_INVALID_PARAMETER));
  return report.ReturnStatus(qmis::RemoveRefcountedKeys(productKey));
}

}  // extern "C"
