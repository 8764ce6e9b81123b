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

// The same in UTF-16, whole whatever folder the program was installed in.
inline std::wstring WideProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path, length);
  return full.substr(0, full.find_last_of(L'\\') + 1);
}

// Text between UTF-8 (the tools' files and logs) and UTF-16 (the system's).
inline std::wstring WideFromUtf8(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        wide.data(), static_cast<int>(wide.size()));
  wide.resize(units > 0 ? units : 0);
  return wide;
}
inline std::string Utf8FromWide(const std::wstring& text) {
  std::string utf8(text.size() * 3, '\0');
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                          static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(bytes > 0 ? bytes : 0);
  return utf8;
}

// Loads QMIS.dll from the program's own folder or, as the release lays the
// tools out (tools\ beside bin\), from ..\bin.
inline qmis::UniqueModule LoadCompanionLibrary() {
  for (const wchar_t* place : {L"", L"..\\bin\\"}) {
    const std::wstring path = WideProgramFolder() + place + L"QMIS.dll";
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    return qmis::UniqueModule(LoadLibraryW(path.c_str()));
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
