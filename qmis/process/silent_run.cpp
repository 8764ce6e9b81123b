#include "qmis/process/silent_run.h"

#include <cstring>

#include "qmis/ansi_text.h"
#include "qmis/handles.h"

namespace qmis {
namespace {

constexpr DWORD kRebootRequired = ERROR_SUCCESS_REBOOT_REQUIRED;  // 3010

// Copies the system's text for `code` into `errorText`; leaves it as it was
// when the system has none.
void CopySystemMessage(DWORD code, char* errorText) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<char*>(&text), 0, nullptr);
  UniqueLocal owner(text);
  if (length == 0 || text == nullptr) return;
  // Whole characters only, within the 259 bytes before the zero.
  DWORD end = 0;
  while (end < length && text[end] != '\0') {
    const DWORD next = NextCharacter(text, end, length);
    if (next > kErrorTextSize - 1) break;
    end = next;
  }
  std::memcpy(errorText, text, end);
  errorText[end] = '\0';
}

}  // namespace

DWORD SilentRunExternalWait(char* commandLine, char* errorText) {
  DWORD result = kRunFailed;
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  ScopeExit restoreCursor([previous] { SetCursor(previous); });

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return result;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);  // released first, then the process

  // A wait that fails leaves the process running: its "exit code" would be
  // STILL_ACTIVE, which is no result.
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return result;
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) return result;
  result = code;
  if (code != ERROR_SUCCESS && code != kRebootRequired) CopySystemMessage(code, errorText);
  return result;
}

}  // namespace qmis
