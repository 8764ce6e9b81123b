// The folder of the running program, with its trailing backslash: where
// the companion programs find QMIS.dll and each other.
#pragma once

#include <windows.h>

#include <string>

inline std::string ProgramFolder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string full(path, length);
  return full.substr(0, full.find_last_of('\\') + 1);
}
