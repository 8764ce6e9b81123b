#include "qmis/process/silent_run.h"

#include <cwchar>

#include "qmis/call_report.h"
#include "qmis/handles.h"
#include "qmis/wide_text.h"

namespace qmis {
namespace {

constexpr DWORD kRebootRequired = ERROR_SUCCESS_REBOOT_REQUIRED;  // 3010

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Copies the system's text for `code` into `errorText`; leaves it as it was
// when the system has none.
void CopySystemMessage(DWORD code, wchar_t* errorText) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  UniqueLocal owner(text);
  if (length == 0 || text == nullptr) return;
  // Whole characters only, within the 259 units before the zero: a pair of
  // surrogates is never split.
  DWORD end = 0;
  while (end < length && end < kErrorTextSize - 1 && text[end] != L'\0') ++end;
  if (end < length && end > 0 && IsHighSurrogate(text[end - 1])) --end;
  std::wmemcpy(errorText, text, end);
  errorText[end] = L'\0';
}

}  // namespace

DWORD SilentRunExternalWait(wchar_t* commandLine, wchar_t* errorText) {
  DWORD result = kRunFailed;
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  ScopeExit restoreCursor([previous] { SetCursor(previous); });

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return Failed(result, "CreateProcessW", static_cast<LONG>(GetLastError()), commandLine);
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);  // released first, then the process

  // A wait that fails leaves the process running: its "exit code" would be
  // STILL_ACTIVE, which is no result.
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0)
    return Failed(result, "WaitForSingleObject", static_cast<LONG>(GetLastError()), commandLine);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code))
    return Failed(result, "GetExitCodeProcess", static_cast<LONG>(GetLastError()), commandLine);
  result = code;
  if (code != ERROR_SUCCESS && code != kRebootRequired) CopySystemMessage(code, errorText);
  return result;
}

// The system may write into the command line it is given, so it gets a
// copy of the library's own: the caller's may lie in read-only memory.
DWORD SilentRunExternalWaitWide(const wchar_t* commandLine, wchar_t* errorText) {
  const GlobalBlock copy = CopyWideText(commandLine);
  if (!copy) return kRunFailed;
  return SilentRunExternalWait(copy.wide(), errorText);
}

DWORD SilentRunExternalWaitAnsi(const char* commandLine, char* errorText) {
  const GlobalBlock wide = WidenText(commandLine);
  if (!wide) return kRunFailed;
  wchar_t text[kErrorTextSize];
  text[0] = L'\0';
  const DWORD result = SilentRunExternalWait(wide.wide(), text);
  // A text that cannot be converted leaves the caller's buffer as it was,
  // as when the system has none.
  if (text[0] != L'\0') (void)NarrowText(text, errorText, kErrorTextSize);
  return result;
}

}  // namespace qmis
