// Registry fixtures for tests: unique key names per test, removed at the
// end, and helpers to build a key tree and read one back.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qmis_test {

struct RegValue {
  DWORD type = REG_NONE;
  std::string bytes;
  bool operator==(const RegValue&) const = default;
};

RegValue Sz(const std::string& text);  // REG_SZ with its zero
RegValue Dword(DWORD value);

void CreateKey(HKEY root, const std::string& path);
// Sets a value; an empty name sets the default value.
void SetValue(HKEY root, const std::string& path, const std::string& name, const RegValue& value);
std::optional<RegValue> ReadValue(HKEY root, const std::string& path, const std::string& name);
bool KeyExists(HKEY root, const std::string& path);
void DeleteTree(HKEY root, const std::string& path);

// Creates each key, given relative to `path` ("A", "A\\B", ...).
void CreateTree(HKEY root, const std::string& path, const std::vector<std::string>& keys);
// Every key below `path` (relative, sorted) and every value as
// "key:name=type:bytes" (hex bytes), so that two reads compare whole.
std::vector<std::string> ReadTree(HKEY root, const std::string& path);

// Sets a key's DACL from an SDDL string ("D:P(A;;KR;;;WD)": read only).
void SetKeyDacl(HKEY root, const std::string& path, const char* sddl);

class RegistrySandbox {
 public:
  RegistrySandbox();
  ~RegistrySandbox();
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  // A name no other test uses, from the running test's name and `stem`.
  std::string Unique(const std::string& stem);
  // root\path is removed with its subtree when the sandbox ends.
  void Own(HKEY root, const std::string& path);
  // A fresh key root\parent\<unique name>, owned by the sandbox.
  std::string NewKey(HKEY root, const std::string& parent, const std::string& stem);

 private:
  std::vector<std::pair<HKEY, std::string>> owned_;
  int counter_ = 0;
};

}  // namespace qmis_test
