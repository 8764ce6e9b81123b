// Test-only DLL over the library's own sources: exports the internal
// routines (cdecl, plain names) so tests can call them with the import hook
// over this module, as over QMIS.dll.
#include <windows.h>

#include "qmis/process/directory_size.h"
#include "qmis/registry/key_tree.h"
#include "qmis/text.h"
#include "qmis/uninstall/command_line.h"
#include "qmis/uninstall/uninstall_sequence.h"

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

QMIS_INTERNAL DWORD qmis_EnsureTrailingBackslash(char* path, DWORD capacity) {
  return qmis::EnsureTrailingBackslash(path, capacity);
}

QMIS_INTERNAL int qmis_EndsWithChar(const char* text, DWORD ch) {
  return qmis::EndsWithChar(text, ch);
}

QMIS_INTERNAL int qmis_GetUninstallerPath(const wchar_t* commandLine, wchar_t* path) {
  return qmis::GetUninstallerPath(commandLine, *reinterpret_cast<qmis::WidePath*>(path));
}

QMIS_INTERNAL int qmis_GetProductArg(const char* commandLine, char* productKey) {
  return qmis::GetProductArg(commandLine, *reinterpret_cast<qmis::PathBuffer*>(productKey));
}

QMIS_INTERNAL int qmis_IsFilePresent(const wchar_t* path) { return qmis::IsFilePresent(path); }

QMIS_INTERNAL void qmis_RunDependentUninstallers(const wchar_t* uninstallerPath,
                                                 const char* productKey) {
  qmis::RunDependentUninstallers(uninstallerPath, productKey);
}
