/// \file
/// TArray: a KArray of typed pointer-sized elements, positions 1-based.
///
/// The array stores copies of the elements (pointers or pointer-sized
/// integers); it never owns what they point at. Not synchronized.
#ifndef VXKERNEL_TEXT_TARRAY_H_
#define VXKERNEL_TEXT_TARRAY_H_

#include <cstring>

#include "vxkernel/text/KArray.h"

/// A KArray whose slots hold values of T, a type of at most pointer size
/// copied bit for bit (see the file comment).
template <class T>
class TArray : public KArray {
  static_assert(sizeof(T) <= sizeof(void*), "TArray holds pointer-sized elements");

 public:
  TArray() = default;

  /// Appends v; false (one debug line) when the array is full.
  bool Add(T v) { return AddSelement(ToWord(v)); }
  /// The element at position i (1-based), or T() outside 1..Count().
  T GetAt(unsigned long i) const {
    if (i < 1 || i > NumElements()) return T();
    return FromWord(GetSelementAt(i));
  }
  /// Elements stored (NumElements()); 0 for an empty array.
  unsigned long Count() const { return NumElements(); }

 private:
  static void* ToWord(T v) {
    void* w = nullptr;
    std::memcpy(&w, &v, sizeof(T));
    return w;
  }
  static T FromWord(void* w) {
    T v;
    std::memcpy(&v, &w, sizeof(T));
    return v;
  }
};

#endif  // VXKERNEL_TEXT_TARRAY_H_
