// The uninstall script a host run works through: one directive per line.
//
//   file <path>          delete a file
//   dir <path>           remove a folder (it must be empty by then)
//   key <root>\<path>    delete a registry key with its subtree
//                        (root: HKLM, HKCU or HKCR)
//   log <path>           append a line about this run to a log file
//   sleep <ms>           wait, so that tests can see runs do not overlap
//   exit <code>          the host's exit code (0 when not given)
//
// Blank lines and lines beginning with '#' are passed over. The script is
// UTF-8, or UTF-16 with its byte order mark; its paths may hold any
// character.
#pragma once

#include <string>
#include <vector>

struct ScriptStep {
  std::string verb;
  std::string argument;
};

struct UninstallScript {
  std::vector<ScriptStep> steps;
  unsigned long exitCode = 0;
};

// Reads the script; false when the file cannot be read.
bool ReadUninstallScript(const std::wstring& path, UninstallScript& script);

// Carries out every step but "log", whose lines the caller writes.
void RunUninstallScript(const UninstallScript& script);
