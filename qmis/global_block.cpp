#include "qmis/handles.h"

namespace qmis {

GlobalBlock::GlobalBlock(GlobalBlock&& other) noexcept
    : handle_(other.handle_), data_(other.data_) {
  other.handle_ = nullptr;
  other.data_ = nullptr;
}

GlobalBlock& GlobalBlock::operator=(GlobalBlock&& other) noexcept {
  if (this != &other) {
    reset();
    handle_ = other.handle_;
    data_ = other.data_;
    other.handle_ = nullptr;
    other.data_ = nullptr;
  }
  return *this;
}

GlobalBlock GlobalBlock::Allocate(SIZE_T size) {
  GlobalBlock block;
  // A movable block of zero bytes is allocated discarded and cannot be
  // locked, so an empty list still takes one byte.
  block.handle_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size == 0 ? 1 : size);
  if (block.handle_ == nullptr) return block;
  block.data_ = static_cast<char*>(GlobalLock(block.handle_));
  if (block.data_ == nullptr) block.reset();
  return block;
}

void GlobalBlock::reset() {
  if (handle_ == nullptr) return;
  if (data_ != nullptr) GlobalUnlock(handle_);
  GlobalFree(handle_);
  handle_ = nullptr;
  data_ = nullptr;
}

}  // namespace qmis
