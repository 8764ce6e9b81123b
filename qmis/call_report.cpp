#include "qmis/call_report.h"

#include <atomic>
#include <cstring>
#include <cwchar>

#include "qmis/call_log.h"

namespace qmis {
namespace {

// The reports of the export calls running now, newest first, linked through
// the reports themselves: any number of threads may call at once, a call
// finds its own thread's innermost report, and two threads' calls never see
// each other's. The list is guarded by a spin lock held for a few
// instructions. (The compiler's thread-local storage would pull a threads
// library into the DLL.)
std::atomic_flag g_listBusy = ATOMIC_FLAG_INIT;

class ListLock {
 public:
  ListLock() {
    while (g_listBusy.test_and_set(std::memory_order_acquire)) YieldProcessor();
  }
  ~ListLock() { g_listBusy.clear(std::memory_order_release); }
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;
};

// What a failure with no recorded step leaves: a result that says the call
// failed must never come with ERROR_SUCCESS.
constexpr LONG kUnrecorded = ERROR_INTERNAL_ERROR;

}  // namespace

CallReport* CallReport::g_running = nullptr;

CallReport* CallReport::InnermostLocked(DWORD thread) {
  for (CallReport* report = g_running; report != nullptr; report = report->next_) {
    if (report->thread_ == thread) return report;
  }
  return nullptr;
}

CallReport* CallReport::Innermost() {
  const DWORD thread = GetCurrentThreadId();
  ListLock lock;
  return InnermostLocked(thread);
}

CallReport::CallReport(const char* exportName, std::initializer_list<LogArg> args)
    : export_(exportName), count_(0), thread_(GetCurrentThreadId()) {
  for (const LogArg& arg : args) {
    if (count_ < 3) args_[count_++] = arg;
  }
  subject_[0] = L'\0';
  ansiSubject_[0] = '\0';
  ListLock lock;
  outer_ = InnermostLocked(thread_);
  next_ = g_running;
  g_running = this;
}

CallReport::~CallReport() {
  {
    ListLock lock;
    CallReport** link = &g_running;
    while (*link != this) link = &(*link)->next_;
    *link = next_;
  }
  const LONG status = FinalStatus();
  WriteCallLog(
      {export_, args_, count_, hasResult_, result_, status, step_, subject_, ansiSubject_});
  if (outer_ == nullptr) {
    SetLastError(static_cast<DWORD>(status));
  } else if (status_ != ERROR_SUCCESS && !(hasResult_ && succeeded_)) {
    // A step of the uninstall hook: its failure is the hook's, unless an
    // earlier one came first.
    outer_->Fail(step_, status_, ansiSubject_[0] != '\0' ? ansiSubject_ : nullptr, subject_);
  }
}

void CallReport::SetResult(DWORD result, bool succeeded) {
  hasResult_ = true;
  result_ = result;
  succeeded_ = succeeded;
}

LONG CallReport::FinalStatus() const {
  if (hasResult_ && succeeded_) return ERROR_SUCCESS;
  if (status_ != ERROR_SUCCESS) return status_;
  if (nothingFound_) return ERROR_FILE_NOT_FOUND;
  return hasResult_ ? kUnrecorded : ERROR_SUCCESS;
}

void CallReport::Fail(const char* step, LONG status, const char* subject,
                      const wchar_t* wideSubject) {
  if (status_ != ERROR_SUCCESS || status == ERROR_SUCCESS) return;
  status_ = status;
  step_ = step;
  KeepSubject(subject, wideSubject);
}

void CallReport::KeepSubject(const char* subject, const wchar_t* wideSubject) {
  subject_[0] = L'\0';
  ansiSubject_[0] = '\0';
  if (subject != nullptr) {
    const size_t length = std::strlen(subject);
    const size_t kept = length < MAX_PATH ? length : MAX_PATH - 1;
    std::memcpy(ansiSubject_, subject, kept);
    ansiSubject_[kept] = '\0';
  } else if (wideSubject != nullptr) {
    const size_t length = std::wcslen(wideSubject);
    const size_t kept = length < MAX_PATH ? length : MAX_PATH - 1;
    std::wmemcpy(subject_, wideSubject, kept);
    subject_[kept] = L'\0';
  }
}

void CallReport::NothingFound(const char* what) {
  if (nothingFound_ || status_ != ERROR_SUCCESS) return;
  nothingFound_ = true;
  step_ = "found nothing at";
  KeepSubject(what, nullptr);
}

void ReportFailure(const char* step, LONG status, const char* subject) {
  if (CallReport* report = CallReport::Innermost()) report->Fail(step, status, subject, nullptr);
}

void ReportFailure(const char* step, LONG status, const wchar_t* subject) {
  if (CallReport* report = CallReport::Innermost()) report->Fail(step, status, nullptr, subject);
}

void ReportNothingFound(const char* what) {
  if (CallReport* report = CallReport::Innermost()) report->NothingFound(what);
}

}  // namespace qmis
