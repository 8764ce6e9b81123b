#include "read_key.h"

ReadKey::ReadKey(HKEY root, const std::string& path) {
  // A failed open leaves nothing to close, whatever the slot holds.
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key_.put()) != ERROR_SUCCESS) key_.release();
}

std::vector<std::string> ReadKey::Subkeys() const {
  std::vector<std::string> names;
  char name[300];
  for (DWORD i = 0; key_; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key_.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.push_back(name);
  }
  return names;
}

std::vector<ReadKey::Value> ReadKey::Values() const {
  std::vector<Value> values;
  for (DWORD i = 0; key_; ++i) {
    char name[16384];
    DWORD nameSize = sizeof name, dataSize = 0, type = 0;
    if (RegEnumValueA(key_.get(), i, name, &nameSize, nullptr, &type, nullptr, &dataSize) !=
        ERROR_SUCCESS)
      break;
    std::string data(dataSize, '\0');
    nameSize = sizeof name;
    if (RegEnumValueA(key_.get(), i, name, &nameSize, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &dataSize) != ERROR_SUCCESS)
      break;
    data.resize(dataSize);
    values.push_back({name, type, data});
  }
  return values;
}

bool ReadKey::Read(const char* name, Value& value) const {
  DWORD size = 0;
  if (!key_ ||
      RegQueryValueExA(key_.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  value.data.assign(size, '\0');
  if (RegQueryValueExA(key_.get(), name, nullptr, &value.type,
                       reinterpret_cast<BYTE*>(value.data.data()), &size) != ERROR_SUCCESS)
    return false;
  value.data.resize(size);
  return true;
}
