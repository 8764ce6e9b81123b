// Registry fixtures for tests: unique key names per test, removed at the
// end, and helpers to build a key tree and read one back.
#pragma once

#include <windows.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "caller.h"

namespace qmis_test {

// The library's registry layout, spelled here on its own rather than taken
// from qmis/layout.h: a change to either shows as a failing test.
// The keys the library works under, below HKEY_LOCAL_MACHINE.
inline const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline const std::string kMaker = "SOFTWARE\\Quillmoor";
inline const std::string kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline const std::string kPendingRenames = "PendingFileRenameOperations";
inline const std::string kParkedRenames = "PostponedFileRenameOperations";
// A product's key and its lists below it, and a shared key of the maker.
inline std::string ProductPath(const std::string& product) { return kUninstall + "\\" + product; }
inline std::string ClaimListPath(const std::string& product) {
  return ProductPath(product) + "\\RefcountList";
}
inline std::string ExtensionsPath(const std::string& product) {
  return ProductPath(product) + "\\Extensions";
}
inline std::string DependentsPath(const std::string& product) {
  return ProductPath(product) + "\\Dependents";
}
inline std::string SharedKeyPath(const std::string& name) { return kMaker + "\\" + name; }
// The value that holds a handed-over default, and a shared key's claim mask.
inline const std::string kSavedDefault = "QmPrevious";
inline const std::string kClaimMask = "Refcount";

struct RegValue {
  DWORD type = REG_NONE;
  std::string bytes;
  bool operator==(const RegValue&) const = default;
};
// Shown in a failure as its type and its bytes, printable ones as they are.
void PrintTo(const RegValue& value, std::ostream* out);

RegValue Sz(const std::string& text);  // REG_SZ with its zero
RegValue Dword(DWORD value);

void CreateKey(HKEY root, const std::string& path, const Caller& caller = Caller::current());
// Sets a value; an empty name sets the default value.
void SetValue(HKEY root, const std::string& path, const std::string& name, const RegValue& value,
              const Caller& caller = Caller::current());
std::optional<RegValue> ReadValue(HKEY root, const std::string& path, const std::string& name);
// The same through the system's UTF-16 functions: the bytes as stored, text
// in UTF-16, never through the ANSI code page. `name` is UTF-8.
void SetStoredValue(HKEY root, const std::string& path, const std::string& name,
                    const RegValue& value, const Caller& caller = Caller::current());
std::optional<RegValue> ReadStoredValue(HKEY root, const std::string& path,
                                        const std::string& name);
bool KeyExists(HKEY root, const std::string& path);
void DeleteTree(HKEY root, const std::string& path);

// Sets a value, or deletes it when there is none.
void PutValue(HKEY root, const std::string& path, const std::string& name,
              const std::optional<RegValue>& value);

// Creates each key, given relative to `path` ("A", "A\\B", ...).
void CreateTree(HKEY root, const std::string& path, const std::vector<std::string>& keys);
// Every key below `path` (relative, sorted) and every value as
// "key:name=type:bytes" (hex bytes), so that two reads compare whole.
std::vector<std::string> ReadTree(HKEY root, const std::string& path);

// Sets a key's DACL from an SDDL string ("D:P(A;;KR;;;WD)": read only).
void SetKeyDacl(HKEY root, const std::string& path, const char* sddl,
                const Caller& caller = Caller::current());

// The machine's pending and parked rename lists, saved and cleared for a
// test, and put back as they were when it ends.
class SavedRenameLists {
 public:
  SavedRenameLists();
  ~SavedRenameLists();
  SavedRenameLists(const SavedRenameLists&) = delete;
  SavedRenameLists& operator=(const SavedRenameLists&) = delete;

 private:
  std::optional<RegValue> pending_, parked_;
};

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
  // A product key of the test's own: its uninstall key goes at the end.
  std::string NewProduct(const std::string& stem);
  // A shared key name of the test's own, below the maker's root.
  std::string NewSharedKey(const std::string& stem);

 private:
  std::vector<std::pair<HKEY, std::string>> owned_;
  int counter_ = 0;
};

}  // namespace qmis_test
