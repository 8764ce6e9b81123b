#include "library.h"

#include <cstdio>
#include <cstdlib>

namespace qmis_test {

const ExportInfo kExportTable[28] = {
#define QMIS_TEST_EXPORT_INFO(field, name, type, bytes, ordinal) {name, bytes, ordinal},
    QMIS_TEST_EXPORTS(QMIS_TEST_EXPORT_INFO)
#undef QMIS_TEST_EXPORT_INFO
};

namespace {

// A crash ends the test program with the exception's code as its exit code.
// Under Wine an unhandled exception can otherwise end the program with exit
// code 0 after the debugger's report, and a test run that crashed would pass.
LONG WINAPI ExitWithTheExceptionCode(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  std::fprintf(stderr, "crashed: exception 0x%08lX at %p\n", code,
               info->ExceptionRecord->ExceptionAddress);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), code);
  return EXCEPTION_EXECUTE_HANDLER;
}

const bool g_crashesFail = (SetUnhandledExceptionFilter(ExitWithTheExceptionCode), true);

}  // namespace

std::string ProgramFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string ChildCommand(const std::string& arguments) {
  return "\"" + ProgramFolder() + "qmis-test-child.exe\" " + arguments;
}

Library::Library(const char* fileName) {
  const std::string path = ProgramFolder() + fileName;
  module_.reset(LoadLibraryA(path.c_str()));
  if (!module_) {
    std::fprintf(stderr, "cannot load %s: error %lu\n", path.c_str(), GetLastError());
    std::abort();
  }
  auto bind = [this](auto& slot, const char* name) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(Find(name));
  };
#define QMIS_TEST_EXPORT_BIND(field, name, type, bytes, ordinal) bind(exports_.field, name);
  QMIS_TEST_EXPORTS(QMIS_TEST_EXPORT_BIND)
#undef QMIS_TEST_EXPORT_BIND
}

void* Library::Find(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(module_.get(), name));
}

}  // namespace qmis_test
