// What the uninstaller host's command line asks for.
#pragma once

#include <string>

struct HostOptions {
  std::wstring script;  // the uninstall script, from -f
};

// Reads the command line in UTF-16, as GetCommandLineW gives it, so that a
// script in any folder is found: the program's own path (quoted, or up to
// the first blank), then -y, -f"<script>" or -f<script>, and last
// -z<product key>, which runs to the end of the line and is QMIS.dll's to
// read. False when the line holds anything else, or no script.
bool ReadHostOptions(const std::wstring& line, HostOptions& options);
