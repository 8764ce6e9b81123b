// Buffers that end at a page boundary with an inaccessible page behind them,
// so that reading or writing one byte too far faults inside the test.
#pragma once

#include <windows.h>

#include <string>

namespace qmis_test {

class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size);
  // A zero-terminated copy of `text` whose zero is the buffer's last byte.
  static GuardedBuffer String(const std::string& text);
  // The same for UTF-16 text: its zero is the buffer's last unit.
  static GuardedBuffer String(const std::wstring& text);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  GuardedBuffer(GuardedBuffer&& other) noexcept;

  char* data() const { return data_; }
  wchar_t* wide() const { return reinterpret_cast<wchar_t*>(data_); }
  size_t size() const { return size_; }

 private:
  void* base_ = nullptr;
  char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace qmis_test
