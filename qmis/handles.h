// Owners for the system resources the library opens, so that every path
// through a function releases what it took.
#pragma once

#include <windows.h>

namespace qmis {

// A move-only owner of one resource; Traits names its type, its empty value
// and how it is released.
template <typename Traits>
class Unique {
 public:
  using Type = typename Traits::Type;

  Unique() = default;
  explicit Unique(Type value) : value_(value) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : value_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Unique() { reset(); }

  Type get() const { return value_; }
  bool valid() const { return value_ != Traits::empty(); }
  explicit operator bool() const { return valid(); }

  // Releases what is held and hands out the slot for an out-parameter.
  Type* put() {
    reset();
    return &value_;
  }

  Type release() {
    Type value = value_;
    value_ = Traits::empty();
    return value;
  }

  // Releases what is held and returns the status of the release (0 when
  // nothing was held or the release succeeded).
  LONG reset(Type value = Traits::empty()) {
    LONG status = ERROR_SUCCESS;
    if (valid()) status = Traits::close(value_);
    value_ = value;
    return status;
  }

 private:
  Type value_ = Traits::empty();
};

struct KeyTraits {
  using Type = HKEY;
  static HKEY empty() { return nullptr; }
  static LONG close(HKEY key) { return RegCloseKey(key); }
};

struct HandleTraits {
  using Type = HANDLE;
  static HANDLE empty() { return nullptr; }
  static LONG close(HANDLE handle) {
    return CloseHandle(handle) ? ERROR_SUCCESS : static_cast<LONG>(GetLastError());
  }
};

// A file opened with CreateFileA; its empty value is INVALID_HANDLE_VALUE.
struct FileTraits {
  using Type = HANDLE;
  static HANDLE empty() { return INVALID_HANDLE_VALUE; }
  static LONG close(HANDLE file) { return HandleTraits::close(file); }
};

// A file search; its empty value is INVALID_HANDLE_VALUE, not NULL.
struct FindTraits {
  using Type = HANDLE;
  static HANDLE empty() { return INVALID_HANDLE_VALUE; }
  static LONG close(HANDLE find) {
    return FindClose(find) ? ERROR_SUCCESS : static_cast<LONG>(GetLastError());
  }
};

struct LocalTraits {
  using Type = HLOCAL;
  static HLOCAL empty() { return nullptr; }
  static LONG close(HLOCAL block) { return LocalFree(block) == nullptr ? ERROR_SUCCESS : 1; }
};

// A module loaded with LoadLibraryA, given back with FreeLibrary.
struct ModuleTraits {
  using Type = HMODULE;
  static HMODULE empty() { return nullptr; }
  static LONG close(HMODULE module) {
    return FreeLibrary(module) ? ERROR_SUCCESS : static_cast<LONG>(GetLastError());
  }
};

using UniqueKey = Unique<KeyTraits>;
using UniqueHandle = Unique<HandleTraits>;
using UniqueFile = Unique<FileTraits>;
using UniqueFind = Unique<FindTraits>;
using UniqueLocal = Unique<LocalTraits>;
using UniqueModule = Unique<ModuleTraits>;

// A movable block from the global heap, held locked while it is owned, then
// unlocked and freed through its handle. The library takes its working
// blocks (a name buffer of the tree deletion, a path of the directory walk,
// a rename list) from the global heap as installers' own helpers do, and
// keeps its 260-byte buffers off a caller's stack where a recursion could
// pile them up.
class GlobalBlock {
 public:
  GlobalBlock() = default;
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  GlobalBlock(GlobalBlock&& other) noexcept { *this = static_cast<GlobalBlock&&>(other); }
  GlobalBlock& operator=(GlobalBlock&& other) noexcept;
  ~GlobalBlock() { reset(); }

  // A zero-filled block of `size` bytes (at least one is taken), or an empty
  // owner when the block cannot be allocated or locked.
  [[nodiscard]] static GlobalBlock Allocate(SIZE_T size);

  char* data() const { return data_; }
  // The block as UTF-16 text (a global block is aligned for any type).
  wchar_t* wide() const { return reinterpret_cast<wchar_t*>(data_); }
  explicit operator bool() const { return data_ != nullptr; }
  void reset();

 private:
  GlobalBlock(HGLOBAL handle, char* data) : handle_(handle), data_(data) {}

  HGLOBAL handle_ = nullptr;
  char* data_ = nullptr;
};

// Runs a one-off undo step when the scope ends.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F undo) : undo_(undo) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() { undo_(); }

 private:
  F undo_;
};

}  // namespace qmis
