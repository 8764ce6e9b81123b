#include "qmis/shell/saved_default.h"

#include "qmis/call_report.h"

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

Restore RestoreSavedDefault(HKEY key, const char* keyName) {
  TextValue saved;
  const LONG status = ReadSavedDefault(key, saved);
  if (status == ERROR_FILE_NOT_FOUND) return Restore::kNothingSaved;
  if (status != ERROR_SUCCESS)
    return Failed(Restore::kUnreadable, "reading QmPrevious", status, keyName);
  const LONG written = WriteDefault(key, saved);
  if (written != ERROR_SUCCESS)
    return Failed(Restore::kWriteFailed, "writing QmPrevious back", written, keyName);
  return Restore::kRestored;
}

}  // namespace qmis
