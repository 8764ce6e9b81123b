#include "qmis/uninstall/uninstall_sequence.h"

#include <windows.h>

#include <cwchar>

#include "qmis/call_report.h"
#include "qmis/handles.h"
#include "qmis/layout.h"
#include "qmis/path_buffer.h"
#include "qmis/process/silent_run.h"
#include "qmis/registry/shared_keys.h"
#include "qmis/registry/value_walk.h"
#include "qmis/shell/autoplay.h"
#include "qmis/shell/extensions.h"
#include "qmis/uninstall/command_line.h"
#include "qmis/wide_text.h"

namespace qmis {
namespace {

// A program path with a space is read word by word when it stands unquoted:
// "C:\Program Files\x.exe" would start C:\Program.exe if one were there. It
// is quoted when, as it stands, it names a file. A path holding a quote, or
// one that is no file as a whole (it carries the host's own options, or was
// cut by the first " -f"), goes in as it is: quotes would make it name no
// program at all.
bool NeedsQuotes(const wchar_t* uninstallerPath) {
  return std::wcschr(uninstallerPath, L' ') != nullptr &&
         std::wcschr(uninstallerPath, L'"') == nullptr && IsFilePresent(uninstallerPath);
}

}  // namespace

const wchar_t* DependentCommandFormat(const wchar_t* uninstallerPath) {
  // Without a program the command would begin with a space: at best nothing
  // starts, at worst whatever the system finds under the command's first
  // word.
  if (uninstallerPath[0] == L'\0') return nullptr;
  return NeedsQuotes(uninstallerPath) ? kQuotedDependentCommandFormat : kDependentCommandFormat;
}

void UninstallProduct(const char* commandLine, const wchar_t* wideCommandLine) {
  WidePath uninstallerPath;
  PathBuffer productKey;
  // A part that is missing or too long is left empty. Each step does
  // nothing for an empty product key, and no dependent is run without a
  // program path.
  (void)GetUninstallerPath(wideCommandLine, uninstallerPath);
  if (!GetProductArg(commandLine, productKey))
    ReportFailure("reading -z<product key> from the command line", ERROR_INVALID_PARAMETER);
  // Every step runs, whatever an earlier one found; no result reaches the
  // host. Each writes its own line to the log, and the hook's last error is
  // the status of the first that failed.
  {
    CallReport step("UninstInitialize: UnregisterExtensions", {Arg(productKey)});
    UnregisterExtensions(productKey);
  }
  {
    CallReport step("UninstInitialize: UnregisterAutoInsertTag", {Arg(productKey)});
    UnregisterAutoInsertTag(productKey);
  }
  {
    CallReport step("UninstInitialize: QMSetup_RemoveRefcountedKeys", {Arg(productKey)});
    (void)step.ReturnStatus(RemoveRefcountedKeys(productKey));
  }
  {
    CallReport step("UninstInitialize: dependents", {Arg(uninstallerPath), Arg(productKey)});
    RunDependentUninstallers(uninstallerPath, productKey);
  }
}

void RunDependentUninstallers(const wchar_t* uninstallerPath, const char* productKey) {
  PathBuffer listPath;
  if (productKey[0] == '\0')
    return ReportFailure("argument check (an empty product key)", ERROR_INVALID_PARAMETER);
  if (!FormatPath(listPath, kDependentsFormat, productKey)) return;
  UniqueKey list;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, listPath, 0, KEY_READ, list.put());
  if (opened == ERROR_FILE_NOT_FOUND) return ReportNothingFound(listPath);
  if (opened != ERROR_SUCCESS) return ReportFailure("RegOpenKeyExA", opened, listPath);
  // With no program to run, the entries are still walked and none is run.
  const wchar_t* commandFormat = DependentCommandFormat(uninstallerPath);
  // Names and paths of 260 characters, each counted as one. A dependent's
  // own uninstall may delete the list: the walk then ends.
  ForEachValue<wchar_t>(list.get(), kPathBufferSize * sizeof(wchar_t),
                        [&](LONG status, const wchar_t*, DWORD type, BYTE* data, DWORD size) {
                          if (status != ERROR_SUCCESS || type != REG_SZ) return;
                          auto* file = reinterpret_cast<wchar_t*>(data);
                          TerminateText(
                              file, size);  // data stored without its zero stays inside the buffer
                          if (!IsFilePresent(file)) return;
                          if (commandFormat == nullptr) {
                            ReportFailure("no uninstaller path (\" -f\") on the command line",
                                          ERROR_INVALID_PARAMETER, file);
                            return;
                          }
                          WidePath command;
                          if (!FormatWidePath(command, commandFormat, uninstallerPath, file))
                            return;
                          wchar_t errorText[kErrorTextSize];
                          errorText[0] = L'\0';
                          // Each run is waited for and has its line in the log; its exit code
                          // and text are not looked at.
                          CallReport run("UninstInitialize: dependent", {Arg(command)});
                          const DWORD code = SilentRunExternalWait(command, errorText);
                          (void)run.Return(code, !run.failed());
                        });
}

int IsFilePresent(const wchar_t* path) {
  UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return 1;
  return GetLastError() == ERROR_SHARING_VIOLATION ? 1 : 0;
}

}  // namespace qmis
