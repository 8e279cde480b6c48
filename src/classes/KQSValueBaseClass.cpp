// KQSValueBaseClass: counting and forwarding to the storage objects.
#include "vxkernel/classes/KQSValueBaseClass.h"

#include <cstdint>
#include <ostream>

#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/values/KQSValue.h"

KQSValueBaseClass::KQSValueBaseClass(const char* name, short number) : KQSClassPointer(name, number) {
  fCountsStorage = true;
}

namespace {

// Storage waiting to be deleted on this thread, linked through the count
// field, which a storage without references no longer needs. Storage is
// deleted at once, recursively, while fewer than kDirectLevels deletions are
// open on this thread (the common case keeps the order and locality of a
// plain recursive free); deeper storage waits in the queue, which the
// outermost deletion drains, so any depth frees in bounded stack. Compiler
// thread-local storage: values are freed on any thread, including threads
// that never ran the thread ring and so have no KContext; trivial, so it
// needs no guard and is never destroyed.
struct DestroyQueue {
  KQSValueBase* fFirst = nullptr;
  int fOpen = 0;
};
thread_local constinit DestroyQueue gDestroyQueue;
constexpr int kDirectLevels = 64;

}  // namespace

void KQSValueBaseClass::Destroy(KQSValueBase* s) {
  DestroyQueue& q = gDestroyQueue;
  if (q.fOpen >= kDirectLevels) {
    s->fReferences = reinterpret_cast<intptr_t>(q.fFirst);
    q.fFirst = s;
    return;
  }
  ++q.fOpen;
  delete s;
  if (q.fOpen == 1) {
    while (KQSValueBase* next = q.fFirst) {
      q.fFirst = reinterpret_cast<KQSValueBase*>(next->fReferences);
      next->fReferences = 0;
      delete next;
    }
  }
  --q.fOpen;
}

long KQSValueBaseClass::Length(void* data) const { return data != nullptr ? Storage(data)->Length() : 0; }

int KQSValueBaseClass::Compare(void* a, void* b, bool /*ignoreCase*/) const {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  return Storage(a)->Compare(Storage(b));
}

int KQSValueBaseClass::Equal(void* a, void* b) const { return Compare(a, b, false) == 0 ? 1 : 0; }

KQSValue KQSValueBaseClass::Features(void* data) {
  return data != nullptr ? Storage(data)->Features() : KQSValue();
}

bool KQSValueBaseClass::IsFeature(void* data, const KQSValue& name) const {
  return data != nullptr && Storage(data)->IsFeature(name);
}

KQSValue KQSValueBaseClass::TranslateName(const KQSValue& name) const {
  // The storage sees an attribute by its position, so it need not know the
  // class's names; everything else is its own business.
  if (!HasAttributes() || !name.IsString()) return name;
  const KQSClass_Attribute* a = FindAttribute(name.String());
  return a != nullptr ? KQSValue(a->SlotIndex()) : name;
}

long KQSValueBaseClass::Dot(void* data, const KQSValue& name, KQSValue& out, KQSValue* env) const {
  if (data == nullptr) return -1;
  return Storage(data)->Dot(TranslateName(name), out, env);
}

long KQSValueBaseClass::DotInvoke(void* data, const KQSValue& name, long /*argc*/, KQSValue* /*argv*/,
                                  KQSValue& out, KQSValue* env) const {
  if (data == nullptr) return -1;
  KQSValue receiver;
  long r = Storage(data)->Dot(TranslateName(name), out, &receiver);
  if (r == 0 && out.CanInvoke()) {
    // The caller invokes out itself with the arguments.
    if (env != nullptr) *env = receiver;
    return -2;
  }
  return r;
}

long KQSValueBaseClass::DotValuePut(void* data, const KQSValue& name, const KQSValue& value) const {
  if (data == nullptr) return -1;
  return Storage(data)->DotValuePut(TranslateName(name), value);
}

long KQSValueBaseClass::Subscript(void* data, long i, long j, KQSValue& out) const {
  return data != nullptr ? Storage(data)->Subscript(i, j, out) : -1;
}

long KQSValueBaseClass::SubscriptValuePut(void* data, long i, long j, const KQSValue& value) const {
  return data != nullptr ? Storage(data)->SubscriptValuePut(i, j, value) : -1;
}

long KQSValueBaseClass::Invoke(void* data, long argc, KQSValue* argv, KQSValue& out) const {
  return data != nullptr ? Storage(data)->Invoke(static_cast<short>(argc), argv, out) : -1;
}

std::ostream& KQSValueBaseClass::FormattedOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  if (data == nullptr) return out << "|NULL baseval|";
  if (!Storage(data)->Formatter(out, f)) {
    out << "U<" << ClassName() << "(" << ClassNumber() << ")=" << data << ">";
  }
  return out;
}
