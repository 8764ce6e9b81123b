#include "qmis/shell/extensions.h"

#include <windows.h>

#include "qmis/call_report.h"
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

// Opens a key of HKEY_CLASSES_ROOT with full access; false when it is not
// there (no failure) or cannot be opened (reported).
bool OpenClassKey(const char* name, UniqueKey& key) {
  const LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, name, 0, KEY_ALL_ACCESS, key.put());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    ReportFailure("RegOpenKeyExA", status, name);
  return status == ERROR_SUCCESS;
}

void DeleteClassKey(const char* name) {
  // What cannot go stays, and is reported; the work goes on with the others.
  const LONG status = DeleteKeyTree(HKEY_CLASSES_ROOT, name);
  if (status != ERROR_SUCCESS) ReportFailure("deleting the key", status, name);
}

// Gives the extension back to its earlier file type when the product holds
// it (no readable default, or the product's file type in any letter case).
// False when the extension has no key.
bool HandBackExtension(const char* extension, const char* fileType) {
  // The default is read as the system keeps it, in UTF-16.
  WidePath wideFileType;
  if (!WidenPath(fileType, wideFileType)) return true;
  UniqueKey key;
  if (!OpenClassKey(extension, key)) return false;
  TextValue current;
  const bool held = ReadTextValue(key.get(), nullptr, current) != ERROR_SUCCESS ||
                    lstrcmpiW(current.data, wideFileType) == 0;
  if (!held) return true;  // another program's now: its key and "QmPrevious" stay
  switch (RestoreSavedDefault(key.get(), extension)) {
    case Restore::kRestored:
      if (const LONG status = RegDeleteValueA(key.get(), kSavedDefaultValue);
          status != ERROR_SUCCESS)
        ReportFailure("RegDeleteValueA QmPrevious", status, extension);
      break;
    case Restore::kNothingSaved:
      DeleteClassKey(extension);
      break;
    case Restore::kUnreadable:
    case Restore::kWriteFailed:
      break;  // "QmPrevious" stays for a later attempt
  }
  return true;
}

// False when the product's file type has no key.
bool DeleteFileType(const char* fileType) {
  UniqueKey key;
  if (!OpenClassKey(fileType, key)) return false;
  DeleteClassKey(fileType);
  return true;
}

}  // namespace

void UnregisterSpecificExtension(const char* handlerName, const char* extension) {
  // An empty extension would name the root of HKEY_CLASSES_ROOT; an empty
  // handler name names no product's file types.
  if (handlerName[0] == '\0' || extension[0] == '\0')
    return ReportFailure("argument check (an empty name)", ERROR_INVALID_PARAMETER, extension);
  PathBuffer fileType;
  if (!FormatPath(fileType, kFileTypeFormat, handlerName, extension)) return;
  const bool extensionFound = HandBackExtension(extension, fileType);
  const bool fileTypeFound = DeleteFileType(fileType);
  if (!extensionFound && !fileTypeFound) ReportNothingFound(fileType);
}

void UnregisterExtensions(const char* productKey) {
  PathBuffer handler;
  PathBuffer listPath;
  // An empty product key would name the Uninstall key's own list.
  if (productKey[0] == '\0')
    return ReportFailure("argument check (an empty product key)", ERROR_INVALID_PARAMETER);
  if (!BuildHandlerName(productKey, handler) ||
      !FormatPath(listPath, kExtensionsFormat, productKey)) {
    return;
  }
  UniqueKey list;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, listPath, 0, KEY_READ, list.put());
  if (opened == ERROR_FILE_NOT_FOUND) return ReportNothingFound(listPath);
  if (opened != ERROR_SUCCESS) return ReportFailure("RegOpenKeyExA", opened, listPath);
  // The list lies under HKLM\SOFTWARE\Microsoft and the work changes only
  // HKEY_CLASSES_ROOT, so the rising index needs no correction. Only the
  // names count; data of up to 260 bytes is read with them.
  ForEachValue<char>(list.get(), kPathBufferSize,
                     [&](LONG status, const char* extension, DWORD, const BYTE*, DWORD) {
                       if (status == ERROR_SUCCESS) UnregisterSpecificExtension(handler, extension);
                     });
}

}  // namespace qmis
