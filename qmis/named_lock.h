// Locks that serialise the library's own changes to state several
// installers share, across processes: installers of one machine, in any
// session, meet on one named mutex per resource.
#pragma once

#include <windows.h>

#include "qmis/handles.h"

namespace qmis {

// How long a change waits for another installer's.
inline constexpr DWORD kLockWaitMs = 10000;

// Holds the named mutex for its lifetime when it can be had. When it cannot
// (the mutex cannot be created or opened, or the wait runs out), the work
// goes ahead unguarded, as it would without the lock: a lock that cannot be
// had must never make a call fail.
class NamedLock {
 public:
  explicit NamedLock(const char* name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

 private:
  UniqueHandle mutex_;
  bool held_ = false;
};

}  // namespace qmis
