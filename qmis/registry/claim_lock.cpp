#include "qmis/registry/claim_lock.h"

namespace qmis {
namespace {

// The mutex is made by the first installer that needs it. One made by
// another account may refuse the full access CreateMutexA asks for; waiting
// and releasing need only these two rights.
HANDLE OpenClaimMutex() {
  if (HANDLE mutex = CreateMutexA(nullptr, FALSE, kClaimLockName)) return mutex;
  return OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kClaimLockName);
}

}  // namespace

ClaimLock::ClaimLock() : mutex_(OpenClaimMutex()) {
  if (!mutex_) return;
  // An installer killed while it held the lock leaves it abandoned: the
  // next waiter owns it at once, and the registry holds nothing half-done
  // that a claim or a release cannot take up.
  const DWORD wait = WaitForSingleObject(mutex_.get(), kClaimLockWaitMs);
  held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

ClaimLock::~ClaimLock() {
  if (held_) ReleaseMutex(mutex_.get());
}

}  // namespace qmis
