#pragma once

#include <cstdint>

extern "C" uint32_t qmis_call_checked(const void* function, const uint32_t* args, int count,
                                      int* removed);

namespace qmis_test {

// Calls `function` with `count` arguments and returns how many bytes of
// arguments it removed from the stack.
inline int StackBytesRemoved(const void* function, const uint32_t* args, int count) {
  int removed = -1;
  qmis_call_checked(function, args, count, &removed);
  return removed;
}

}  // namespace qmis_test
