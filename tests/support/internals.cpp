#include "internals.h"

namespace qmis_test {

Library* InternalsTest::library_ = nullptr;
Internals InternalsTest::internals_{};

void InternalsTest::SetUpTestSuite() {
  if (library_ != nullptr) return;
  library_ = new Library("qmis_internals.dll");
  auto bind = [](auto& slot, const char* name) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(library_->Find(name));
    ASSERT_NE(slot, nullptr) << name;
  };
  bind(internals_.QuerySubkeyCount, "qmis_QuerySubkeyCount");
  bind(internals_.DeleteKeyTree, "qmis_DeleteKeyTree");
  bind(internals_.BuildHandlerName, "qmis_BuildHandlerName");
  bind(internals_.EnsureTrailingBackslash, "qmis_EnsureTrailingBackslash");
  bind(internals_.EndsWithChar, "qmis_EndsWithChar");
  bind(internals_.GetUninstallerPath, "qmis_GetUninstallerPath");
  bind(internals_.GetProductArg, "qmis_GetProductArg");
  bind(internals_.IsFilePresent, "qmis_IsFilePresent");
  bind(internals_.RunDependentUninstallers, "qmis_RunDependentUninstallers");
}

void InternalsTest::SetUp() { hook_ = std::make_unique<ImportHook>(library_->module()); }

void InternalsTest::TearDown() {
  for (const std::string& line : hook_->Outstanding()) ADD_FAILURE() << "not released: " << line;
  hook_.reset();
}

}  // namespace qmis_test
