#include "qmis/handles.h"

namespace qmis {

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
  // A movable block of zero bytes is allocated discarded and cannot be
  // locked, so an empty list still takes one byte.
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size == 0 ? 1 : size);
  if (handle == nullptr) return GlobalBlock();
  char* data = static_cast<char*>(GlobalLock(handle));
  if (data == nullptr) {
    (void)GlobalFree(handle);  // nothing is done with a block that could not be locked
    return GlobalBlock();
  }
  return GlobalBlock(handle, data);
}

// A block is held locked from its allocation on: an owner holds both or
// neither.
void GlobalBlock::reset() {
  if (handle_ == nullptr) return;
  // A release that fails leaves nothing the caller could do about it.
  (void)GlobalUnlock(handle_);
  (void)GlobalFree(handle_);
  handle_ = nullptr;
  data_ = nullptr;
}

}  // namespace qmis
