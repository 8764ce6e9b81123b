// Test-only DLL over the library's own sources: exports the internal
// routines (cdecl, plain names) so tests can call them with the import hook
// over this module, as over QMIS.dll.
#include <windows.h>

#include "qmis/registry/key_tree.h"
#include "qmis/text.h"

#define QMIS_INTERNAL extern "C" __declspec(dllexport)

QMIS_INTERNAL DWORD qmis_QuerySubkeyCount(HKEY parent, const char* path) {
  return qmis::QuerySubkeyCount(parent, path);
}

QMIS_INTERNAL LONG qmis_DeleteKeyTree(HKEY parent, const char* path) {
  return qmis::DeleteKeyTree(parent, path);
}

QMIS_INTERNAL BOOL qmis_BuildHandlerName(const char* productKey, char* handlerName) {
  return qmis::BuildHandlerName(productKey, *reinterpret_cast<qmis::PathBuffer*>(handlerName));
}
