// Makes a helper's failures name the line of the test that called it: the
// helper takes `const Caller& caller = Caller::current()` last and opens
// with QMIS_TEST_TRACE_CALLER(caller).
#pragma once

#include <gtest/gtest.h>

#include <source_location>

namespace qmis_test {

using Caller = std::source_location;

#define QMIS_TEST_TRACE_CALLER(caller)                 \
  const ::testing::ScopedTrace qmis_test_caller_trace( \
      (caller).file_name(), static_cast<int>((caller).line()), "called from here")

}  // namespace qmis_test
