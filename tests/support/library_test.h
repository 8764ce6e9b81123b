// The base of every suite: the library loaded once per program, the import
// hook over it for each test, and the leak check after each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "call_record.h"
#include "import_hook.h"
#include "library.h"
#include "registry_sandbox.h"

namespace qmis_test {

// Fixture over QMIS.dll as shipped.
class LibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  static const Exports& api() { return library_->api(); }
  static Library& library() { return *library_; }
  ImportHook& hook() { return *hook_; }

  // Expects every handle and global block opened so far to be released.
  void ExpectNothingOutstanding();

  RegistrySandbox sandbox_;

 private:
  static Library* library_;
  std::unique_ptr<ImportHook> hook_;
};

}  // namespace qmis_test
