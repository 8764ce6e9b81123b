// The lock that serialises changes to shared keys' claim masks across
// processes: installers of one machine, in any session, meet on one named
// mutex, so that no claim is lost and no key is deleted while a claim on it
// stands.
#pragma once

#include <windows.h>

#include "qmis/handles.h"

namespace qmis {

// The mutex's name, in the global namespace so that installers of
// different sessions meet.
inline constexpr char kClaimLockName[] = "Global\\QuillmoorSharedKeyClaims";
// How long a claim or a release waits for another installer's change.
inline constexpr DWORD kClaimLockWaitMs = 10000;

// Holds the lock for its lifetime when it can be had. When it cannot (the
// mutex cannot be created or opened, or the wait runs out), the work goes
// ahead unguarded, as it would without the lock: a lock that cannot be had
// must never make a claim or a release fail.
class ClaimLock {
 public:
  ClaimLock();
  ~ClaimLock();
  ClaimLock(const ClaimLock&) = delete;
  ClaimLock& operator=(const ClaimLock&) = delete;

 private:
  UniqueHandle mutex_;
  bool held_ = false;
};

}  // namespace qmis
