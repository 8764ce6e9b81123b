#pragma once

namespace qmis {

inline constexpr int kMajorVersion = 2;
inline constexpr int kMinorVersion = 0;
inline constexpr int kBuildNumber = 60;

// Writes "2.0.0.60" and its zero (9 bytes) into `text`.
void FormatVersion(char* text);

}  // namespace qmis
