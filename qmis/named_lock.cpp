#include "qmis/named_lock.h"

namespace qmis {
namespace {

// The mutex is made by the first installer that needs it. One made by
// another account may refuse the full access CreateMutexA asks for; waiting
// and releasing need only these two rights.
HANDLE OpenLockMutex(const char* name) {
  if (HANDLE mutex = CreateMutexA(nullptr, FALSE, name)) return mutex;
  return OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
}

}  // namespace

NamedLock::NamedLock(const char* name) : mutex_(OpenLockMutex(name)) {
  if (!mutex_) return;
  // An installer killed while it held the lock leaves it abandoned: the
  // next waiter owns it at once, and the registry holds nothing half-done
  // that the next call cannot take up.
  const DWORD wait = WaitForSingleObject(mutex_.get(), kLockWaitMs);
  held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

NamedLock::~NamedLock() {
  // A release that fails leaves the mutex to be abandoned when the process
  // ends, which the next waiter takes as owned.
  if (held_) (void)ReleaseMutex(mutex_.get());
}

}  // namespace qmis
