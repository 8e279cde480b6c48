/// \file
/// Growable 1-based arrays of fixed-size elements, and their iterator.
#ifndef VXKERNEL_TEXT_KARRAY_H_
#define VXKERNEL_TEXT_KARRAY_H_

#include <cstddef>
#include <cstdint>

#include "vxkernel/export.h"

/// Comparison of two elements: (element or slot value, key, element size),
/// negative / 0 / positive as memcmp, which itself fits.
typedef int (*KArrayCompareFunc)(const void* a, const void* b, size_t size);
/// Comparison for Qsort, as the C library's qsort takes it.
typedef int (*KArraySortFunc)(const void* a, const void* b);
/// A test of one slot value, for FirstSuccess and FirstFailure.
typedef bool (*KArrayPredicate)(void* value);
/// Called with one slot value (or element address) by ForEach and
/// ForEachNotNull.
typedef void (*KArrayVisitor)(void* value);
/// Called with a slot value and the caller's argument, in the order ForEach1
/// or For1Each names.
typedef void (*KArrayVisitor1)(void* first, void* second);

/// A growable array with indices 1..NumElements() of fixed-size elements.
///
/// Two disciplines share one array. The "S" operations (AddSelement,
/// GetSelementAt, ...) pass pointer-sized values in and out: the default
/// element size is sizeof(void*), so a slot holds exactly one pointer or
/// integer. The plain operations (AddElement, GetElementAt, ...) copy
/// ElementSize() bytes from or to caller memory. Slots past the count are
/// always zero bytes, so growing never exposes stale data.
///
/// A KArray owns its element block; the pointers stored in slots are not
/// owned. Copies duplicate the block. Bad indices never throw: they write one
/// debug line and the operation returns null, false or does nothing.
/// Not synchronized: callers lock.
class VXKERNEL_EXPORT KArray {
 public:
  /// Element size sizeof(void*), limit 0x7FFFFFFF / size, bumper 14, no block.
  KArray();
  /// An element size outside 1..0x7FFFFFFF gives sizeof(void*).
  explicit KArray(long elementSize);
  /// Deep copies: the block is duplicated with the count, limit, element
  /// size and bumper. Running out of memory throws std::bad_alloc, as it
  /// does wherever the block grows.
  ///@{
  KArray(const KArray& other);
  KArray& operator=(const KArray& other);
  ///@}
  virtual ~KArray();

  // ===== Descriptor =====
  /// Elements in use, which is also the highest index stored; 0 when empty.
  unsigned long NumElements() const { return fCount; }
  /// True when no element is in use.
  bool IsEmpty() const { return fCount == 0; }
  /// The largest valid index: 0x7FFFFFFF / ElementSize() unless set.
  unsigned long MaxElements() const { return fLimit; }
  /// Bytes per element; sizeof(void*) by default.
  long ElementSize() const { return static_cast<long>(fElementSize); }
  /// Least number of slots added beyond the index that needs them when the
  /// block grows (a sixteenth of that index when larger); 14 by default.
  long BumperSize() const { return fBumper; }
  /// Element slots in the block (at least NumElements()).
  unsigned long AllocatedElements() const { return fAllocated; }
  /// The setters store n and return it. An element size outside
  /// 1..0x7FFFFFFF stores sizeof(void*) instead; a new size re-slices an
  /// existing block so that no index reaches past it.
  ///@{
  unsigned long MaxElements(unsigned long n);
  long ElementSize(long n);
  long BumperSize(long n);
  ///@}

  // ===== Pointer-sized values ("S" operations) =====
  /// Store v at index (1 <= index <= MaxElements()); the array grows and the
  /// skipped slots read as null. On a bad index writes one debug line and
  /// returns false.
  bool PutSelementAt(void* v, unsigned long index);
  /// Stores v at NumElements() + 1; false (one debug line) when the array is
  /// full.
  bool AddSelement(void* v);
  /// Stores the integer n in a pointer slot.
  bool AddSelement(long n);
  /// Appends v unless FindSelement(v, cmp) finds it; true when appended.
  bool AddUniqueSelement(void* v, KArrayCompareFunc cmp = nullptr);
  /// The value at index; null (and one debug line) when index is not in
  /// 1..NumElements().
  void* GetSelementAt(unsigned long index) const;
  /// GetSelementAt(index): null (one debug line) outside 1..NumElements().
  void* operator[](unsigned long index) const { return GetSelementAt(index); }
  /// Inserts v before index (0 and 1 both mean the front); past the end it
  /// is PutSelementAt. False (one debug line) when the array is full.
  bool InsertSelementAt(void* v, unsigned long index);
  /// Index of the last slot matching v (cmp(slotValue, v, sizeof(void*)) == 0,
  /// or equal values without cmp), 0 when none.
  unsigned long FindSelement(void* v, KArrayCompareFunc cmp = nullptr) const;
  /// Binary search of an ascending array: the index of a match, or minus the
  /// 1-based position where v would be inserted (-1 for an empty array).
  long BsearchSelement(void* v, KArrayCompareFunc cmp = nullptr) const;
  /// Removes the first slot holding v; false when none does.
  bool RemoveSelement(void* v);
  /// The value at index 1 / at NumElements(); null for an empty array (no
  /// debug line).
  ///@{
  void* FirstSelement() const;
  void* LastSelement() const;
  ///@}
  /// First value, from index 1, for which pred is true / false; null if none
  /// or when pred is null.
  ///@{
  void* FirstSuccess(KArrayPredicate pred) const;
  void* FirstFailure(KArrayPredicate pred) const;
  ///@}
  /// fn(value) per element when elements are pointer-sized, else fn(address
  /// of the element). A null fn does nothing; a visitor that shrinks the
  /// array ends the walk.
  void ForEach(KArrayVisitor fn) const;
  /// fn(value) for each slot value that is not null, the slot read as a
  /// pointer whatever the element size. A null fn does nothing.
  void ForEachNotNull(KArrayVisitor fn) const;
  /// fn(value, arg) / fn(arg, value) per element, from index 1; a null fn
  /// does nothing.
  ///@{
  void ForEach1(KArrayVisitor1 fn, void* arg) const;
  void For1Each(KArrayVisitor1 fn, void* arg) const;
  ///@}

  // ===== Element copies =====
  /// As the S operations of the same names, copying ElementSize() bytes from
  /// p or to dest; a null p or dest gives false. AddUniqueElement compares
  /// with cmp (memcmp when null) as FindElement does. InsertElementAt refuses
  /// only once the count is past MaxElements(), so it may store one element
  /// more than InsertSelementAt would.
  ///@{
  bool PutElementAt(const void* p, unsigned long index);
  bool AddElement(const void* p);
  bool AddUniqueElement(const void* p, KArrayCompareFunc cmp = nullptr);
  bool GetElementAt(void* dest, unsigned long index) const;
  bool InsertElementAt(const void* p, unsigned long index);
  ///@}
  /// Index of the last element equal to p by cmp (memcmp when null), or 0.
  unsigned long FindElement(const void* p, KArrayCompareFunc cmp = nullptr) const;
  /// As BsearchSelement, comparing the element at each probe with p by cmp
  /// (memcmp when null); -1 for a null p.
  long BsearchElement(const void* p, KArrayCompareFunc cmp = nullptr) const;
  /// Removes the last element equal to p by memcmp; false when none is.
  bool RemoveElement(const void* p);

  // ===== Deletion, order, size =====
  /// Removes elements first..last (inclusive) and closes the gap. A 0 index
  /// writes one debug line; first > last or last > NumElements() does
  /// nothing. True when elements were removed.
  bool DeleteElementsBetween(unsigned long first, unsigned long last);
  /// DeleteElementsBetween(index, index).
  ///@{
  bool DeleteElementAt(unsigned long index) { return DeleteElementsBetween(index, index); }
  bool DeleteElement(unsigned long index) { return DeleteElementsBetween(index, index); }
  ///@}
  /// Sorts the elements in place with the C library's qsort (not stable); cmp
  /// receives element addresses. A null cmp does nothing.
  void Qsort(KArraySortFunc cmp);
  /// Reallocates the block to exactly n slots; the count is cut to n.
  void ArrayResize(unsigned long n);

 protected:
  /// The address of element index in the block, unchecked.
  /// REQUIRES: 1 <= index <= AllocatedElements().
  unsigned char* SlotAddress(unsigned long index) const {
    return fData + static_cast<size_t>(index - 1) * fElementSize;
  }

 private:
  void Grow(unsigned long n);
  void Reallocate(uint32_t slots);
  void* ReadSlot(unsigned long index) const;
  void WriteSlot(unsigned long index, void* v);
  bool ReserveFor(unsigned long index);
  void OpenGap(unsigned long index);
  bool PointerSized() const { return fElementSize == sizeof(void*); }

  unsigned char* fData;   ///< fAllocated * fElementSize bytes, or null
  uint32_t fCount;        ///< elements in use
  uint32_t fLimit;        ///< largest valid index
  uint32_t fElementSize;  ///< bytes per element
  int32_t fBumper;        ///< minimum growth in elements
  uint32_t fAllocated;    ///< element slots in fData
};

/// Walks a KArray from index 1. The array is not owned and must outlive the
/// iterator. Not synchronized: callers lock.
class VXKERNEL_EXPORT KArrayIter {
 public:
  /// Starts before index 1 of array; a null array has no elements.
  explicit KArrayIter(KArray* array) : fArray(array), fNext(1) {}
  /// Copies the position; both iterators then walk the same array.
  ///@{
  KArrayIter(const KArrayIter&) = default;
  KArrayIter& operator=(const KArrayIter&) = default;
  ///@}
  virtual ~KArrayIter();

  /// True while the next index is within the array's current NumElements().
  bool IsMore() const { return fArray != nullptr && fNext <= fArray->NumElements(); }
  /// The next value and advances; null at the end.
  void* Next();
  /// Copies the next element into dest and advances; false at the end.
  bool Next(void* dest);

 private:
  KArray* fArray;
  unsigned long fNext;
};

#endif  // VXKERNEL_TEXT_KARRAY_H_
