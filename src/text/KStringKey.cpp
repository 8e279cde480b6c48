// KStringKey: owning map keys.
#include "vxkernel/text/KStringKey.h"

#include <cctype>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>

#include "vxkernel/text/KString.h"
#include "vxkernel/text/str.h"

namespace {

uint32_t LengthOf(const char* s) {
  if (s == nullptr) return 0;
  const size_t n = std::strlen(s);
  if (n >= std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
  return static_cast<uint32_t>(n);
}

// A buffer of length + 1 bytes holding s up to its NUL; the rest zero, so a
// source with embedded NULs leaves no uninitialised bytes behind.
char* CopyText(const char* s, uint32_t length) {
  if (length == 0) return nullptr;
  char* text = new char[static_cast<size_t>(length) + 1]();
  const void* nul = std::memchr(s, '\0', length);
  const size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - s) : length;
  std::memcpy(text, s, n);
  return text;
}

}  // namespace

KStringKey::KStringKey(const char* s) : fText(nullptr), fLength(LengthOf(s)) {
  fText = CopyText(s, fLength);
}

KStringKey::KStringKey(const KString& s) : fText(CopyText(s, s.Length())), fLength(s.Length()) {}

KStringKey::KStringKey(const KStringKey& other)
    : fText(CopyText(other.fText, other.fLength)), fLength(other.fLength) {}

KStringKey::~KStringKey() { delete[] fText; }

void KStringKey::Assign(const char* s, uint32_t length) {
  // Copy first: s may point into our own text, and a failed allocation
  // leaves the key unchanged.
  char* text = CopyText(s, length);
  delete[] fText;
  fText = text;
  fLength = text != nullptr ? length : 0;
}

KStringKey& KStringKey::operator=(const char* s) {
  Assign(s, LengthOf(s));
  return *this;
}

KStringKey& KStringKey::operator=(const KStringKey& other) {
  if (this != &other) Assign(other.fText, other.fLength);
  return *this;
}

KStringKey& KStringKey::operator=(KStringKey&& other) noexcept {
  if (this != &other) {
    delete[] fText;
    fText = other.fText;
    fLength = other.fLength;
    other.fText = nullptr;
    other.fLength = 0;
  }
  return *this;
}

bool KStringKey::operator==(const KStringKey& other) const {
  if (fLength != other.fLength) return false;
  return fLength == 0 || str_DBCS_cmp(fText, other.fText, false) == 0;
}

bool KStringKey::operator==(const char* s) const {
  if (fLength != LengthOf(s)) return false;
  return fLength == 0 || str_DBCS_cmp(fText, s, false) == 0;
}

bool KStringKey::operator<(const KStringKey& other) const {
  if (fLength == 0) return other.fLength != 0;
  if (other.fLength == 0) return false;
  return str_DBCS_cmp(fText, other.fText, false) < 0;
}

void KStringKey::Upper() {
  if (fText == nullptr) return;
  for (unsigned char* p = reinterpret_cast<unsigned char*>(fText); *p != 0; ++p) {
    *p = static_cast<unsigned char>(std::toupper(*p));
  }
}

void KStringKey::Lower() {
  if (fText == nullptr) return;
  for (unsigned char* p = reinterpret_cast<unsigned char*>(fText); *p != 0; ++p) {
    *p = static_cast<unsigned char>(std::tolower(*p));
  }
}

std::ostream& operator<<(std::ostream& os, const KStringKey& key) {
  if (key.Length() != 0) os << static_cast<const char*>(key);
  return os;
}
