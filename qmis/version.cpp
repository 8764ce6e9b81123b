#include "qmis/version.h"

#include <windows.h>

namespace qmis {

void FormatVersion(char* text) {
  wsprintfA(text, "%d.%d.0.%d", kMajorVersion, kMinorVersion, kBuildNumber);
}

}  // namespace qmis
