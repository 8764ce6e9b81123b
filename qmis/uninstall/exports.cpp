// The uninstaller host's two hooks. Their arguments belong to the host and
// are not read; both always return 0.
#include "qmis.h"

#include <windows.h>

#include "qmis/uninstall/uninstall_sequence.h"

extern "C" {

int WINAPI UninstInitialize(DWORD, DWORD, DWORD) {
  qmis::UninstallProduct(GetCommandLineA(), GetCommandLineW());
  return 0;
}

int WINAPI UninstUnInitialize(DWORD, DWORD, DWORD) { return 0; }

}  // extern "C"
