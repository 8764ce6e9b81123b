// Small helpers the companion programs share.
#pragma once

#include <windows.h>

#include <string>

#include "qmis/handles.h"

// The folder of the running program, with its trailing backslash: where
// the companion programs find QMIS.dll and each other.
inline std::string ProgramFolder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string full(path, length);
  return full.substr(0, full.find_last_of('\\') + 1);
}

// Loads QMIS.dll from the program's own folder or, as the release lays the
// tools out (tools\ beside bin\), from ..\bin.
inline qmis::UniqueModule LoadCompanionLibrary() {
  for (const char* place : {"", "..\\bin\\"}) {
    const std::string path = ProgramFolder() + place + "QMIS.dll";
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    return qmis::UniqueModule(LoadLibraryA(path.c_str()));
  }
  return {};
}

// Starts `commandLine` (exactly as given) and waits for it: CreateProcessA,
// WaitForSingleObject, GetExitCodeProcess. Returns the exit code, or the
// error of the start, the wait or the exit code's read.
inline DWORD RunAndWait(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return GetLastError();
  }
  const qmis::UniqueHandle process(info.hProcess);
  const qmis::UniqueHandle thread(info.hThread);
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return GetLastError();
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) return GetLastError();
  return code;
}
