/// \file
/// A last-in, first-out stack on a KArray.
#ifndef VXKERNEL_TEXT_KSTACK_H_
#define VXKERNEL_TEXT_KSTACK_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KArray.h"

/// A KArray used from its end: the top of the stack is the last element.
/// Owns its element block as a KArray does; pushed pointers are not owned.
/// Not synchronized: callers lock.
class VXKERNEL_EXPORT KStack : public KArray {
 public:
  KStack() = default;
  /// A stack of elements of elementSize bytes (see KArray(long)).
  explicit KStack(long elementSize) : KArray(elementSize) {}

  /// Pushes the pointer-sized value v; false (one debug line) when full.
  bool Push(void* v) { return AddSelement(v); }
  /// Pushes a copy of the ElementSize() bytes at p; false when p is null or
  /// the stack is full.
  bool PushElement(const void* p) { return AddElement(p); }
  /// The top value, removed; null when the stack is empty.
  void* Pop();
  /// Copies the top element to dest and removes it; false when empty.
  bool PopElement(void* dest);
  /// The top value, left in place; null when empty.
  void* TopOfStack() const { return LastSelement(); }
  /// Copies the top element to dest; false when empty.
  bool TopOfStackElement(void* dest) const;
};

#endif  // VXKERNEL_TEXT_KSTACK_H_
