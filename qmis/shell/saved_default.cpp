#include "qmis/shell/saved_default.h"

namespace qmis {

LONG SaveDefault(HKEY key, const TextValue& previous) {
  return RegSetValueExA(key, kSavedDefaultValue, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(previous.data), previous.size);
}

Restore RestoreSavedDefault(HKEY key) {
  TextValue saved;
  const LONG status = ReadTextValue(key, kSavedDefaultValue, saved);
  if (status == ERROR_FILE_NOT_FOUND) return Restore::kNothingSaved;
  if (status != ERROR_SUCCESS) return Restore::kUnreadable;
  if (RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(saved.data),
                     saved.size) != ERROR_SUCCESS) {
    return Restore::kWriteFailed;
  }
  return Restore::kRestored;
}

}  // namespace qmis
