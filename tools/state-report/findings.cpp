#include "findings.h"

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "read_key.h"

namespace {

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
  return text;
}

// Each shared key's Refcount: a 4-byte REG_DWORD whose every bit some
// product claims.
void CheckMasks(const std::vector<Claim>& allClaims, QmisState& state) {
  std::map<std::string, DWORD> claimed;  // by shared key, case-insensitively
  for (const Claim& claim : allClaims) claimed[Lower(claim.sharedKey)] |= claim.bits;
  for (const SharedKey& key : state.sharedKeys) {
    if (!key.maskValid()) {
      state.inconsistencies.push_back("shared key " + key.name + ": Refcount has type " +
                                      std::to_string(key.type) + " and " +
                                      std::to_string(key.size) + " bytes, not a 4-byte REG_DWORD");
      continue;
    }
    const DWORD orphaned = key.mask & ~claimed[Lower(key.name)];
    if (orphaned != 0)
      state.inconsistencies.push_back("shared key " + key.name + ": bits " + Hex(orphaned) +
                                      " are claimed by no product and would never be released");
  }
}

// Each shown product's claims name keys that are there.
void CheckClaimedKeys(QmisState& state) {
  for (const Product& product : state.products) {
    for (const Claim& claim : product.claims) {
      if (!ReadKey(HKEY_LOCAL_MACHINE, std::string(kMaker) + "\\" + claim.sharedKey))
        state.inconsistencies.push_back("product " + claim.product + " claims shared key " +
                                        claim.sharedKey + ", which is gone");
    }
  }
}

// Whether a shared key name begins with a registry root (its first part
// HKEY_..., HKLM, HKCU, HKCR or HKU): a full path given where a name below
// the maker's root was wanted.
bool BeginsWithRoot(const std::string& name) {
  const std::string first = Lower(name.substr(0, name.find('\\')));
  return first.rfind("hkey_", 0) == 0 || first == "hklm" || first == "hkcu" || first == "hkcr" ||
         first == "hku";
}

// The names of the shown products' claims and of the shown shared keys,
// each name once.
void CheckSharedKeyNames(QmisState& state) {
  std::set<std::string> seen;  // case-insensitively
  auto check = [&](const std::string& name) {
    if (BeginsWithRoot(name) && seen.insert(Lower(name)).second)
      state.inconsistencies.push_back("shared key " + name +
                                      ": the name begins with a registry root (a full path was "
                                      "given where a name below HKLM\\" +
                                      kMaker + " was wanted)");
  };
  for (const Product& product : state.products)
    for (const Claim& claim : product.claims) check(claim.sharedKey);
  for (const SharedKey& key : state.sharedKeys) check(key.name);
}

// The handler a product's file type names ("Quillmoor<handler>File<ext>",
// in any case), or "" when the type is no product's.
std::string HandlerOfType(const std::string& type, const std::string& extension) {
  const std::string lower = Lower(type), prefix = "quillmoor", suffix = Lower("File" + extension);
  if (lower.size() < prefix.size() + suffix.size() || lower.rfind(prefix, 0) != 0 ||
      lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) != 0)
    return "";
  return type.substr(0, type.size() - suffix.size());
}

bool Installed(const std::string& handler, const std::vector<std::string>& handlerNames) {
  for (const std::string& name : handlerNames)
    if (Same(name, handler)) return true;
  return false;
}

// Each listed extension that opens as a product's file type: that product
// is installed, and the type's key is there.
void CheckExtensionTypes(const Machine& machine, QmisState& state) {
  for (const Product& product : state.products) {
    for (const Extension& extension : product.extensions) {
      const std::string handler = HandlerOfType(extension.type, extension.name);
      if (handler.empty()) continue;
      const std::string listed =
          "product " + product.key + " lists extension " + extension.name + ", whose type ";
      if (!Installed(handler, machine.handlerNames))
        state.inconsistencies.push_back(listed + extension.type +
                                        " belongs to no installed product (no uninstall key has "
                                        "the handler name " +
                                        handler + ")");
      if (!ReadKey(HKEY_CLASSES_ROOT, extension.type))
        state.inconsistencies.push_back(listed + "key HKCR\\" + extension.type + " is missing");
    }
  }
}

// The Audio-CD AutoPlay default names a verb whose key is there.
void CheckAutoPlayVerb(QmisState& state) {
  const std::string verb = "AudioCD\\shell\\" + state.autoPlayDefault;
  if (!state.autoPlayDefault.empty() && !ReadKey(HKEY_CLASSES_ROOT, verb))
    state.inconsistencies.push_back("Audio-CD AutoPlay default names verb " +
                                    state.autoPlayDefault + ", whose key HKCR\\" + verb +
                                    " is missing");
}

// No claim list stands directly under the Uninstall key, where claims made
// with an empty product key land.
void CheckStrayClaimList(QmisState& state) {
  const std::string list = kUninstall + "\\" + qmis::kClaimListName;
  if (ReadKey(HKEY_LOCAL_MACHINE, list))
    state.inconsistencies.push_back("claim list HKLM\\" + list +
                                    " stands directly under the Uninstall key, as a claim made "
                                    "with an empty product key leaves it, and belongs to no "
                                    "product");
}

}  // namespace

void FindInconsistencies(const std::string& only, const Machine& machine, QmisState& state) {
  if (!only.empty() && state.products.empty())
    state.inconsistencies.push_back("product " + only +
                                    " not found: no uninstall key of that name holds "
                                    "RefcountList, Extensions or Dependents");
  CheckMasks(machine.claims, state);
  CheckClaimedKeys(state);
  CheckSharedKeyNames(state);
  CheckExtensionTypes(machine, state);
  CheckAutoPlayVerb(state);
  CheckStrayClaimList(state);
}
