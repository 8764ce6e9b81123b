// The uninstaller host's two hooks. Their arguments belong to the host and
// are not read; both always return 0. The last error UninstInitialize
// leaves is the status of the first step that failed.
#include "qmis.h"

#include <windows.h>

#include "qmis/call_report.h"
#include "qmis/uninstall/uninstall_sequence.h"

extern "C" {

int WINAPI UninstInitialize(DWORD, DWORD, DWORD) {
  // Each step reports in a report of its own (see UninstallProduct): one
  // that finds nothing of the product's is no failure of the hook.
  qmis::CallReport report("UninstInitialize", {});
  qmis::UninstallProduct(GetCommandLineA(), GetCommandLineW());
  return 0;
}

int WINAPI UninstUnInitialize(DWORD, DWORD, DWORD) {
  qmis::CallReport report("UninstUnInitialize", {});
  return report.Return(0, true);
}

}  // extern "C"
