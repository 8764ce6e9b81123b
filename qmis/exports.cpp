// Exports of the module frame: entry point, version queries, space removal.
#include "qmis.h"

#include <windows.h>

#include "qmis/call_report.h"
#include "qmis/path_buffer.h"
#include "qmis/text.h"
#include "qmis/version.h"

using qmis::Arg;
using qmis::CallReport;

extern "C" {

// The loader's call: it reports nothing and leaves the last error alone.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

int WINAPI QMSetup_DetectDxmedia() {
  CallReport report("QMSetup_DetectDxmedia", {});
  return report.Return(1, true);
}

int WINAPI QMSetup_GetInternalBuildNum() {
  CallReport report("QMSetup_GetInternalBuildNum", {});
  return report.Return(qmis::kBuildNumber, true);
}

int WINAPI QMSetup_GetInternalMajorVerNum() {
  CallReport report("QMSetup_GetInternalMajorVerNum", {});
  return report.Return(qmis::kMajorVersion, true);
}

int WINAPI QMSetup_GetInternalMinorVerNum() {
  CallReport report("QMSetup_GetInternalMinorVerNum", {});
  return report.Return(qmis::kMinorVersion, true);
}

int WINAPI QMSetup_GetVersionNum(char* text) {
  CallReport report("QMSetup_GetVersionNum", {});
  if (text == nullptr) return report.Refuse(qmis::kBuildNumber);
  qmis::FormatVersion(text);
  return report.Return(qmis::kBuildNumber, true);
}

void WINAPI QMSetup_RemoveSpaces(char* buffer, DWORD length) {
  CallReport report("QMSetup_RemoveSpaces", {Arg(buffer), Arg(length)});
  // A length above the library's buffer size changes nothing.
  if (buffer == nullptr || length > qmis::kPathBufferSize) return report.Refuse();
  qmis::RemoveSpaces(buffer, length);
}

}  // extern "C"
