// qmis-uninstall-host: a small uninstaller host, as an uninstaller that uses
// QMIS.dll would be.
//
//   qmis-uninstall-host.exe [-y] -f"<script>" [-z<product key>]
//
// It loads QMIS.dll from its own folder (or ..\bin, as the release lays
// it out), calls UninstInitialize(0, 0, 0)
// before its own work (the steps of the uninstall script), then
// UninstUnInitialize(0, 0, 0). It shows no window and asks nothing; -y
// (silent) is accepted as it always is silent. The product key after -z runs
// to the end of the line; QMIS.dll reads it from there itself.
//
// With QMIS_LOG naming a file, the host adds its own lines to the library's
// log there: its command line and its end. The dependents it runs through
// QMIS.dll inherit QMIS_LOG, and so log to the same file.
//
// Exit status: 0, or the code of the script's `exit` step; 2 bad usage (no
// arguments, one it does not know, or no -f"<script>": it prints its usage
// line to stderr and uninstalls nothing); 3 QMIS.dll not found.
#include <windows.h>

#include <cstdio>
#include <string>

#include "companion.h"
#include "host_options.h"
#include "uninstall_script.h"

namespace {

using Hook = int(WINAPI*)(DWORD, DWORD, DWORD);

Hook HookOf(HMODULE library, const char* name) {
  return reinterpret_cast<Hook>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

int Usage() {
  std::fputs("usage: qmis-uninstall-host [-y] -f\"<script>\" [-z<product key>]\n", stderr);
  return 2;
}

int NoLibrary() {
  std::fputs("qmis-uninstall-host: QMIS.dll is neither beside the program nor in ..\\bin\n",
             stderr);
  return 3;
}

void AppendLog(const std::string& log, const std::string& line) {
  if (FILE* out = _wfopen(WideFromUtf8(log).c_str(), L"ab")) {
    std::fputs(line.c_str(), out);
    std::fclose(out);
  }
}

// A line of the host's own in the file QMIS_LOG names, in the library's
// form: time, process, what happened.
void LogToQmisLog(const std::string& text) {
  wchar_t target[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"QMIS_LOG", target, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || lstrcmpiW(target, L"debug") == 0) return;
  SYSTEMTIME time;
  GetLocalTime(&time);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u pid %lu ", time.wYear,
                time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds,
                GetCurrentProcessId());
  AppendLog(Utf8FromWide(target), stamp + text + "\r\n");
}

ULONGLONG Now() {
  FILETIME time;
  GetSystemTimeAsFileTime(&time);
  return ((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000;
}

}  // namespace

int main() {
  const std::wstring commandLine = GetCommandLineW();
  HostOptions options;
  if (!ReadHostOptions(commandLine, options)) return Usage();
  const ULONGLONG started = Now();

  UninstallScript script;
  {
    const qmis::UniqueModule library = LoadCompanionLibrary();
    if (!library) return NoLibrary();
    const auto initialize = HookOf(library.get(), "UninstInitialize");
    const auto uninitialize = HookOf(library.get(), "UninstUnInitialize");
    if (initialize == nullptr || uninitialize == nullptr) return NoLibrary();
    initialize(0, 0, 0);
    if (ReadUninstallScript(options.script, script)) RunUninstallScript(script);
    uninitialize(0, 0, 0);
  }

  for (const ScriptStep& step : script.steps) {
    if (step.verb != "log") continue;
    char line[64];
    std::snprintf(line, sizeof line, "%llu %llu ", started, Now());
    AppendLog(step.argument, line + Utf8FromWide(commandLine) + "\n");
  }
  LogToQmisLog("qmis-uninstall-host ends with exit code " + std::to_string(script.exitCode));
  return static_cast<int>(script.exitCode);
}
