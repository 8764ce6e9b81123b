#include "guard_buffer.h"

#include <cstring>

namespace qmis_test {
namespace {
constexpr size_t kPage = 4096;
}

GuardedBuffer::GuardedBuffer(size_t size) : size_(size) {
  const size_t pages = (size + kPage - 1) / kPage + 1;
  base_ = VirtualAlloc(nullptr, pages * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  char* guard = static_cast<char*>(base_) + (pages - 1) * kPage;
  DWORD old = 0;
  VirtualProtect(guard, kPage, PAGE_NOACCESS, &old);
  data_ = guard - size;
  std::memset(data_, 0xBD, size);
}

GuardedBuffer GuardedBuffer::String(const std::string& text) {
  GuardedBuffer buffer(text.size() + 1);
  std::memcpy(buffer.data_, text.c_str(), text.size() + 1);
  return buffer;
}

GuardedBuffer GuardedBuffer::String(const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  GuardedBuffer buffer(bytes);
  std::memcpy(buffer.data_, text.c_str(), bytes);
  return buffer;
}

GuardedBuffer::GuardedBuffer(GuardedBuffer&& other) noexcept
    : base_(other.base_), data_(other.data_), size_(other.size_) {
  other.base_ = nullptr;
}

GuardedBuffer::~GuardedBuffer() {
  if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
}

}  // namespace qmis_test
