#include "qmis/shell/saved_default.h"

namespace qmis {

LONG SaveDefault(HKEY key, const TextValue& previous) {
  return RegSetValueExW(key, kSavedDefaultValueW, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(previous.data), previous.size);
}

LONG ReadSavedDefault(HKEY key, TextValue& saved) {
  return ReadTextValue(key, kSavedDefaultValueW, saved);
}

LONG WriteDefault(HKEY key, const TextValue& value) {
  return RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data),
                        value.size);
}

Restore RestoreSavedDefault(HKEY key) {
  TextValue saved;
  const LONG status = ReadSavedDefault(key, saved);
  if (status == ERROR_FILE_NOT_FOUND) return Restore::kNothingSaved;
  if (status != ERROR_SUCCESS) return Restore::kUnreadable;
  if (WriteDefault(key, saved) != ERROR_SUCCESS) return Restore::kWriteFailed;
  return Restore::kRestored;
}

}  // namespace qmis
