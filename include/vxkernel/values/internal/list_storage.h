// The machinery under a list's storage: the element slot, the block and
// segment a storage keeps its elements in, and the short pointer table.
// Not part of the interface: KQSValueList.h includes it for the inline
// list readers and appenders; use KQSValueList.h and KQSValue's List
// members instead.
//
// A storage keeps its elements in blocks of 64 values, reached through
// segments of up to 16 block pointers (a list of one block has a segment
// of one); blocks and segments are reference counted and shared between
// storages. Cloning a window's range into a new storage therefore shares
// the segments (one count each), and a change copies only the segment and
// the block it touches. Reading walks a block's contiguous array through a
// one-block cache; appending fills the last block through an open run of
// its free slots (one store per element while no other storage shares the
// block). The segment table and the window table keep their first entries
// inside the storage, and a new list gets its window, storage, first
// segment and first block in one allocation: each of them is a piece of
// it, and the allocation goes back to the heap with its last live piece
// (src/values/list_storage.cpp).
#ifndef VXKERNEL_VALUES_INTERNAL_LIST_STORAGE_H_
#define VXKERNEL_VALUES_INTERNAL_LIST_STORAGE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "vxkernel/values/KQSValue.h"

namespace vxk_internal {

struct ListBlock;    // 64 value slots with a share count
struct ListSegment;  // up to 16 block pointers with a share count

// One list element: a slot of a block. Nodes are reached for reading only;
// every change goes through the storage, which copies shared blocks first.
struct ValNode {
  ValNode() = default;
  explicit ValNode(const KQSValue& v) : value(v) {}
  explicit ValNode(KQSValue&& v) noexcept : value(std::move(v)) {}
  KQSValue value;
};

// A short table of pointers whose first N entries live inside the owner
// (which never moves: list storages are neither copied nor moved); it
// reaches the heap only past N. For the storage's segments and windows.
// Not synchronized (part of its storage).
template <class T, size_t N>
class ListPtrTable {
 public:
  ListPtrTable() = default;
  ListPtrTable(const ListPtrTable&) = delete;
  ListPtrTable& operator=(const ListPtrTable&) = delete;
  ~ListPtrTable() {
    if (fData != fInline) delete[] fData;
  }

  size_t size() const { return fSize; }
  bool empty() const { return fSize == 0; }
  T& operator[](size_t i) { return fData[i]; }
  const T& operator[](size_t i) const { return fData[i]; }
  T* begin() { return fData; }
  T* end() { return fData + fSize; }
  const T* begin() const { return fData; }
  const T* end() const { return fData + fSize; }
  T& back() { return fData[fSize - 1]; }
  void reserve(size_t n) {
    if (n > fCapacity) Grow(n);
  }
  void push_back(T v) {
    if (fSize == fCapacity) Grow(fSize + 1);
    fData[fSize++] = v;
  }
  void push_front(T v) {
    if (fSize == fCapacity) Grow(fSize + 1);
    std::memmove(fData + 1, fData, fSize * sizeof(T));
    fData[0] = v;
    ++fSize;
  }
  void pop_back() { --fSize; }

 private:
  void Grow(size_t need) {
    const size_t capacity = need > 2 * size_t{fCapacity} ? need : 2 * size_t{fCapacity};
    T* grown = new T[capacity];
    std::memcpy(grown, fData, fSize * sizeof(T));
    if (fData != fInline) delete[] fData;
    fData = grown;
    fCapacity = static_cast<uint32_t>(capacity);
  }

  T fInline[N] = {};
  T* fData = fInline;
  // 32-bit counts keep the storage small enough for the allocator's fast
  // lists; 2^32 segments would be 2^42 elements.
  uint32_t fSize = 0;
  uint32_t fCapacity = N;
};

}  // namespace vxk_internal

#endif  // VXKERNEL_VALUES_INTERNAL_LIST_STORAGE_H_
