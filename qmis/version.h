#pragma once

#include "qmis/version_numbers.h"

namespace qmis {

inline constexpr int kMajorVersion = QMIS_VERSION_MAJOR;
inline constexpr int kMinorVersion = QMIS_VERSION_MINOR;
inline constexpr int kBuildNumber = QMIS_VERSION_BUILD;

// Writes "2.0.0.60" and its zero (9 bytes) into `text`.
void FormatVersion(char* text);

}  // namespace qmis
