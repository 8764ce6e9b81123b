// qmis-uninstall-host: a small uninstaller host, as an uninstaller that uses
// QMIS.dll would be.
//
//   qmis-uninstall-host.exe [-y] -f"<script>" [-z<product key>]
//
// It loads QMIS.dll from its own folder (or ..\bin, as the release lays
// it out), calls UninstInitialize(0, 0, 0)
// before its own work (the steps of the uninstall script), then
// UninstUnInitialize(0, 0, 0), and exits 0 unless the script says otherwise.
// It shows no window and asks nothing; -y (silent) is accepted as it always
// is silent.
#include <windows.h>

#include <cstdio>
#include <string>

#include "companion.h"
#include "uninstall_script.h"

namespace {

using Hook = int(WINAPI*)(DWORD, DWORD, DWORD);

Hook HookOf(HMODULE library, const char* name) {
  return reinterpret_cast<Hook>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The text behind `option` on the command line: a quoted argument up to its
// closing quote, or an unquoted one up to the next space. The line is read
// in UTF-16, so that a script in any folder is found.
std::wstring OptionArgument(const std::wstring& commandLine, const std::wstring& option) {
  const size_t at = commandLine.find(L" " + option);
  if (at == std::wstring::npos) return {};
  const size_t begin = at + 1 + option.size();
  if (begin < commandLine.size() && commandLine[begin] == L'"') {
    const size_t end = commandLine.find(L'"', begin + 1);
    return commandLine.substr(begin + 1,
                              end == std::wstring::npos ? std::wstring::npos : end - begin - 1);
  }
  return commandLine.substr(begin, commandLine.find(L' ', begin) - begin);
}

void AppendLog(const std::string& log, const std::string& line) {
  if (FILE* out = _wfopen(WideFromUtf8(log).c_str(), L"ab")) {
    std::fputs(line.c_str(), out);
    std::fclose(out);
  }
}

ULONGLONG Now() {
  FILETIME time;
  GetSystemTimeAsFileTime(&time);
  return ((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000;
}

}  // namespace

int main() {
  const std::wstring commandLine = GetCommandLineW();
  const std::wstring scriptPath = OptionArgument(commandLine, L"-f");
  const ULONGLONG started = Now();

  UninstallScript script;
  {
    const qmis::UniqueModule library = LoadCompanionLibrary();
    if (!library) return 2;
    const auto initialize = HookOf(library.get(), "UninstInitialize");
    const auto uninitialize = HookOf(library.get(), "UninstUnInitialize");
    if (initialize == nullptr || uninitialize == nullptr) return 2;
    initialize(0, 0, 0);
    if (ReadUninstallScript(scriptPath, script)) RunUninstallScript(script);
    uninitialize(0, 0, 0);
  }

  for (const ScriptStep& step : script.steps) {
    if (step.verb != "log") continue;
    char line[64];
    std::snprintf(line, sizeof line, "%llu %llu ", started, Now());
    AppendLog(step.argument, line + Utf8FromWide(commandLine) + "\n");
  }
  return static_cast<int>(script.exitCode);
}
