#include "vxkernel/runtime/KThreadGlobals.h"

#include "vxkernel/runtime/KContext.h"

KThreadGlobals::KThreadGlobals(Ring ring, short count)
    : KAtThread(ring), fUser1(0), fUser2(0), fUser3(0), fUser4(0) {
  // From the highest-numbered slot down, so User1 gets the last index.
  if (count >= 4) fUser4 = static_cast<uint32_t>(KContext::Alloc());
  if (count >= 3) fUser3 = static_cast<uint32_t>(KContext::Alloc());
  if (count >= 2) fUser2 = static_cast<uint32_t>(KContext::Alloc());
  if (count >= 1) fUser1 = static_cast<uint32_t>(KContext::Alloc());
}

KThreadGlobals::~KThreadGlobals() = default;

void KThreadGlobals::Startup() { Init(); }
void KThreadGlobals::Shutdown() { Cleanup(); }
void KThreadGlobals::Init() {}
void KThreadGlobals::Cleanup() {}

void* KThreadGlobals::User1() const { return KContext::Get(fUser1); }
void* KThreadGlobals::User2() const { return KContext::Get(fUser2); }
void* KThreadGlobals::User3() const { return KContext::Get(fUser3); }
void* KThreadGlobals::User4() const { return KContext::Get(fUser4); }
void KThreadGlobals::User1(void* value) const { KContext::Set(fUser1, value); }
void KThreadGlobals::User2(void* value) const { KContext::Set(fUser2, value); }
void KThreadGlobals::User3(void* value) const { KContext::Set(fUser3, value); }
void KThreadGlobals::User4(void* value) const { KContext::Set(fUser4, value); }
