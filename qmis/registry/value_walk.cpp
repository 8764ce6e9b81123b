#include "qmis/registry/value_walk.h"

namespace qmis {

bool ValueWalkGoesOn(HKEY key, LONG status, DWORD index) {
  if (status == ERROR_NO_MORE_ITEMS) return false;
  if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) return true;
  DWORD values = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return index + 1 < values;
}

LONG ReadTextValue(HKEY key, const char* name, TextValue& value) {
  value.size = MAX_PATH;
  value.type = REG_NONE;
  const LONG status = RegQueryValueExA(key, name, nullptr, &value.type,
                                       reinterpret_cast<BYTE*>(value.data), &value.size);
  value.data[status == ERROR_SUCCESS ? value.size : 0] = '\0';
  return status;
}

}  // namespace qmis
