// What one export call did, for its caller and for the installer's log:
// the status it leaves as the thread's last error, and, when the
// environment variable QMIS_LOG names a file (or is "debug"), one line about
// the call: its arguments, its result, and on failure the step that stopped
// it, what that step acted on, the status and the system's text for it.
#pragma once

#include <windows.h>

#include <initializer_list>

namespace qmis {

// One argument as the log shows it.
struct LogArg {
  enum class Kind { kAnsi, kWide, kNumber, kRoot };
  Kind kind;
  const void* text;
  DWORD number;
};
inline LogArg Arg(const char* text) { return {LogArg::Kind::kAnsi, text, 0}; }
inline LogArg Arg(const wchar_t* text) { return {LogArg::Kind::kWide, text, 0}; }
inline LogArg Arg(DWORD number) { return {LogArg::Kind::kNumber, nullptr, number}; }
inline LogArg Arg(HKEY root) {
  return {LogArg::Kind::kRoot, nullptr, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(root))};
}

// Made by an export on entry and ended as it returns. Calls made inside it
// on the same thread record their failures in it. A report made inside
// another (a step of the uninstall hook) writes its own log line and hands
// its first failure on to the outer one; only the outermost sets the last
// error.
class CallReport {
 public:
  // `exportName` is the export's name; at most three arguments. A call that
  // found nothing to do leaves ERROR_FILE_NOT_FOUND; a step of the uninstall
  // hook that found nothing hands nothing on (it is no failure of the hook).
  CallReport(const char* exportName, std::initializer_list<LogArg> args);
  ~CallReport();
  CallReport(const CallReport&) = delete;
  CallReport& operator=(const CallReport&) = delete;

  // The result, as the log shows it; `succeeded` tells whether the call did
  // what it says (its last error is then ERROR_SUCCESS whatever a step on
  // the way recorded).
  template <typename T>
  T Return(T result, bool succeeded) {
    SetResult(static_cast<DWORD>(result), succeeded);
    return result;
  }
  // An argument refused before any work, for a call that returns nothing,
  // and for one that returns `result`.
  void Refuse() { Fail("argument check", ERROR_INVALID_PARAMETER, nullptr, nullptr); }
  template <typename T>
  T Refuse(T result) {
    Refuse();
    return Return(result, false);
  }

  // Whether a step recorded a failure.
  bool failed() const { return status_ != ERROR_SUCCESS; }
  // The status of a call whose result is itself a Win32 status: the result
  // is the status it leaves, and a result of failure with no step recorded
  // leaves ERROR_INTERNAL_ERROR, never success.
  LONG ReturnStatus(LONG result) {
    SetResult(static_cast<DWORD>(result), result == ERROR_SUCCESS);
    return result;
  }
  void Fail(const char* step, LONG status, const char* subject, const wchar_t* wideSubject);
  void NothingFound(const char* what);

  // The innermost report of the calling thread, none outside an export.
  static CallReport* Innermost();

 private:
  void SetResult(DWORD result, bool succeeded);
  void KeepSubject(const char* subject, const wchar_t* wideSubject);
  LONG FinalStatus() const;

  const char* export_;
  LogArg args_[3];
  int count_;
  DWORD thread_;
  CallReport* outer_ = nullptr;  // the report this one runs inside, on the same thread
  CallReport* next_ = nullptr;   // the next older report in the list of running calls
  static CallReport* g_running;
  static CallReport* InnermostLocked(DWORD thread);
  bool hasResult_ = false;
  DWORD result_ = 0;
  bool succeeded_ = true;
  LONG status_ = ERROR_SUCCESS;
  const char* step_ = nullptr;
  // What the failed step acted on, kept as given: text in the ANSI code page
  // is converted only when a log line is written.
  char ansiSubject_[MAX_PATH];
  wchar_t subject_[MAX_PATH];
  bool nothingFound_ = false;
};

// Records a failed step of the call being made on this thread (none: no
// effect): the first one recorded stands. `subject` is the key or file the
// step acted on.
void ReportFailure(const char* step, LONG status, const char* subject = nullptr);
void ReportFailure(const char* step, LONG status, const wchar_t* subject);

// Records that the call found nothing to do; `what` names what it looked for.
void ReportNothingFound(const char* what);

// Records a failure and gives back `result`, for `return Failed(0, ...)`.
template <typename T, typename Subject>
T Failed(T result, const char* step, LONG status, Subject subject) {
  ReportFailure(step, status, subject);
  return result;
}

}  // namespace qmis
