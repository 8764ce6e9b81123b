#include "findings.h"

#include <cstdio>
#include <map>
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

}  // namespace

void FindInconsistencies(const std::vector<Claim>& allClaims, QmisState& state) {
  CheckMasks(allClaims, state);
  CheckClaimedKeys(state);
}
