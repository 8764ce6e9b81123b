#include "qmis/registry/shared_keys.h"

#include <cstring>
#include <optional>

#include "qmis/call_report.h"
#include "qmis/handles.h"
#include "qmis/layout.h"
#include "qmis/named_lock.h"
#include "qmis/path_buffer.h"
#include "qmis/registry/key_tree.h"
#include "qmis/registry/value_walk.h"

namespace qmis {
namespace {

LONG CreateKey(const char* path, UniqueKey& key) {
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
}

LONG WriteMask(HKEY key, const char* name, DWORD mask) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mask), sizeof mask);
}

struct Mask {
  LONG status;
  DWORD type;
  DWORD value;
};

Mask ReadMask(HKEY key) {
  Mask mask{ERROR_SUCCESS, REG_NONE, 0};
  DWORD size = sizeof mask.value;
  mask.status = RegQueryValueExA(key, kClaimMaskValue, nullptr, &mask.type,
                                 reinterpret_cast<BYTE*>(&mask.value), &size);
  return mask;
}

// Takes the product's bits off one shared key; deletes the key when no bit
// is left. Returns the deletion's status, or nothing when nothing was deleted.
// The mask is read, cleared and written back, or its key deleted, with no
// other installer's claim or release of it in between; the lock is held for
// this one key, so that a release of many keys never keeps another
// installer waiting for more than a few registry calls.
std::optional<LONG> ReleaseClaim(HKEY makerRoot, const char* sharedKeyName, DWORD productBits) {
  const NamedLock lock(kClaimLockName);
  UniqueKey shared;
  if (RegOpenKeyExA(makerRoot, sharedKeyName, 0, KEY_ALL_ACCESS, shared.put()) != ERROR_SUCCESS)
    return std::nullopt;
  const Mask mask = ReadMask(shared.get());
  if (mask.status != ERROR_SUCCESS || mask.type != REG_DWORD) return std::nullopt;
  const DWORD remaining = mask.value & ~productBits;
  if (remaining != 0) {
    // A mask that cannot be written keeps the bits: the key stays, as it
    // must while they may be another product's.
    (void)WriteMask(shared.get(), kClaimMaskValue, remaining);
    return std::nullopt;
  }
  shared.reset();
  return DeleteKeyTree(makerRoot, sharedKeyName);
}

}  // namespace

int SetRefcountedKey(const char* productKey, const char* sharedKeyName, DWORD bits) {
  PathBuffer claimListPath;
  PathBuffer sharedKeyPath;
  // An empty name would make the maker's root itself a shared key, and an
  // empty product key would put the claim list under the Uninstall key.
  if (productKey[0] == '\0' || sharedKeyName[0] == '\0')
    return Failed(0, "argument check (an empty name)", ERROR_INVALID_PARAMETER, sharedKeyName);
  if (!FormatPath(claimListPath, kClaimListFormat, productKey) ||
      !FormatPath(sharedKeyPath, kSharedKeyFormat, sharedKeyName)) {
    return 0;
  }

  {
    // A claim the list does not record could never be released.
    UniqueKey claimList;
    if (const LONG status = CreateKey(claimListPath, claimList); status != ERROR_SUCCESS)
      return Failed(0, "RegCreateKeyExA", status, claimListPath);
    if (const LONG status = WriteMask(claimList.get(), sharedKeyName, bits);
        status != ERROR_SUCCESS)
      return Failed(0, "RegSetValueExA", status, claimListPath);
  }

  // The mask is read, ORed and written back with no other installer's
  // claim or release in between.
  const NamedLock lock(kClaimLockName);
  UniqueKey shared;
  if (const LONG status = CreateKey(sharedKeyPath, shared); status != ERROR_SUCCESS)
    return Failed(0, "RegCreateKeyExA", status, sharedKeyPath);
  const Mask mask = ReadMask(shared.get());
  DWORD newMask = bits;
  if (mask.status == ERROR_SUCCESS) {
    if (mask.type != REG_DWORD)
      return Failed(0, "Refcount (not a REG_DWORD)", ERROR_INVALID_DATATYPE, sharedKeyPath);
    newMask |= mask.value;
  } else if (mask.status != ERROR_FILE_NOT_FOUND && mask.status != ERROR_MORE_DATA) {
    // A mask that is there but cannot be read holds other products' claims:
    // writing over it would lose them.
    return Failed(0, "RegQueryValueExA Refcount", mask.status, sharedKeyPath);
  }
  // A mask that was not written holds no claim of this product: 0 tells the
  // caller so. The list's entry stays, and a release takes only these bits.
  if (const LONG status = WriteMask(shared.get(), kClaimMaskValue, newMask);
      status != ERROR_SUCCESS)
    return Failed(0, "RegSetValueExA Refcount", status, sharedKeyPath);
  return 1;
}

LONG RemoveRefcountedKeys(const char* productKey) {
  PathBuffer claimListPath;
  PathBuffer uninstallPath;
  // An empty product key would name the Uninstall key's own claim list.
  if (productKey[0] == '\0')
    return Failed(ERROR_INVALID_PARAMETER, "argument check (an empty product key)",
                  ERROR_INVALID_PARAMETER, productKey);
  // The product's key first: the claim list's path is the longer, and a key
  // too long for it alone is refused as well.
  if (!FormatPath(uninstallPath, kUninstallKeyFormat, productKey) ||
      !FormatPath(claimListPath, kClaimListFormat, productKey)) {
    return ERROR_INVALID_PARAMETER;
  }

  LONG result = 1;
  {
    UniqueKey claimList;
    const LONG opened =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, claimListPath, 0, KEY_READ, claimList.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
      ReportNothingFound(claimListPath);
      return 1;
    }
    if (opened != ERROR_SUCCESS) return Failed(1, "RegOpenKeyExA", opened, claimListPath);
    UniqueKey makerRoot;
    const LONG root =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMakerRoot, 0, KEY_ALL_ACCESS, makerRoot.put());
    if (root == ERROR_FILE_NOT_FOUND) {
      ReportNothingFound(kMakerRoot);
      return 1;
    }
    if (root != ERROR_SUCCESS) return Failed(1, "RegOpenKeyExA", root, kMakerRoot);
    // Only keys under the maker's root are deleted during the walk, never
    // entries of the list, so the rising index visits every entry once.
    ForEachValue<char>(claimList.get(), sizeof(DWORD),
                       [&](LONG status, const char* name, DWORD type, const BYTE* data, DWORD) {
                         if (status != ERROR_SUCCESS || type != REG_DWORD || name[0] == '\0')
                           return;
                         DWORD bits = 0;
                         std::memcpy(&bits, data, sizeof bits);
                         if (const auto deleted = ReleaseClaim(makerRoot.get(), name, bits))
                           result = *deleted;
                       });
  }

  UniqueKey product;
  const LONG opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstallPath, 0, KEY_ALL_ACCESS, product.put());
  if (opened != ERROR_SUCCESS) {
    ReportFailure("RegOpenKeyExA", opened, uninstallPath);
    return result;
  }
  const LONG deleted = DeleteKeyTree(product.get(), kClaimListName);
  if (deleted != ERROR_SUCCESS) ReportFailure("deleting the claim list", deleted, claimListPath);
  return deleted;
}

}  // namespace qmis
