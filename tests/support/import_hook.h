// Patches a loaded module's Import Address Table so that its calls to the
// system functions below pass through the test: every call is counted and
// recorded with its arguments, a chosen call can be made to fail or be
// replaced, and the handles and global blocks the module opens are tracked
// until it releases them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qmis_test {

// The imports the hook can intercept (wsprintfA is variadic and cdecl, so it
// is not among them).
// clang-format off
#define QMIS_TEST_HOOKED_IMPORTS(X)                                                          \
  X(RegOpenKeyExA) X(RegOpenKeyA) X(RegCreateKeyExA) X(RegQueryValueExA)                     \
  X(RegSetValueExA) X(RegDeleteValueA) X(RegDeleteKeyA) X(RegEnumKeyExA) X(RegEnumKeyA)      \
  X(RegEnumValueA) X(RegQueryInfoKeyA) X(RegFlushKey) X(RegCloseKey) X(RegSaveKeyA)          \
  X(RegRestoreKeyA) X(OpenProcessToken) X(LookupPrivilegeValueA) X(AdjustTokenPrivileges)    \
  X(GetCurrentProcess) X(CloseHandle) X(CreateProcessA) X(WaitForSingleObject)               \
  X(GetExitCodeProcess) X(FormatMessageA) X(GetCommandLineA) X(FindFirstFileA)               \
  X(FindNextFileA) X(FindFirstFileW) X(FindNextFileW) X(MultiByteToWideChar) X(FindClose)    \
  X(CreateFileA) X(MoveFileA) X(GetFileAttributesA) X(CreateMutexA) X(OpenMutexA)            \
  X(ReleaseMutex) X(GlobalAlloc) X(GlobalLock) X(GlobalUnlock) X(GlobalFree) X(LocalFree)    \
  X(lstrcmpA) X(lstrcmpiA) X(LoadCursorA) X(SetCursor) X(RegQueryValueExW) X(RegSetValueExW)   \
  X(RegEnumValueW) X(RegCreateKeyExW) X(RegSaveKeyW) X(RegRestoreKeyW) X(CreateProcessW)     \
  X(FormatMessageW) X(GetCommandLineW) X(CreateFileW) X(MoveFileW) X(GetFileAttributesW)     \
  X(lstrcmpW) X(lstrcmpiW) X(WideCharToMultiByte) X(RegOpenKeyExW) X(GetEnvironmentVariableW) \
  X(GetLocalTime) X(GetCurrentProcessId) X(OutputDebugStringW) X(WriteFile) X(SetLastError)    \
  X(LockFileEx) X(UnlockFileEx)
// clang-format on

struct Call {
  std::string function;
  std::vector<uint32_t> args;
  // The text of each string argument, read when the call was made ("" for
  // other arguments and for null pointers).
  std::vector<std::string> strings;
  // What each DWORD* argument pointed to when the call was made, as a
  // buffer's capacity or a length going in (0 for other arguments and null
  // pointers).
  std::vector<uint32_t> counts;
  uint32_t result = 0;
};

class ImportHook {
 public:
  // Called in place of the system function with the call's arguments; its
  // return value is the call's result.
  using Replacement = std::function<uint32_t(const uint32_t* args)>;

  explicit ImportHook(HMODULE module);
  ~ImportHook();
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;

  // Every function the hook can intercept.
  static std::vector<std::string> HookedFunctions();

  // Whether the module imports `function` (and so whether the hook sees it).
  bool Intercepts(const std::string& function) const;

  int Count(const std::string& function) const;
  std::vector<Call> Calls(const std::string& function) const;
  std::vector<Call> Log() const;
  // The calls that did the work: the log without those every export makes
  // to report on itself (looking for QMIS_LOG, setting the last error).
  std::vector<Call> WorkLog() const;
  void ClearLog();

  // The nth call from now (1 is the next one), or every call when nth is 0,
  // returns `result` and leaves `lastError` without reaching the system.
  void Fail(const std::string& function, int nth, uint32_t result, DWORD lastError = 0);
  // The nth call from now (every call when nth is 0) runs `replacement`.
  void Replace(const std::string& function, Replacement replacement, int nth = 0);
  // Every call of GetCommandLineW from now returns `line` (UTF-8) in UTF-16,
  // and every call of GetCommandLineA the same in the ANSI code page, as the
  // system converts it: the host process's own command line.
  void ReplaceCommandLine(const std::string& line);
  // Drops every failure and replacement; counting and tracking go on.
  void ClearRules();

  // Handles, searches and global blocks the module opened through the hooked
  // calls and has not released, one line each ("registry key 0x...").
  std::vector<std::string> Outstanding() const;

  // Calls the system function itself with the arguments a replacement was
  // given, and returns its result.
  uint32_t CallReal(const std::string& function, const uint32_t* args) const;

  // Used by the generated thunks.
  static ImportHook* Active();
  void* RealAddress(const std::string& function) const;
  bool ApplyRule(size_t id, const uint32_t* args, uint32_t& result);
  void Record(size_t id, const uint32_t* args, Call call, uint32_t result);

 private:
  struct Rule {
    int nth = 0;
    int seen = 0;
    uint32_t result = 0;
    DWORD lastError = 0;
    Replacement replacement;
  };
  struct Patch {
    void** slot;
    void* original;
  };

  void Track(size_t id, const uint32_t* args, uint32_t result);
  void Open(const char* kind, uintptr_t value);
  void Close(const char* kind, uintptr_t value);
  void CloseHandleOfAnyKind(uintptr_t value);

  HMODULE module_;
  std::vector<Patch> patches_;
  std::map<size_t, void*> real_;
  mutable std::recursive_mutex mutex_;
  std::vector<Call> log_;
  std::map<size_t, Rule> rules_;
  std::multimap<std::pair<std::string, uintptr_t>, int> live_;
  std::string commandLine_;
  std::wstring wideCommandLine_;
};

}  // namespace qmis_test
