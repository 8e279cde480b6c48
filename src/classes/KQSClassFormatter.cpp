// KQSClassFormatter: the stack of values a formatting pass is inside.
#include "vxkernel/classes/KQSClassFormatter.h"

#include <memory>

#include "vxkernel/values/KQSValue.h"

KQSClassFormatter::~KQSClassFormatter() {
  while (!fStack.IsEmpty()) Pop();
}

void KQSClassFormatter::Push(const KQSValue& v) {
  auto entry = std::make_unique<KQSValue>(v);  // owned here until the stack holds it
  fStack.Push(entry.get());
  entry.release();
}

void KQSClassFormatter::Pop() {
  if (fStack.IsEmpty()) return;
  delete static_cast<KQSValue*>(fStack.Pop());
}

long KQSClassFormatter::Lookup(const KQSValue& v) const {
  for (unsigned long i = fStack.NumElements(); i >= 1; --i) {
    const auto* entry = static_cast<const KQSValue*>(fStack.GetSelementAt(i));
    if (entry->Class() == v.Class() && entry->Instance() == v.Instance()) return static_cast<long>(i);
  }
  return 0;
}
