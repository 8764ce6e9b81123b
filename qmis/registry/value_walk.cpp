#include "qmis/registry/value_walk.h"

#include <cstring>

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

LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
               DWORD* dataSize) {
  wchar_t wide[kPathBufferSize];
  DWORD wideSize = kPathBufferSize;
  const LONG status = RegEnumValueW(key, index, wide, &wideSize, nullptr, type, data, dataSize);
  name[0] = '\0';
  if (status != ERROR_SUCCESS) return status;
  BOOL lossy = FALSE;
  int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, name,
                                  static_cast<int>(*nameSize), nullptr, &lossy);
  // A code page without look-alikes (UTF-8) takes no such flag: it is exact.
  if (bytes == 0 && GetLastError() == ERROR_INVALID_FLAGS)
    bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, name, static_cast<int>(*nameSize), nullptr,
                                nullptr);
  if (bytes == 0 || lossy) {
    name[0] = '\0';
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  *nameSize = static_cast<DWORD>(bytes) - 1;
  return ERROR_SUCCESS;
}

void TerminateText(wchar_t* data, DWORD size) {
  // An odd count leaves half a unit: its other byte is cleared too.
  if (size % 2 != 0) reinterpret_cast<BYTE*>(data)[size] = 0;
  data[(size + 1) / 2] = L'\0';
}

namespace {

bool IsTextType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A value of another type holds bytes the system never converts: the ANSI
// functions hand them over as they are, as ANSI text. They are taken as such
// here too, at most 260 bytes, and become the same UTF-16 text.
LONG WidenStoredBytes(TextValue& value) {
  if (value.size > MAX_PATH) return ERROR_MORE_DATA;
  char bytes[MAX_PATH];
  std::memcpy(bytes, value.data, value.size);
  const int units = value.size == 0
                        ? 0
                        : MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(value.size),
                                              value.data, MAX_PATH);
  if (value.size != 0 && units == 0) return ERROR_NO_UNICODE_TRANSLATION;
  value.size = static_cast<DWORD>(units) * sizeof(wchar_t);
  return ERROR_SUCCESS;
}

}  // namespace

LONG ReadTextValue(HKEY key, const wchar_t* name, TextValue& value) {
  constexpr DWORD kCapacity = MAX_PATH * sizeof(wchar_t);
  value.size = kCapacity;
  value.type = REG_NONE;
  LONG status = RegQueryValueExW(key, name, nullptr, &value.type,
                                 reinterpret_cast<BYTE*>(value.data), &value.size);
  status = WithinCapacity(status, value.size, kCapacity);
  if (status == ERROR_SUCCESS && !IsTextType(value.type)) status = WidenStoredBytes(value);
  TerminateText(value.data, status == ERROR_SUCCESS ? value.size : 0);
  return status;
}

}  // namespace qmis
