#include "library_test.h"

namespace qmis_test {

Library* LibraryTest::library_ = nullptr;

void LibraryTest::SetUpTestSuite() {
  if (library_ == nullptr) library_ = new Library("QMIS.dll");
}

void LibraryTest::TearDownTestSuite() {}

void LibraryTest::SetUp() { hook_ = std::make_unique<ImportHook>(library_->module()); }

void LibraryTest::TearDown() {
  ExpectNothingOutstanding();
  hook_.reset();
}

void LibraryTest::ExpectNothingOutstanding() {
  for (const std::string& line : hook_->Outstanding()) ADD_FAILURE() << "not released: " << line;
}

}  // namespace qmis_test
