// KString and its representation.
#include "vxkernel/text/KString.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <limits>
#include <new>
#include <ostream>

#include "base/check.h"
#include "base/small_heap_sizes.h"
#include "vxkernel/smallheap.h"
#include "text/text_settings.h"

namespace {

// The text of gEmptyRef: static, never written, never freed.
char gEmptyText[1] = {'\0'};

// Lengths are 32-bit; a text that cannot be described is as impossible to
// hold as one that cannot be allocated.
uint32_t CheckedLength(size_t n) {
  if (n > std::numeric_limits<uint32_t>::max() - 16u) throw std::bad_alloc();
  return static_cast<uint32_t>(n);
}

// Text buffers of capacity + 1 bytes. malloc rather than array new: an
// unshared string grows with realloc, which extends in place or remaps
// where it can instead of copying.
char* AllocateText(uint32_t capacity) {
  auto* text = static_cast<char*>(std::malloc(static_cast<size_t>(capacity) + 1));
  if (text == nullptr) throw std::bad_alloc();
  return text;
}

}  // namespace

static_assert(sizeof(KString::KStringRef) == sizeof(char*) + 16, "the flag lives in the padding");

// Constant-initialised, so strings built by other static constructors never
// see it unconstructed.
constinit KString::KStringRef KString::gEmptyRef(KString::KStringRef::EmptyTag{}, gEmptyText);

// ===== KStringRef =====

uint32_t KString::KStringRef::CapacityFor(uint32_t n) {
  uint64_t capacity;
  if (n < 16) {
    capacity = 32;
  } else if (n < 8160) {
    capacity = 2ull * n;
  } else {
    capacity = n + n / 3ull;
  }
  capacity |= 15;
  if (capacity > std::numeric_limits<uint32_t>::max()) capacity = std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(capacity);
}

KString::KStringRef* KString::KStringRef::Create(uint32_t n) {
  const uint32_t capacity = CapacityFor(n);
  // Host strings stay on operator new (its failures are theirs to see);
  // the blocks the values host go to the small-object heap, and KString::Free
  // gives either kind back through SmallFree, which tells them apart.
  void* block = ::operator new(sizeof(KStringRef) + static_cast<size_t>(capacity) + 1);
  return new (block) KStringRef(InlineTag{}, n, capacity, 0);
}

KString::KStringRef* KString::KStringRef::CreateHosted(uint32_t n, size_t hostSize, void** host) {
  if (hostSize % 8 != 0 || hostSize / 8 > 255) throw std::bad_alloc();
  // The host's text is read far more than it is appended to (while the host
  // lives it is never changed), so it gets no doubled room: only the bytes
  // the heap's block holds anyway.
  const size_t fixed = hostSize + sizeof(KStringRef) + 1;
  const size_t used = vxk_internal::SmallBlockSizeFor(fixed + n);
  const uint32_t capacity = static_cast<uint32_t>(std::min<size_t>(used - fixed, std::numeric_limits<uint32_t>::max()));
  char* block = static_cast<char*>(vxk::SmallAlloc(fixed + capacity));
  *host = block;
  return new (block + hostSize) KStringRef(InlineTag{}, n, capacity, static_cast<uint8_t>(hostSize / 8));
}

KString::KStringRef::KStringRef(char* p)
    : fText(p != nullptr ? p : new char[1]{'\0'}),
      fRefCount(1),
      fLength(CheckedLength(std::strlen(fText))),
      fCapacity(fLength),
      fAdopted(true),
      fPacked(false),
      fInline(false),
      fHostWords(0) {}

KString::KStringRef::KStringRef(unsigned n)
    : fText(AllocateText(CapacityFor(n))),
      fRefCount(1),
      fLength(n),
      fCapacity(CapacityFor(n)),
      fAdopted(false),
      fPacked(false),
      fInline(false),
      fHostWords(0) {}

KString::KStringRef::KStringRef(const char* p, unsigned n) : KStringRef(n) {
  std::memcpy(fText, p, n);
  fText[n] = '\0';
}

KString::KStringRef::~KStringRef() {
  if (this == &gEmptyRef || fInline) return;
  if (fAdopted) {
    delete[] fText;
  } else {
    std::free(fText);
  }
}

void KString::KStringRef::GrowTo(uint32_t n) {
  VXK_DCHECK(fRefCount == 1 && this != &gEmptyRef && n > fCapacity);
  const uint32_t capacity = CapacityFor(n);
  char* text;
  if (fAdopted || fInline) {
    // A string that grows is being built: its text moves out of the block
    // into a buffer of its own, which later growth reallocs. The block
    // stays where it is, so every pointer to the representation holds.
    text = AllocateText(capacity);
    std::memcpy(text, fText, static_cast<size_t>(fLength) + 1);
    if (fInline) {
      // Freeing the block needs its size, which fCapacity no longer gives:
      // it goes where the text was (at least 8 bytes of room).
      const uint32_t blockBytes = InlineBlockBytes();
      std::memcpy(reinterpret_cast<char*>(this) + sizeof(KStringRef), &blockBytes, sizeof blockBytes);
    }
    if (fAdopted) delete[] fText;
    fAdopted = false;
    fInline = false;
  } else {
    // On failure the old buffer is untouched, so the string stays valid.
    text = static_cast<char*>(std::realloc(fText, static_cast<size_t>(capacity) + 1));
    if (text == nullptr) throw std::bad_alloc();
  }
  fText = text;
  fCapacity = capacity;
}

// ===== KString =====

void KString::Free(KStringRef* r) noexcept {
  if (r->fPacked) {
    void* block = r->Block();
    uint32_t blockBytes = r->InlineBlockBytes();
    if (!r->fInline) std::memcpy(&blockBytes, reinterpret_cast<char*>(r) + sizeof(KStringRef), sizeof blockBytes);
    r->~KStringRef();
    vxk::SmallFree(block, blockBytes);
  } else {
    delete r;
  }
}

namespace {

KString::KStringRef* CopyOf(const char* p, uint32_t n) {
  KString::KStringRef* r = KString::KStringRef::Create(n);
  std::memcpy(r->fText, p, n);
  r->fText[n] = '\0';
  return r;
}

}  // namespace

KString::KString(const char* s) : fRef(&gEmptyRef) {
  if (s != nullptr && *s != '\0') fRef = CopyOf(s, CheckedLength(std::strlen(s)));
}

KString::KString(const char* p, unsigned n) : fRef(&gEmptyRef) {
  if (p != nullptr && n != 0) fRef = CopyOf(p, n);
}

KString& KString::operator=(const char* s) {
  // Built before the old one is dropped: s may point into our own text, and
  // a failed allocation leaves this string as it was.
  KString replacement(s);
  DropReference();
  fRef = replacement.fRef;
  replacement.fRef = &gEmptyRef;
  return *this;
}

KString KString::KStringFromPtr(char* p) {
  if (p == nullptr) return KString();
  if (*p == '\0') {
    delete[] p;
    return KString();
  }
  return KString(new KStringRef(p), AdoptTag{});
}

KString KString::operator+(const char* s) const {
  if (s == nullptr || *s == '\0') return *this;
  const size_t n = std::strlen(s);
  KString result(KStringRef::Create(CheckedLength(fRef->fLength + n)), AdoptTag{});
  std::memcpy(result.fRef->fText, fRef->fText, fRef->fLength);
  std::memcpy(result.fRef->fText + fRef->fLength, s, n + 1);
  return result;
}

KString KString::operator+(const KString& s) const {
  const uint32_t n = s.fRef->fLength;
  if (n == 0) return *this;
  KString result(KStringRef::Create(CheckedLength(static_cast<size_t>(fRef->fLength) + n)), AdoptTag{});
  std::memcpy(result.fRef->fText, fRef->fText, fRef->fLength);
  std::memcpy(result.fRef->fText + fRef->fLength, s.fRef->fText, n);
  result.fRef->fText[result.fRef->fLength] = '\0';
  return result;
}

KString& KString::AppendOutOfPlace(char c) {
  if (c == '\0') return *this;
  return AppendOutOfPlace(&c, 1);
}

KString& KString::AppendOutOfPlace(const char* p, size_t n) {
  if (n == 0) return *this;
  KStringRef* old = fRef;
  const uint32_t length = CheckedLength(old->fLength + n);
  if (old->fRefCount == 1 && old != &gEmptyRef) {
    // Unshared: only this string sees the buffer, so it grows where it is.
    // p may point into it and must follow it if realloc moves it.
    const auto start = reinterpret_cast<uintptr_t>(old->fText);
    const auto at = reinterpret_cast<uintptr_t>(p);
    const bool inside = at >= start && at <= start + old->fLength;
    old->GrowTo(length);
    if (inside) p = old->fText + (at - start);
    std::memmove(old->fText + old->fLength, p, n);
    old->fLength = length;
    old->fText[length] = '\0';
    return *this;
  }
  // Shared (or empty): a new representation. p may lie inside the old text,
  // which stays alive until both copies are made; if the allocation fails,
  // nothing has changed.
  KStringRef* r = KStringRef::Create(length);
  std::memcpy(r->fText, old->fText, old->fLength);
  std::memcpy(r->fText + old->fLength, p, n);
  r->fText[length] = '\0';
  DropReference();
  fRef = r;
  return *this;
}

namespace {

template <int (*Map)(int)>
KString::KStringRef* MappedCopy(const KString::KStringRef* src) {
  KString::KStringRef* r = CopyOf(src->fText, src->fLength);
  for (unsigned char* p = reinterpret_cast<unsigned char*>(r->fText); *p != 0; ++p) {
    *p = static_cast<unsigned char>(Map(*p));
  }
  return r;
}

int ToLower(int c) { return std::tolower(c); }
int ToUpper(int c) { return std::toupper(c); }

}  // namespace

KString KString::Lower() const {
  if (fRef->fLength == 0) return KString();
  return KString(MappedCopy<ToLower>(fRef), AdoptTag{});
}

KString KString::Upper() const {
  if (fRef->fLength == 0) return KString();
  return KString(MappedCopy<ToUpper>(fRef), AdoptTag{});
}

int KString::CompareTexts(const char* a, const char* b) {
  if (a == nullptr || b == nullptr ||
      vxk_internal::CurrentTextMode() == vxk_internal::TextMode::kDoubleByte) {
    return str_DBCS_cmp(a, b, false);
  }
  // strcmp orders by unsigned bytes, as str_DBCS_cmp does in these modes;
  // left as a tail call.
  return std::strcmp(a, b);
}

std::ostream& operator<<(std::ostream& os, const KString& s) {
  return os << static_cast<const char*>(s);
}
