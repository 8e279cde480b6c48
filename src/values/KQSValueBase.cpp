// The storage objects of the scalar types.
#include "vxkernel/values/KQSValueBase.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>

#include "base/debug_line.h"
#include "values/value_text_writer_internal.h"
#include "vxkernel/text/Swap.h"
#include "vxkernel/smallheap.h"
#include "vxkernel/text/str.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBytes.h"
#include "vxkernel/values/KQSValueDate.h"
#include "vxkernel/values/KQSValueString.h"

KQSValueBase::~KQSValueBase() = default;

long KQSValueBase::Length() const { return -1; }

int KQSValueBase::Compare(KQSValueBase* other) const {
  if (other == this) return 0;
  return reinterpret_cast<uintptr_t>(this) < reinterpret_cast<uintptr_t>(other) ? -1 : 1;
}

KQSValue KQSValueBase::Features() { return KQSValue(); }

bool KQSValueBase::IsFeature(const KQSValue& name) {
  KQSValue scratch;
  return Dot(name, scratch, nullptr) != -1;
}

long KQSValueBase::Dot(const KQSValue& /*name*/, KQSValue& /*out*/, KQSValue* /*env*/) { return -1; }
long KQSValueBase::DotValuePut(const KQSValue& /*name*/, const KQSValue& /*value*/) { return -1; }
long KQSValueBase::Subscript(long /*i*/, long /*j*/, KQSValue& /*out*/) { return -1; }
long KQSValueBase::SubscriptValuePut(long /*i*/, long /*j*/, const KQSValue& /*value*/) { return -1; }
long KQSValueBase::Invoke(short /*argc*/, KQSValue* /*argv*/, KQSValue& /*out*/) { return -1; }
bool KQSValueBase::Formatter(std::ostream& /*out*/, KQSClassFormatter* /*f*/) const { return false; }

KQSValue KQSValueBase::ReferenceDebugStr(short /*how*/) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%10lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
  return KQSValue(buf);
}

void KQSValueBase::DebugPrintCount() {
  vxk_internal::DebugText("Count = ", AllocCount(), "/", AllocTotal(), '\n');
}

// ----- String -----

KQSValueString* KQSValueString::Make(const char* p, unsigned n) {
  if (p == nullptr || n == 0) return new KQSValueString(KString());
  constexpr size_t kHost = (sizeof(KQSValueString) + 7) / 8 * 8;
  void* host = nullptr;
  KString::KStringRef* r = KString::KStringRef::CreateHosted(n, kHost, &host);
  std::memcpy(r->fText, p, n);
  r->fText[n] = '\0';
  return new (host) KQSValueString(KString::Sharing(r));
}

void KQSValueString::operator delete(KQSValueString* p, std::destroying_delete_t) {
  constexpr size_t kHost = (sizeof(KQSValueString) + 7) / 8 * 8;
  auto* hosted = reinterpret_cast<KString::KStringRef*>(reinterpret_cast<char*>(p) + kHost);
  // Only a block made by Make has its string's representation right behind
  // the object; any other representation lies in a block of its own.
  const bool packed = p->fString.Ref() == hosted;
  p->~KQSValueString();
  if (packed) {
    KString::ReleaseHost(hosted);
  } else {
    vxk::SmallFree(p, sizeof(KQSValueString));
  }
}

bool KQSValueString::Formatter(std::ostream& out, KQSClassFormatter* /*f*/) const {
  vxk_internal::TextSinkScope sink(out);
  vxk_internal::WriteQuotedText(*sink, fString, fString.Length());
  return true;
}

void KQSValueString::StringBinaryOutput(std::ostream& out, short type, ...) const {
  SwapWriteI2(out, type);
  SwapWriteStr(out, fString);
}

long KQSValueString::LengthInChars() const { return str_length_in_chars(fString); }

// ----- Bytes: the payload follows the object in one block -----

void* KQSValueBytes::operator new(size_t size, long length) {
  size_t extra = length > 0 ? static_cast<size_t>(length) : 0;
  void* p = std::malloc(size + extra);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void KQSValueBytes::operator delete(void* p, long /*length*/) { std::free(p); }

void KQSValueBytes::operator delete(void* p) { std::free(p); }

KQSValueBytes::KQSValueBytes(const void* bytes, long length) : fLength(length > 0 ? length : 0) {
  if (fLength == 0) return;
  if (bytes != nullptr) std::memcpy(fBytes, bytes, static_cast<size_t>(fLength));
  else std::memset(fBytes, 0, static_cast<size_t>(fLength));
}

// ----- Date -----

KQSValue KQSValueDate::ReferenceDebugStr(short /*how*/) { return KQSValue(); }
