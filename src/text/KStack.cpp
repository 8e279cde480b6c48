// KStack.
#include "vxkernel/text/KStack.h"

void* KStack::Pop() {
  const unsigned long top = NumElements();
  if (top == 0) return nullptr;
  void* v = GetSelementAt(top);
  DeleteElementAt(top);
  return v;
}

bool KStack::PopElement(void* dest) {
  const unsigned long top = NumElements();
  if (top == 0 || !GetElementAt(dest, top)) return false;
  DeleteElementAt(top);
  return true;
}

bool KStack::TopOfStackElement(void* dest) const {
  const unsigned long top = NumElements();
  return top != 0 && GetElementAt(dest, top);
}
