#include "import_hook.h"

#include "stack_check.h"
#include "wide.h"

#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

namespace qmis_test {
namespace {

enum FunctionId : size_t {
#define QMIS_TEST_ID(name) k##name,
  QMIS_TEST_HOOKED_IMPORTS(QMIS_TEST_ID)
#undef QMIS_TEST_ID
      kFunctionCount
};

const char* const kNames[] = {
#define QMIS_TEST_NAME(name) #name,
    QMIS_TEST_HOOKED_IMPORTS(QMIS_TEST_NAME)
#undef QMIS_TEST_NAME
};

ImportHook* g_active = nullptr;

template <typename T>
uint32_t ToWord(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
  } else {
    return static_cast<uint32_t>(value);
  }
}

template <typename R>
R FromWord(uint32_t word) {
  if constexpr (std::is_pointer_v<R>) {
    return reinterpret_cast<R>(static_cast<uintptr_t>(word));
  } else {
    return static_cast<R>(word);
  }
}

// Text of a string argument; out-buffers (non-const) are read only where
// they carry input, as the command line of CreateProcessA does. UTF-16
// arguments are recorded in UTF-8.
template <typename T>
std::string TextOf(size_t id, T value) {
  if constexpr (std::is_same_v<T, const wchar_t*> || std::is_same_v<T, wchar_t*>) {
    if (value == nullptr || IS_INTRESOURCE(value)) return {};
    if (std::is_same_v<T, wchar_t*> && id != kCreateProcessW) return {};
    char text[4 * MAX_PATH];
    if (WideCharToMultiByte(CP_UTF8, 0, value, -1, text, sizeof text, nullptr, nullptr) == 0)
      return {};
    return text;
  } else if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, char*>) {
    // Resource numbers (IDC_WAIT, say) travel where strings would.
    if (value == nullptr || IS_INTRESOURCE(value)) return {};
    if (std::is_same_v<T, char*> && id != kCreateProcessA) return {};
    return std::string(value, strnlen(value, 100000));
  } else {
    return {};
  }
}

template <typename T>
uint32_t CountOf(T value) {
  if constexpr (std::is_same_v<T, DWORD*>) {
    return value != nullptr ? *value : 0;
  } else {
    return 0;
  }
}

template <size_t Id, typename F>
struct Thunk;

template <size_t Id, typename R, typename... A>
struct Thunk<Id, R(WINAPI*)(A...)> {
  using Real = R(WINAPI*)(A...);

  static R WINAPI Call(A... a) {
    ImportHook* hook = ImportHook::Active();
    const uint32_t args[sizeof...(A) + 1] = {ToWord(a)..., 0};
    qmis_test::Call record;  // this function is named Call too
    record.strings = {TextOf(Id, a)...};
    record.counts = {CountOf(a)...};
    uint32_t result = 0;
    if (hook == nullptr || !hook->ApplyRule(Id, args, result)) {
      Real real = reinterpret_cast<Real>(hook ? hook->RealAddress(kNames[Id]) : nullptr);
      if constexpr (std::is_void_v<R>) {
        real(a...);
      } else {
        result = ToWord(real(a...));
      }
    }
    if (hook != nullptr) hook->Record(Id, args, std::move(record), result);
    if constexpr (!std::is_void_v<R>) return FromWord<R>(result);
  }
};

void* const kThunks[] = {
#define QMIS_TEST_THUNK(name) reinterpret_cast<void*>(&Thunk<k##name, decltype(&::name)>::Call),
    QMIS_TEST_HOOKED_IMPORTS(QMIS_TEST_THUNK)
#undef QMIS_TEST_THUNK
};

template <typename F>
struct ArgumentCount;
template <typename R, typename... A>
struct ArgumentCount<R(WINAPI*)(A...)> {
  static constexpr int value = sizeof...(A);
};

const int kArgumentCounts[] = {
#define QMIS_TEST_COUNT(name) ArgumentCount<decltype(&::name)>::value,
    QMIS_TEST_HOOKED_IMPORTS(QMIS_TEST_COUNT)
#undef QMIS_TEST_COUNT
};

size_t IdOf(const std::string& function) {
  for (size_t id = 0; id < kFunctionCount; ++id) {
    if (function == kNames[id]) return id;
  }
  std::fprintf(stderr, "import hook: %s is not a hooked function\n", function.c_str());
  std::abort();
}

template <typename T>
T* At(HMODULE module, DWORD rva) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

}  // namespace

ImportHook::ImportHook(HMODULE module) : module_(module) {
  auto* dos = At<IMAGE_DOS_HEADER>(module, 0);
  auto* nt = At<IMAGE_NT_HEADERS32>(module, dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* desc = At<IMAGE_IMPORT_DESCRIPTOR>(module, dir.VirtualAddress); desc->Name != 0;
       ++desc) {
    auto* names = At<IMAGE_THUNK_DATA32>(module, desc->OriginalFirstThunk);
    auto* slots = At<IMAGE_THUNK_DATA32>(module, desc->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (names->u1.Ordinal & IMAGE_ORDINAL_FLAG32) continue;
      auto* byName = At<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData);
      const char* name = reinterpret_cast<const char*>(byName->Name);
      for (size_t id = 0; id < kFunctionCount; ++id) {
        if (std::strcmp(name, kNames[id]) != 0) continue;
        void** slot = reinterpret_cast<void**>(&slots->u1.Function);
        real_[id] = *slot;
        patches_.push_back({slot, *slot});
        DWORD old = 0;
        VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old);
        *slot = kThunks[id];
        VirtualProtect(slot, sizeof(void*), old, &old);
      }
    }
  }
  g_active = this;
}

ImportHook::~ImportHook() {
  for (const Patch& patch : patches_) {
    DWORD old = 0;
    VirtualProtect(patch.slot, sizeof(void*), PAGE_READWRITE, &old);
    *patch.slot = patch.original;
    VirtualProtect(patch.slot, sizeof(void*), old, &old);
  }
  if (g_active == this) g_active = nullptr;
}

ImportHook* ImportHook::Active() { return g_active; }

std::vector<std::string> ImportHook::HookedFunctions() {
  return {std::begin(kNames), std::end(kNames)};
}

bool ImportHook::Intercepts(const std::string& function) const {
  return real_.count(IdOf(function)) != 0;
}

void* ImportHook::RealAddress(const std::string& function) const {
  auto it = real_.find(IdOf(function));
  if (it != real_.end()) return it->second;
  // Not imported by the module: the test's own binding serves.
  const size_t id = IdOf(function);
  for (const char* dll : {"advapi32.dll", "kernel32.dll", "user32.dll"}) {
    if (void* address = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), kNames[id])))
      return address;
  }
  return nullptr;
}

uint32_t ImportHook::CallReal(const std::string& function, const uint32_t* args) const {
  int removed = 0;
  return qmis_call_checked(RealAddress(function), args, kArgumentCounts[IdOf(function)], &removed);
}

int ImportHook::Count(const std::string& function) const {
  return static_cast<int>(Calls(function).size());
}

std::vector<Call> ImportHook::Calls(const std::string& function) const {
  // A function the module does not import is never seen: a check on its
  // calls could not fail.
  if (!Intercepts(function)) {
    std::fprintf(stderr, "import hook: the module does not import %s\n", function.c_str());
    std::abort();
  }
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<Call> calls;
  for (const Call& call : log_) {
    if (call.function == function) calls.push_back(call);
  }
  return calls;
}

std::vector<Call> ImportHook::Log() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return log_;
}

std::vector<Call> ImportHook::WorkLog() const {
  std::vector<Call> calls = Log();
  std::erase_if(calls, [](const Call& call) {
    return call.function == "GetEnvironmentVariableW" || call.function == "SetLastError";
  });
  return calls;
}

void ImportHook::ClearLog() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  log_.clear();
}

void ImportHook::Fail(const std::string& function, int nth, uint32_t result, DWORD lastError) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Rule rule;
  rule.nth = nth;
  rule.result = result;
  rule.lastError = lastError;
  rules_[IdOf(function)] = rule;
}

void ImportHook::Replace(const std::string& function, Replacement replacement, int nth) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Rule rule;
  rule.nth = nth;
  rule.replacement = std::move(replacement);
  rules_[IdOf(function)] = rule;
}

void ImportHook::ReplaceCommandLine(const std::string& line) {
  wideCommandLine_ = Wide(line);
  commandLine_ = Narrow(wideCommandLine_, CP_ACP);
  Replace("GetCommandLineA", [this](const uint32_t*) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(commandLine_.c_str()));
  });
  Replace("GetCommandLineW", [this](const uint32_t*) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(wideCommandLine_.c_str()));
  });
}

void ImportHook::ClearRules() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  rules_.clear();
}

bool ImportHook::ApplyRule(size_t id, const uint32_t* args, uint32_t& result) {
  Replacement replacement;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto it = rules_.find(id);
    if (it == rules_.end()) return false;
    Rule& rule = it->second;
    ++rule.seen;
    if (rule.nth != 0 && rule.seen != rule.nth) return false;
    if (!rule.replacement) {
      result = rule.result;
      SetLastError(rule.lastError);
      return true;
    }
    replacement = rule.replacement;
  }
  result = replacement(args);
  return true;
}

void ImportHook::Record(size_t id, const uint32_t* args, Call call, uint32_t result) {
  const DWORD lastError = GetLastError();
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    call.function = kNames[id];
    call.args.assign(args, args + call.strings.size());
    call.result = result;
    log_.push_back(std::move(call));
    Track(id, args, result);
  }
  SetLastError(lastError);
}

void ImportHook::Open(const char* kind, uintptr_t value) { live_.insert({{kind, value}, 0}); }

void ImportHook::Close(const char* kind, uintptr_t value) {
  auto it = live_.find({kind, value});
  if (it != live_.end()) live_.erase(it);
}

void ImportHook::CloseHandleOfAnyKind(uintptr_t value) {
  for (const char* kind :
       {"file handle", "process handle", "thread handle", "token handle", "mutex handle"}) {
    auto it = live_.find({kind, value});
    if (it != live_.end()) {
      live_.erase(it);
      return;
    }
  }
}

void ImportHook::Track(size_t id, const uint32_t* a, uint32_t r) {
  auto deref = [](uint32_t address) { return *reinterpret_cast<uintptr_t*>(address); };
  const uintptr_t invalid = reinterpret_cast<uintptr_t>(INVALID_HANDLE_VALUE);
  switch (id) {
    case kRegOpenKeyExA:
    case kRegOpenKeyExW:
      if (r == 0) Open("registry key", deref(a[4]));
      break;
    case kRegOpenKeyA:
      if (r == 0) Open("registry key", deref(a[2]));
      break;
    case kRegCreateKeyExA:
    case kRegCreateKeyExW:
      if (r == 0) Open("registry key", deref(a[7]));
      break;
    case kRegCloseKey:
      Close("registry key", a[0]);
      break;
    case kCreateFileA:
    case kCreateFileW:
      if (r != invalid) Open("file handle", r);
      break;
    case kFindFirstFileA:
    case kFindFirstFileW:
      if (r != invalid) Open("file search", r);
      break;
    case kFindClose:
      Close("file search", a[0]);
      break;
    case kCloseHandle:
      CloseHandleOfAnyKind(a[0]);
      break;
    case kOpenProcessToken:
      if (r != 0) Open("token handle", deref(a[2]));
      break;
    case kCreateProcessA:
    case kCreateProcessW:
      if (r != 0) {
        auto* info = reinterpret_cast<PROCESS_INFORMATION*>(a[9]);
        Open("process handle", reinterpret_cast<uintptr_t>(info->hProcess));
        Open("thread handle", reinterpret_cast<uintptr_t>(info->hThread));
      }
      break;
    case kCreateMutexA:
    case kOpenMutexA:
      if (r != 0) Open("mutex handle", r);
      break;
    // A mutex the module waited for and got is owned until it releases it.
    case kWaitForSingleObject:
      if ((r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) && live_.count({"mutex handle", a[0]}))
        Open("mutex ownership", a[0]);
      break;
    case kReleaseMutex:
      if (r != 0) Close("mutex ownership", a[0]);
      break;
    case kGlobalAlloc:
      if (r != 0) Open("global block", r);
      break;
    case kGlobalFree:
      if (r == 0) Close("global block", a[0]);
      break;
    case kGlobalLock:
      if (r != 0) Open("global lock", a[0]);
      break;
    case kGlobalUnlock:
      Close("global lock", a[0]);
      break;
    case kFormatMessageA:
    case kFormatMessageW:
      if (r != 0 && (a[0] & FORMAT_MESSAGE_ALLOCATE_BUFFER)) Open("local block", deref(a[4]));
      break;
    case kLocalFree:
      if (r == 0) Close("local block", a[0]);
      break;
    default:
      break;
  }
}

std::vector<std::string> ImportHook::Outstanding() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<std::string> lines;
  for (const auto& [key, unused] : live_) {
    char line[96];
    std::snprintf(line, sizeof line, "%s 0x%lx", key.first.c_str(),
                  static_cast<unsigned long>(key.second));
    lines.push_back(line);
  }
  return lines;
}

}  // namespace qmis_test
