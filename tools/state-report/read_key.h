// A registry key opened for reading, with the walks the report needs, and
// how registry names compare (ignoring case).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "qmis/handles.h"

// A key opened for reading; its owner closes it at scope end. A key that
// could not be opened reads as empty.
class ReadKey {
 public:
  ReadKey(HKEY root, const std::string& path);
  explicit operator bool() const { return key_.valid(); }

  struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
  };
  std::vector<std::string> Subkeys() const;
  std::vector<Value> Values() const;
  // The value `name` (nullptr: the default value); false when it is absent.
  bool Read(const char* name, Value& value) const;

 private:
  qmis::UniqueKey key_;
};

// A string value's text: its data up to the first zero.
inline std::string Text(const std::string& data) { return std::string(data.c_str()); }

// Registry names are the same whatever their case.
inline std::string Lower(std::string text) {
  CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}
inline bool Same(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}
