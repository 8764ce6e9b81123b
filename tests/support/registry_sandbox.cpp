#include "registry_sandbox.h"

#include "qmis/handles.h"
#include "wide.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace qmis_test {

void PrintTo(const RegValue& value, std::ostream* out) {
  *out << "type " << value.type << " \"";
  for (const unsigned char c : value.bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      *out << c;
    } else {
      static const char kHex[] = "0123456789abcdef";
      *out << "\\x" << kHex[c >> 4] << kHex[c & 15];
    }
  }
  *out << "\" (" << value.bytes.size() << " bytes)";
}

RegValue Sz(const std::string& text) {
  return {REG_SZ, std::string(text.c_str(), text.size() + 1)};
}

RegValue Dword(DWORD value) {
  return {REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value)};
}

void CreateKey(HKEY root, const std::string& path, const Caller& caller) {
  QMIS_TEST_TRACE_CALLER(caller);
  qmis::UniqueKey key;
  LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.put(), nullptr);
  ASSERT_EQ(status, ERROR_SUCCESS) << "creating " << path;
}

void SetValue(HKEY root, const std::string& path, const std::string& name, const RegValue& value,
              const Caller& caller) {
  QMIS_TEST_TRACE_CALLER(caller);
  qmis::UniqueKey key;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                            nullptr),
            ERROR_SUCCESS)
      << path;
  LONG status = RegSetValueExA(key.get(), name.empty() ? nullptr : name.c_str(), 0, value.type,
                               reinterpret_cast<const BYTE*>(value.bytes.data()),
                               static_cast<DWORD>(value.bytes.size()));
  ASSERT_EQ(status, ERROR_SUCCESS) << path << ":" << name;
}

std::optional<RegValue> ReadValue(HKEY root, const std::string& path, const std::string& name) {
  qmis::UniqueKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  const char* valueName = name.empty() ? nullptr : name.c_str();
  DWORD size = 0;
  DWORD type = 0;
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::string bytes(size, '\0');
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                       &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  bytes.resize(size);
  return RegValue{type, bytes};
}

void SetStoredValue(HKEY root, const std::string& path, const std::string& name,
                    const RegValue& value, const Caller& caller) {
  QMIS_TEST_TRACE_CALLER(caller);
  qmis::UniqueKey key;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                            nullptr),
            ERROR_SUCCESS)
      << path;
  const std::wstring wideName = Wide(name);
  LONG status = RegSetValueExW(key.get(), name.empty() ? nullptr : wideName.c_str(), 0, value.type,
                               reinterpret_cast<const BYTE*>(value.bytes.data()),
                               static_cast<DWORD>(value.bytes.size()));
  ASSERT_EQ(status, ERROR_SUCCESS) << path << ":" << name;
}

std::optional<RegValue> ReadStoredValue(HKEY root, const std::string& path,
                                        const std::string& name) {
  qmis::UniqueKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  const std::wstring wideName = Wide(name);
  const wchar_t* valueName = name.empty() ? nullptr : wideName.c_str();
  DWORD size = 0;
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::string bytes(size, '\0');
  if (RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                       &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  bytes.resize(size);
  return RegValue{type, bytes};
}

bool KeyExists(HKEY root, const std::string& path) {
  qmis::UniqueKey key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void DeleteTree(HKEY root, const std::string& path) {
  // Keys locked by a test's DACL are opened up first, so they can go.
  qmis::UniqueKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
    char name[300];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      SetKeyDacl(root, path + "\\" + name, "D:P(A;;KA;;;WD)");
    }
  }
  RegDeleteTreeA(root, path.c_str());
  RegDeleteKeyA(root, path.c_str());
}

void CreateTree(HKEY root, const std::string& path, const std::vector<std::string>& keys) {
  CreateKey(root, path);
  for (const std::string& key : keys) CreateKey(root, path + "\\" + key);
}

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[4];
  for (unsigned char byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    out += digits;
  }
  return out;
}

void ReadLevel(HKEY key, const std::string& prefix, std::vector<std::string>& lines) {
  for (DWORD i = 0;; ++i) {
    char name[17000];
    DWORD nameSize = sizeof name;
    DWORD type = 0;
    BYTE data[70000];
    DWORD dataSize = sizeof data;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
      break;
    lines.push_back(prefix + ":" + name + "=" + std::to_string(type) + ":" +
                    Hex(std::string(reinterpret_cast<char*>(data), dataSize)));
  }
  for (DWORD i = 0;; ++i) {
    char name[300];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    const std::string path = prefix.empty() ? name : prefix + "\\" + name;
    lines.push_back(path);
    qmis::UniqueKey sub;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, sub.put()) == ERROR_SUCCESS)
      ReadLevel(sub.get(), path, lines);
  }
}

}  // namespace

std::vector<std::string> ReadTree(HKEY root, const std::string& path) {
  std::vector<std::string> lines;
  qmis::UniqueKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return lines;
  ReadLevel(key.get(), "", lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

void SetKeyDacl(HKEY root, const std::string& path, const char* sddl, const Caller& caller) {
  QMIS_TEST_TRACE_CALLER(caller);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  const qmis::UniqueLocal owner(descriptor);
  qmis::UniqueKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC, key.put()) == ERROR_SUCCESS)
    RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
}

void PutValue(HKEY root, const std::string& path, const std::string& name,
              const std::optional<RegValue>& value) {
  if (value) {
    SetValue(root, path, name, *value);
    return;
  }
  qmis::UniqueKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS)
    RegDeleteValueA(key.get(), name.c_str());
}

SavedRenameLists::SavedRenameLists()
    : pending_(ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames)),
      parked_(ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kParkedRenames)) {
  PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, std::nullopt);
  PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kParkedRenames, std::nullopt);
}

SavedRenameLists::~SavedRenameLists() {
  PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, pending_);
  PutValue(HKEY_LOCAL_MACHINE, kSessionManager, kParkedRenames, parked_);
}

RegistrySandbox::RegistrySandbox() = default;

RegistrySandbox::~RegistrySandbox() {
  for (auto it = owned_.rbegin(); it != owned_.rend(); ++it) DeleteTree(it->first, it->second);
}

std::string RegistrySandbox::Unique(const std::string& stem) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = stem + "_";
  name += info ? info->name() : "setup";
  name += "_" + std::to_string(++counter_);
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

void RegistrySandbox::Own(HKEY root, const std::string& path) { owned_.push_back({root, path}); }

std::string RegistrySandbox::NewKey(HKEY root, const std::string& parent, const std::string& stem) {
  const std::string path = parent + "\\" + Unique(stem);
  DeleteTree(root, path);
  Own(root, path);
  return path;
}

std::string RegistrySandbox::NewProduct(const std::string& stem) {
  return NewKey(HKEY_LOCAL_MACHINE, kUninstall, stem).substr(kUninstall.size() + 1);
}

std::string RegistrySandbox::NewSharedKey(const std::string& stem) {
  return NewKey(HKEY_LOCAL_MACHINE, kMaker, stem).substr(kMaker.size() + 1);
}

}  // namespace qmis_test
