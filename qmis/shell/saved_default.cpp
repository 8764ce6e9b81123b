#include "qmis/shell/saved_default.h"

namespace qmis {

LONG SaveDefault(HKEY key, const TextValue& previous) {
  return RegSetValueExW(key, kSavedDefaultValueW, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(previous.data), previous.size);
}

Restore RestoreSavedDefault(HKEY key) {
  TextValue saved;
  const LONG status = ReadTextValue(key, kSavedDefaultValueW, saved);
  if (status == ERROR_FILE_NOT_FOUND) return Restore::kNothingSaved;
  if (status != ERROR_SUCCESS) return Restore::kUnreadable;
  if (RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(saved.data),
                     saved.size) != ERROR_SUCCESS) {
    return Restore::kWriteFailed;
  }
  return Restore::kRestored;
}

}  // namespace qmis
