// The internal routines, as exported by the test-only internals DLL.
#pragma once

#include <windows.h>

#include "library_test.h"

namespace qmis_test {

struct Internals {
  DWORD (*QuerySubkeyCount)(HKEY, const char*);
  LONG (*DeleteKeyTree)(HKEY, const char*);
  BOOL (*BuildHandlerName)(const char*, char*);
  DWORD (*EnsureTrailingBackslash)(char*, DWORD);
  int (*EndsWithChar)(const char*, DWORD);
  int (*GetUninstallerPath)(const wchar_t*, wchar_t*);
  int (*GetProductArg)(const char*, char*);
  int (*IsFilePresent)(const wchar_t*);
  void (*RunDependentUninstallers)(const wchar_t*, const char*);
};

// Fixture over the internals DLL: the hook and the leak check watch it.
class InternalsTest : public ::testing::Test {
 public:
  static const Internals& internals() { return internals_; }

 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  ImportHook& hook() { return *hook_; }

  RegistrySandbox sandbox_;

 private:
  static Library* library_;
  static Internals internals_;
  std::unique_ptr<ImportHook> hook_;
};

}  // namespace qmis_test
