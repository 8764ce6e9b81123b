#include "qmis/call_report.h"

#include <atomic>
#include <cstring>
#include <cwchar>

#include "qmis/call_log.h"

namespace qmis {
namespace {

// The reports of the export calls running now, one slot per calling thread:
// calls keep nothing between them, and two threads' calls never see each
// other's. Few threads call into a setup library at once; a call that finds
// no free slot keeps no report, and its last error then follows its result
// alone. (The compiler's thread-local storage would pull a threads library
// into the DLL.)
constexpr int kSlots = 16;
std::atomic<DWORD> g_threads[kSlots];  // the thread holding each slot, 0 when free
CallReport* g_reports[kSlots];         // written only by that thread

int ThisThreadsSlot() {
  const DWORD thread = GetCurrentThreadId();
  for (int i = 0; i < kSlots; ++i) {
    if (g_threads[i].load() == thread) return i;
  }
  return -1;
}

int ClaimSlot() {
  const DWORD thread = GetCurrentThreadId();
  for (int i = 0; i < kSlots; ++i) {
    DWORD free = 0;
    if (g_threads[i].compare_exchange_strong(free, thread)) {
      g_reports[i] = nullptr;
      return i;
    }
  }
  return -1;
}

CallReport* Current() {
  const int slot = ThisThreadsSlot();
  return slot < 0 ? nullptr : g_reports[slot];
}

// What a failure with no recorded step leaves: a result that says the call
// failed must never come with ERROR_SUCCESS.
constexpr LONG kUnrecorded = ERROR_INTERNAL_ERROR;

}  // namespace

CallReport::CallReport(const char* exportName, std::initializer_list<LogArg> args,
                       bool nothingFoundFails)
    : export_(exportName), count_(0), nothingFoundFails_(nothingFoundFails) {
  for (const LogArg& arg : args) {
    if (count_ < 3) args_[count_++] = arg;
  }
  subject_[0] = L'\0';
  ansiSubject_[0] = '\0';
  slot_ = ThisThreadsSlot();
  if (slot_ < 0) slot_ = ClaimSlot();
  outer_ = slot_ < 0 ? nullptr : g_reports[slot_];
  if (slot_ >= 0) g_reports[slot_] = this;
}

CallReport::~CallReport() {
  if (slot_ >= 0) {
    g_reports[slot_] = outer_;
    if (outer_ == nullptr) g_threads[slot_].store(0);
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
  if (nothingFound_ && nothingFoundFails_) return ERROR_FILE_NOT_FOUND;
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
  if (CallReport* report = Current()) report->Fail(step, status, subject, nullptr);
}

void ReportFailure(const char* step, LONG status, const wchar_t* subject) {
  if (CallReport* report = Current()) report->Fail(step, status, nullptr, subject);
}

void ReportNothingFound(const char* what) {
  if (CallReport* report = Current()) report->NothingFound(what);
}

}  // namespace qmis
