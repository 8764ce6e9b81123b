#include "qmis/shell/extensions.h"

#include <windows.h>

#include "qmis/handles.h"
#include "qmis/layout.h"
#include "qmis/path_buffer.h"
#include "qmis/registry/key_tree.h"
#include "qmis/registry/value_walk.h"
#include "qmis/shell/saved_default.h"
#include "qmis/text.h"
#include "qmis/wide_text.h"

namespace qmis {
namespace {

// Gives the extension back to its earlier file type when the product holds
// it (no readable default, or the product's file type in any letter case).
void HandBackExtension(const char* extension, const char* fileType) {
  // The default is read as the system keeps it, in UTF-16.
  WidePath wideFileType;
  if (!WidenPath(fileType, wideFileType)) return;
  UniqueKey key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, extension, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
    return;
  TextValue current;
  const bool held = ReadTextValue(key.get(), nullptr, current) != ERROR_SUCCESS ||
                    lstrcmpiW(current.data, wideFileType) == 0;
  if (!held) return;  // another program's now: its key and "QmPrevious" stay
  switch (RestoreSavedDefault(key.get())) {
    case Restore::kRestored:
      RegDeleteValueA(key.get(), kSavedDefaultValue);
      break;
    case Restore::kNothingSaved:
      (void)DeleteKeyTree(HKEY_CLASSES_ROOT, extension);  // what cannot go stays; others go on
      break;
    case Restore::kUnreadable:
    case Restore::kWriteFailed:
      break;  // "QmPrevious" stays for a later attempt
  }
}

void DeleteFileType(const char* fileType) {
  UniqueKey key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, fileType, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
    return;
  (void)DeleteKeyTree(HKEY_CLASSES_ROOT, fileType);
}

}  // namespace

void UnregisterSpecificExtension(const char* prefix, const char* extension) {
  // An empty extension would name the root of HKEY_CLASSES_ROOT; an empty
  // handler name names no product's file types.
  if (prefix[0] == '\0' || extension[0] == '\0') return;
  PathBuffer fileType;
  if (!FormatPath(fileType, kFileTypeFormat, prefix, extension)) return;
  HandBackExtension(extension, fileType);
  DeleteFileType(fileType);
}

void UnregisterExtensions(const char* productKey) {
  PathBuffer handler;
  PathBuffer listPath;
  // An empty product key would name the Uninstall key's own list.
  if (productKey[0] == '\0' || !BuildHandlerName(productKey, handler) ||
      !FormatPath(listPath, kExtensionsFormat, productKey)) {
    return;
  }
  UniqueKey list;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, listPath, 0, KEY_READ, list.put()) != ERROR_SUCCESS) return;
  // The list lies under HKLM\SOFTWARE\Microsoft and the work changes only
  // HKEY_CLASSES_ROOT, so the rising index needs no correction.
  for (DWORD index = 0;; ++index) {
    PathBuffer extension;
    DWORD extensionSize = kPathBufferSize;
    BYTE data[kPathBufferSize];
    DWORD dataSize = sizeof data;
    DWORD type = REG_NONE;
    const LONG status = RegEnumValueA(list.get(), index, extension, &extensionSize, nullptr, &type,
                                      data, &dataSize);
    if (!ValueWalkGoesOn(list.get(), status, index)) break;
    if (status == ERROR_SUCCESS) UnregisterSpecificExtension(handler, extension);
  }
}

}  // namespace qmis
