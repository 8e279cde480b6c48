// KArray and KArrayIter.
#include "vxkernel/text/KArray.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "base/debug_line.h"

namespace {

// The messages' texts are fixed, line ends and all: DebugText.
using vxk_internal::DebugText;

constexpr uint32_t kDefaultBumper = 14;
constexpr uint32_t kLimitBase = 0x7FFFFFFF;  // the limit is this / element size

// Element sizes outside 1..kLimitBase make no array; they fall back to one
// pointer so that no size computation divides by zero or overflows.
uint32_t SaneElementSize(long size) {
  if (size <= 0 || static_cast<unsigned long>(size) > kLimitBase) return sizeof(void*);
  return static_cast<uint32_t>(size);
}

unsigned char* NewZeroedBlock(size_t bytes) {
  if (bytes == 0) return nullptr;
  auto* block = static_cast<unsigned char*>(::operator new(bytes));
  std::memset(block, 0, bytes);
  return block;
}

void FreeBlock(unsigned char* block) { ::operator delete(block); }

// The default comparison of whole elements.
int CompareBytes(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n); }

// Binary search over indices 1..count of an ascending array; compareAt(mid)
// orders element mid against the key. Returns the index of a match, or the
// negated index at which the key would be inserted (-1 for an empty array).
template <typename CompareAt>
long Bisect(unsigned long count, CompareAt compareAt) {
  unsigned long lo = 1;
  unsigned long hi = count;
  while (lo <= hi) {
    const unsigned long mid = (lo + hi) / 2;
    const int result = compareAt(mid);
    if (result > 0) {
      hi = mid - 1;
    } else if (result < 0) {
      lo = mid + 1;
    } else {
      return static_cast<long>(mid);
    }
  }
  return -static_cast<long>(lo);
}

}  // namespace

// ===== Construction =====

KArray::KArray() : KArray(sizeof(void*)) {}

KArray::KArray(long elementSize)
    : fData(nullptr),
      fCount(0),
      fLimit(kLimitBase / SaneElementSize(elementSize)),
      fElementSize(SaneElementSize(elementSize)),
      fBumper(kDefaultBumper),
      fAllocated(0) {}

KArray::KArray(const KArray& other)
    : fData(NewZeroedBlock(static_cast<size_t>(other.fAllocated) * other.fElementSize)),
      fCount(other.fCount),
      fLimit(other.fLimit),
      fElementSize(other.fElementSize),
      fBumper(other.fBumper),
      fAllocated(other.fAllocated) {
  if (fData != nullptr) std::memcpy(fData, other.fData, static_cast<size_t>(fCount) * fElementSize);
}

KArray& KArray::operator=(const KArray& other) {
  if (this == &other) return *this;
  unsigned char* data = NewZeroedBlock(static_cast<size_t>(other.fAllocated) * other.fElementSize);
  if (data != nullptr) std::memcpy(data, other.fData, static_cast<size_t>(other.fCount) * other.fElementSize);
  FreeBlock(fData);
  fData = data;
  fCount = other.fCount;
  fLimit = other.fLimit;
  fElementSize = other.fElementSize;
  fBumper = other.fBumper;
  fAllocated = other.fAllocated;
  return *this;
}

KArray::~KArray() { FreeBlock(fData); }

unsigned long KArray::MaxElements(unsigned long n) {
  fLimit = static_cast<uint32_t>(std::min<unsigned long>(n, std::numeric_limits<uint32_t>::max()));
  return n;
}

long KArray::ElementSize(long n) {
  const uint32_t size = SaneElementSize(n);
  if (size != fElementSize && fData != nullptr) {
    // The block keeps its bytes; it is re-sliced into elements of the new
    // size so that no index can reach past it.
    const size_t bytes = static_cast<size_t>(fAllocated) * fElementSize;
    fAllocated = static_cast<uint32_t>(bytes / size);
    fCount = std::min(fCount, fAllocated);
    const size_t used = static_cast<size_t>(fCount) * size;
    std::memset(fData + used, 0, bytes - used);
  }
  fElementSize = size;
  return n;
}

long KArray::BumperSize(long n) {
  fBumper = static_cast<int32_t>(std::clamp<long>(n, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
  return n;
}

// ===== Storage =====

void KArray::Reallocate(uint32_t slots) {
  unsigned char* data = NewZeroedBlock(static_cast<size_t>(slots) * fElementSize);
  const uint32_t keep = std::min(slots, fCount);
  if (keep != 0) std::memcpy(data, fData, static_cast<size_t>(keep) * fElementSize);
  FreeBlock(fData);
  fData = data;
  fAllocated = slots;
}

void KArray::Grow(unsigned long n) {
  // REQUIRES: n > fAllocated. At least the bumper or a sixteenth more.
  const long long step = std::max<long long>(fBumper, static_cast<long long>(n / 16));
  const unsigned long long size = n + static_cast<unsigned long long>(std::max<long long>(step, 0));
  Reallocate(static_cast<uint32_t>(std::min<unsigned long long>(size, std::numeric_limits<uint32_t>::max())));
}

void KArray::ArrayResize(unsigned long n) {
  const uint32_t slots =
      static_cast<uint32_t>(std::min<unsigned long>(n, std::numeric_limits<uint32_t>::max()));
  if (slots == 0) {
    FreeBlock(fData);
    fData = nullptr;
    fAllocated = 0;
  } else if (slots > fAllocated) {
    Grow(slots);
  } else {
    Reallocate(slots);
  }
  fCount = std::min(fCount, slots);
}

bool KArray::ReserveFor(unsigned long index) {
  if (index == 0 || index > fLimit) {
    DebugText("Array: Putting illegal array element ", index);
    return false;
  }
  if (index > fAllocated) Grow(index);
  if (index > fCount) fCount = static_cast<uint32_t>(index);
  return true;
}

// Slots are fElementSize apart. A pointer-sized value occupies the first
// min(fElementSize, sizeof(void*)) bytes of its element, so the S operations
// never step outside the block whatever the element size.
void* KArray::ReadSlot(unsigned long index) const {
  if (PointerSized()) {
    void* v;
    std::memcpy(&v, SlotAddress(index), sizeof v);
    return v;
  }
  uintptr_t v = 0;
  std::memcpy(&v, SlotAddress(index), std::min<size_t>(fElementSize, sizeof v));
  return reinterpret_cast<void*>(v);
}

void KArray::WriteSlot(unsigned long index, void* v) {
  unsigned char* slot = SlotAddress(index);
  if (PointerSized()) {
    std::memcpy(slot, &v, sizeof v);
    return;
  }
  const size_t n = std::min<size_t>(fElementSize, sizeof v);
  std::memcpy(slot, &v, n);
  std::memset(slot + n, 0, fElementSize - n);
}

// REQUIRES: 1 <= index <= fCount and fCount < fAllocated. Shifts index..count
// up by one slot and counts the new one.
void KArray::OpenGap(unsigned long index) {
  std::memmove(SlotAddress(index + 1), SlotAddress(index),
               static_cast<size_t>(fCount - index + 1) * fElementSize);
  ++fCount;
}

// ===== Pointer-sized values =====

bool KArray::PutSelementAt(void* v, unsigned long index) {
  if (!ReserveFor(index)) return false;
  WriteSlot(index, v);
  return true;
}

bool KArray::AddSelement(void* v) { return PutSelementAt(v, static_cast<unsigned long>(fCount) + 1); }

bool KArray::AddSelement(long n) { return AddSelement(reinterpret_cast<void*>(n)); }

bool KArray::AddUniqueSelement(void* v, KArrayCompareFunc cmp) {
  if (FindSelement(v, cmp) != 0) return false;
  return AddSelement(v);
}

void* KArray::GetSelementAt(unsigned long index) const {
  if (index == 0 || index > fCount) {
    DebugText("Array: Getting illegal Selement ", index, '\n');
    return nullptr;
  }
  return ReadSlot(index);
}

bool KArray::InsertSelementAt(void* v, unsigned long index) {
  if (index > fCount) return PutSelementAt(v, index);
  if (fCount >= fLimit) {
    DebugText("Array index too large ", fCount);
    return false;
  }
  if (static_cast<unsigned long>(fCount) + 1 > fAllocated) Grow(static_cast<unsigned long>(fCount) + 1);
  if (index == 0) index = 1;
  OpenGap(index);
  WriteSlot(index, v);
  return true;
}

unsigned long KArray::FindSelement(void* v, KArrayCompareFunc cmp) const {
  for (unsigned long i = fCount; i >= 1; --i) {
    void* slot = ReadSlot(i);
    if (cmp != nullptr ? cmp(slot, v, sizeof(void*)) == 0 : slot == v) return i;
  }
  return 0;
}

long KArray::BsearchSelement(void* v, KArrayCompareFunc cmp) const {
  // The key as an element for comparisons that take element addresses: its
  // value in the first bytes, zero after, and never shorter than an element.
  std::vector<unsigned char> key;
  if (cmp != nullptr && !PointerSized()) {
    key.assign(std::max<size_t>(fElementSize, sizeof v), 0);
    std::memcpy(key.data(), &v, sizeof v);
  }
  return Bisect(fCount, [&](unsigned long mid) {
    if (cmp == nullptr) {
      const auto a = reinterpret_cast<intptr_t>(ReadSlot(mid));
      const auto b = reinterpret_cast<intptr_t>(v);
      return (a > b) - (a < b);
    }
    if (PointerSized()) return cmp(ReadSlot(mid), v, sizeof(void*));
    // Slot mid counted in pointer-sized steps. Below a pointer's size such
    // steps would leave the elements (and the block) in the upper half of
    // the array, so there slot mid stays element mid.
    const bool narrow = static_cast<size_t>(fElementSize) < sizeof(void*);
    const unsigned char* slot =
        narrow ? SlotAddress(mid) : SlotAddress(1) + static_cast<size_t>(mid - 1) * sizeof(void*);
    return cmp(slot, key.data(), fElementSize);
  });
}

bool KArray::RemoveSelement(void* v) {
  for (unsigned long i = 1; i <= fCount; ++i) {
    if (ReadSlot(i) == v) return DeleteElementsBetween(i, i);
  }
  return false;
}

void* KArray::FirstSelement() const { return fCount == 0 ? nullptr : ReadSlot(1); }

void* KArray::LastSelement() const { return fCount == 0 ? nullptr : ReadSlot(fCount); }

void* KArray::FirstSuccess(KArrayPredicate pred) const {
  if (pred == nullptr) return nullptr;
  for (unsigned long i = 1; i <= fCount; ++i) {
    void* v = ReadSlot(i);
    if (pred(v)) return v;
  }
  return nullptr;
}

void* KArray::FirstFailure(KArrayPredicate pred) const {
  if (pred == nullptr) return nullptr;
  for (unsigned long i = 1; i <= fCount; ++i) {
    void* v = ReadSlot(i);
    if (!pred(v)) return v;
  }
  return nullptr;
}

// The visitors re-read the count each round, so a visitor that shrinks the
// array ends the walk instead of reading vacated slots.
void KArray::ForEach(KArrayVisitor fn) const {
  if (fn == nullptr) return;
  for (unsigned long i = 1; i <= fCount; ++i) fn(PointerSized() ? ReadSlot(i) : SlotAddress(i));
}

void KArray::ForEachNotNull(KArrayVisitor fn) const {
  if (fn == nullptr) return;
  for (unsigned long i = 1; i <= fCount; ++i) {
    void* v = ReadSlot(i);
    if (v != nullptr) fn(v);
  }
}

void KArray::ForEach1(KArrayVisitor1 fn, void* arg) const {
  if (fn == nullptr) return;
  for (unsigned long i = 1; i <= fCount; ++i) fn(ReadSlot(i), arg);
}

void KArray::For1Each(KArrayVisitor1 fn, void* arg) const {
  if (fn == nullptr) return;
  for (unsigned long i = 1; i <= fCount; ++i) fn(arg, ReadSlot(i));
}

// ===== Element copies =====

bool KArray::PutElementAt(const void* p, unsigned long index) {
  if (p == nullptr) return false;
  if (!ReserveFor(index)) return false;
  std::memcpy(SlotAddress(index), p, fElementSize);
  return true;
}

bool KArray::AddElement(const void* p) { return PutElementAt(p, static_cast<unsigned long>(fCount) + 1); }

bool KArray::AddUniqueElement(const void* p, KArrayCompareFunc cmp) {
  if (p == nullptr || FindElement(p, cmp) != 0) return false;
  return AddElement(p);
}

bool KArray::GetElementAt(void* dest, unsigned long index) const {
  if (index == 0 || index > fCount) {
    DebugText("Array: Getting illegal Selement ", index, '\n');
    return false;
  }
  if (dest == nullptr) return false;
  std::memcpy(dest, SlotAddress(index), fElementSize);
  return true;
}

bool KArray::InsertElementAt(const void* p, unsigned long index) {
  if (p == nullptr) return false;
  if (index > fCount) return PutElementAt(p, index);
  // Refuses only past the limit, so an array may hold limit + 1 elements
  // this way; the S form refuses at the limit.
  if (fCount > fLimit || fCount == std::numeric_limits<uint32_t>::max()) {
    DebugText("Array index too large ", fCount);
    return false;
  }
  if (static_cast<unsigned long>(fCount) + 1 > fAllocated) Grow(static_cast<unsigned long>(fCount) + 1);
  if (index == 0) index = 1;
  OpenGap(index);
  std::memcpy(SlotAddress(index), p, fElementSize);
  return true;
}

unsigned long KArray::FindElement(const void* p, KArrayCompareFunc cmp) const {
  if (p == nullptr) return 0;
  if (cmp == nullptr) cmp = CompareBytes;
  for (unsigned long i = fCount; i >= 1; --i) {
    if (cmp(SlotAddress(i), p, fElementSize) == 0) return i;
  }
  return 0;
}

long KArray::BsearchElement(const void* p, KArrayCompareFunc cmp) const {
  if (p == nullptr) return -1;
  if (cmp == nullptr) cmp = CompareBytes;
  return Bisect(fCount, [&](unsigned long mid) { return cmp(SlotAddress(mid), p, fElementSize); });
}

bool KArray::RemoveElement(const void* p) {
  const unsigned long i = FindElement(p, nullptr);
  return i != 0 && DeleteElementsBetween(i, i);
}

// ===== Deletion, order =====

bool KArray::DeleteElementsBetween(unsigned long first, unsigned long last) {
  if (first == 0 || last == 0) {
    DebugText("DeleteBetween got a 0 index.\n");
    return false;
  }
  if (first == 1 && last == fCount) {
    if (fData != nullptr) std::memset(fData, 0, static_cast<size_t>(fAllocated) * fElementSize);
    fCount = 0;
    return true;
  }
  if (first > last || last > fCount) return false;
  const size_t size = fElementSize;
  const unsigned long removed = last - first + 1;
  std::memmove(SlotAddress(first), SlotAddress(last + 1), (fCount - last) * size);
  std::memset(SlotAddress(fCount - removed + 1), 0, removed * size);
  fCount -= static_cast<uint32_t>(removed);
  return true;
}

void KArray::Qsort(KArraySortFunc cmp) {
  if (cmp == nullptr || fCount < 2) return;
  std::qsort(fData, fCount, fElementSize, cmp);
}

// ===== KArrayIter =====

KArrayIter::~KArrayIter() = default;

void* KArrayIter::Next() {
  if (!IsMore()) return nullptr;
  return fArray->GetSelementAt(fNext++);
}

bool KArrayIter::Next(void* dest) {
  if (!IsMore()) return false;
  fArray->GetElementAt(dest, fNext++);
  return true;
}
