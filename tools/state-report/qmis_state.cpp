#include "qmis_state.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "qmis/handles.h"

namespace {

const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kMaker[] = "SOFTWARE\\Quillmoor";
const char kSession[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// A key opened for reading, with the walks the report needs; its owner
// closes it at scope end.
class ReadKey {
 public:
  ReadKey(HKEY root, const std::string& path) {
    // A failed open leaves nothing to close, whatever the slot holds.
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key_.put()) != ERROR_SUCCESS) key_.release();
  }
  explicit operator bool() const { return key_.valid(); }
  HKEY get() const { return key_.get(); }

  std::vector<std::string> Subkeys() const {
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

  struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
  };
  std::vector<Value> Values() const {
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

  bool Read(const char* name, Value& value) const {
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

 private:
  qmis::UniqueKey key_;
};

std::string Text(const std::string& data) { return std::string(data.c_str()); }

bool Same(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

void ReadSharedKeys(const std::string& prefix, QmisState& state) {
  ReadKey key(HKEY_LOCAL_MACHINE, prefix.empty() ? kMaker : std::string(kMaker) + "\\" + prefix);
  if (!key) return;
  ReadKey::Value mask;
  if (!prefix.empty() && key.Read("Refcount", mask)) {
    SharedKey shared{prefix, mask.type, static_cast<DWORD>(mask.data.size()), 0};
    if (shared.maskValid()) shared.mask = *reinterpret_cast<const DWORD*>(mask.data.data());
    state.sharedKeys.push_back(shared);
  }
  for (const std::string& name : key.Subkeys())
    ReadSharedKeys(prefix.empty() ? name : prefix + "\\" + name, state);
}

std::vector<RenamePair> ReadRenames(const char* name) {
  std::vector<RenamePair> pairs;
  ReadKey key(HKEY_LOCAL_MACHINE, kSession);
  ReadKey::Value list;
  if (!key.Read(name, list)) return pairs;
  const std::string& bytes = list.data;
  for (size_t at = 0; at < bytes.size() && bytes[at] != '\0';) {
    RenamePair pair;
    pair.from = bytes.c_str() + at;
    at += pair.from.size() + 1;
    if (at < bytes.size()) {
      pair.to = bytes.c_str() + at;
      at += pair.to.size() + 1;
    }
    pairs.push_back(pair);
  }
  return pairs;
}

std::string ExtensionState(const Product& product, const std::string& extension) {
  ReadKey key(HKEY_CLASSES_ROOT, extension);
  if (!key) return "key gone";
  ReadKey::Value current, saved;
  const bool hasSaved = key.Read("QmPrevious", saved);
  const bool held = !key.Read(nullptr, current) ||
                    Same(Text(current.data), product.handlerName + "File" + extension);
  if (!held) return "not the product's (its type is \"" + Text(current.data) + "\")";
  return hasSaved ? "held by the product, restorable from QmPrevious (\"" + Text(saved.data) + "\")"
                  : "held by the product, no saved type (the key goes at removal)";
}

Product ReadProduct(const std::string& name, void(WINAPI* removeSpaces)(char*, DWORD)) {
  Product product;
  product.key = name;
  char handler[MAX_PATH + 16];
  snprintf(handler, sizeof handler, "Quillmoor %s", name.c_str());
  removeSpaces(handler, static_cast<DWORD>(strlen(handler)));
  product.handlerName = handler;
  const std::string base = std::string(kUninstall) + "\\" + name;
  for (const auto& value : ReadKey(HKEY_LOCAL_MACHINE, base + "\\RefcountList").Values()) {
    if (value.type == REG_DWORD && value.data.size() == 4)
      product.claims.push_back(
          {name, value.name, *reinterpret_cast<const DWORD*>(value.data.data())});
  }
  for (const auto& value : ReadKey(HKEY_LOCAL_MACHINE, base + "\\Extensions").Values()) {
    if (!value.name.empty())
      product.extensions.push_back({value.name, ExtensionState(product, value.name)});
  }
  for (const auto& value : ReadKey(HKEY_LOCAL_MACHINE, base + "\\Dependents").Values()) {
    if (value.type != REG_SZ) continue;
    const std::string file = Text(value.data);
    const DWORD attributes = GetFileAttributesA(file.c_str());
    product.dependents.push_back(
        {value.name, file,
         attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)});
  }
  return product;
}

bool IsManaged(const std::string& name) {
  const std::string base = std::string(kUninstall) + "\\" + name;
  for (const char* list : {"\\RefcountList", "\\Extensions", "\\Dependents"}) {
    if (ReadKey(HKEY_LOCAL_MACHINE, base + list)) return true;
  }
  return false;
}

std::string Hex(DWORD value) {
  char text[16];
  snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
  return text;
}

void FindInconsistencies(const std::vector<Claim>& claims, QmisState& state) {
  std::map<std::string, DWORD> claimed;  // by shared key, case-insensitively
  auto norm = [](std::string text) {
    CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
  };
  for (const Claim& claim : claims) claimed[norm(claim.sharedKey)] |= claim.bits;
  for (const SharedKey& key : state.sharedKeys) {
    if (!key.maskValid()) {
      state.inconsistencies.push_back("shared key " + key.name + ": Refcount has type " +
                                      std::to_string(key.type) + " and " +
                                      std::to_string(key.size) + " bytes, not a 4-byte REG_DWORD");
      continue;
    }
    const DWORD orphaned = key.mask & ~claimed[norm(key.name)];
    if (orphaned != 0)
      state.inconsistencies.push_back("shared key " + key.name + ": bits " + Hex(orphaned) +
                                      " are claimed by no product and would never be released");
  }
  for (const Claim& claim : claims) {
    if (!ReadKey(HKEY_LOCAL_MACHINE, std::string(kMaker) + "\\" + claim.sharedKey))
      state.inconsistencies.push_back("product " + claim.product + " claims shared key " +
                                      claim.sharedKey + ", which is gone");
  }
}

}  // namespace

QmisState ReadQmisState(const std::string& only, void(WINAPI* removeSpaces)(char*, DWORD)) {
  QmisState state;
  BOOL wow64 = FALSE;
  state.wow64 = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
  std::vector<Claim> allClaims;
  for (const std::string& name : ReadKey(HKEY_LOCAL_MACHINE, kUninstall).Subkeys()) {
    if (!IsManaged(name)) continue;
    Product product = ReadProduct(name, removeSpaces);
    allClaims.insert(allClaims.end(), product.claims.begin(), product.claims.end());
    if (only.empty() || Same(name, only)) state.products.push_back(product);
  }
  ReadSharedKeys("", state);
  if (!only.empty()) {
    // Only the keys the product claims (checked against every product's claims).
    std::vector<SharedKey> mine;
    for (const SharedKey& key : state.sharedKeys) {
      for (const Product& product : state.products)
        for (const Claim& claim : product.claims)
          if (Same(claim.sharedKey, key.name)) mine.push_back(key);
    }
    state.sharedKeys = mine;
  }
  FindInconsistencies(allClaims, state);
  if (!only.empty()) {
    // Claims on gone keys: this product's only.
    std::erase_if(state.inconsistencies, [&](const std::string& line) {
      return line.rfind("product ", 0) == 0 && line.rfind("product " + only + " ", 0) != 0;
    });
  }
  ReadKey autoPlay(HKEY_CLASSES_ROOT, "AudioCD\\shell");
  ReadKey::Value value;
  if (autoPlay.Read(nullptr, value)) state.autoPlayDefault = Text(value.data);
  if (autoPlay.Read("QmPrevious", value)) state.autoPlaySaved = Text(value.data);
  state.pending = ReadRenames("PendingFileRenameOperations");
  state.parked = ReadRenames("PostponedFileRenameOperations");
  return state;
}
