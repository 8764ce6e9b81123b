#include "qmis_state.h"

#include <cstdio>
#include <cstring>

#include "findings.h"
#include "read_key.h"

namespace {

// A path template of the library's layout with its one %s filled in.
std::string Filled(const char* format, const std::string& name) {
  const std::string text = format;
  const size_t at = text.find("%s");
  return text.substr(0, at) + name + text.substr(at + 2);
}

void ReadSharedKeys(const std::string& prefix, QmisState& state) {
  ReadKey key(HKEY_LOCAL_MACHINE, prefix.empty() ? kMaker : std::string(kMaker) + "\\" + prefix);
  if (!key) return;
  ReadKey::Value mask;
  if (!prefix.empty() && key.Read(qmis::kClaimMaskValue, mask)) {
    SharedKey shared{prefix, mask.type, static_cast<DWORD>(mask.data.size()), 0};
    if (shared.maskValid()) shared.mask = *reinterpret_cast<const DWORD*>(mask.data.data());
    state.sharedKeys.push_back(shared);
  }
  for (const std::string& name : key.Subkeys())
    ReadSharedKeys(prefix.empty() ? name : prefix + "\\" + name, state);
}

std::vector<RenamePair> ReadRenames(const char* name) {
  std::vector<RenamePair> pairs;
  ReadKey key(HKEY_LOCAL_MACHINE, qmis::kSessionManager);
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

Extension ReadExtension(const Product& product, const std::string& name) {
  const ReadKey key(HKEY_CLASSES_ROOT, name);
  if (!key) return {name, "key gone", ""};
  ReadKey::Value current, saved;
  const bool hasType = key.Read(nullptr, current);
  const std::string type = hasType ? Text(current.data) : "";
  if (hasType && !Same(type, product.handlerName + "File" + name))
    return {name, "not the product's (its type is \"" + type + "\")", type};
  return {name,
          key.Read(qmis::kSavedDefaultValue, saved)
              ? std::string("held by the product, restorable from ") + qmis::kSavedDefaultValue +
                    " (\"" + Text(saved.data) + "\")"
              : "held by the product, no saved type (the key goes at removal)",
          type};
}

// "Quillmoor" and the product key without its spaces, as the library makes it.
std::string HandlerName(const std::string& name, RemoveSpaces removeSpaces) {
  char handler[MAX_PATH + 16];
  snprintf(handler, sizeof handler, qmis::kHandlerNameFormat, name.c_str());
  removeSpaces(handler, static_cast<DWORD>(strlen(handler)));
  return handler;
}

Product ReadProduct(const std::string& name, const std::string& handlerName) {
  Product product;
  product.key = name;
  product.handlerName = handlerName;
  for (const auto& value :
       ReadKey(HKEY_LOCAL_MACHINE, Filled(qmis::kClaimListFormat, name)).Values()) {
    if (value.type == REG_DWORD && value.data.size() == 4)
      product.claims.push_back(
          {name, value.name, *reinterpret_cast<const DWORD*>(value.data.data())});
  }
  for (const auto& value :
       ReadKey(HKEY_LOCAL_MACHINE, Filled(qmis::kExtensionsFormat, name)).Values()) {
    if (!value.name.empty()) product.extensions.push_back(ReadExtension(product, value.name));
  }
  for (const auto& value :
       ReadKey(HKEY_LOCAL_MACHINE, Filled(qmis::kDependentsFormat, name)).Values()) {
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
  for (const char* list :
       {qmis::kClaimListFormat, qmis::kExtensionsFormat, qmis::kDependentsFormat}) {
    if (ReadKey(HKEY_LOCAL_MACHINE, Filled(list, name))) return true;
  }
  return false;
}

}  // namespace

QmisState ReadQmisState(const std::string& only, RemoveSpaces removeSpaces) {
  QmisState state;
  BOOL wow64 = FALSE;
  state.wow64 = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
  Machine machine;
  for (const std::string& name : ReadKey(HKEY_LOCAL_MACHINE, kUninstall).Subkeys()) {
    machine.handlerNames.push_back(HandlerName(name, removeSpaces));
    if (!IsManaged(name)) continue;
    const Product product = ReadProduct(name, machine.handlerNames.back());
    machine.claims.insert(machine.claims.end(), product.claims.begin(), product.claims.end());
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
  ReadKey autoPlay(HKEY_CLASSES_ROOT, qmis::kAudioCdShell);
  ReadKey::Value value;
  if (autoPlay.Read(nullptr, value)) state.autoPlayDefault = Text(value.data);
  if (autoPlay.Read(qmis::kSavedDefaultValue, value)) state.autoPlaySaved = Text(value.data);
  state.pending = ReadRenames(qmis::kPendingRenamesValue);
  state.parked = ReadRenames(qmis::kParkedRenamesValue);
  FindInconsistencies(only, machine, state);
  return state;
}
