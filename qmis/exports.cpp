// Exports of the module frame: entry point, version queries, space removal.
#include "qmis.h"

#include <windows.h>

#include "qmis/text.h"
#include "qmis/version.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

int WINAPI QMSetup_DetectDxmedia() { return 1; }

int WINAPI QMSetup_GetInternalBuildNum() { return qmis::kBuildNumber; }

int WINAPI QMSetup_GetInternalMajorVerNum() { return qmis::kMajorVersion; }

int WINAPI QMSetup_GetInternalMinorVerNum() { return qmis::kMinorVersion; }

int WINAPI QMSetup_GetVersionNum(char* text) {
  if (text != nullptr) qmis::FormatVersion(text);
  return qmis::kBuildNumber;
}

void WINAPI QMSetup_RemoveSpaces(char* buffer, DWORD length) {
  if (buffer != nullptr) qmis::RemoveSpaces(buffer, length);
}

}  // extern "C"
