// Private helpers shared by the class sources.
#ifndef VXKERNEL_CLASSES_CLASSES_INTERNAL_H_
#define VXKERNEL_CLASSES_CLASSES_INTERNAL_H_

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

class KQSClass_Slot;

namespace vxk_internal {

// Status codes of feature dispatch.
constexpr long kFeatureNotFound = 0x26AD000F;
constexpr long kFeatureWrongArgCount = 0x26AD0017;
constexpr long kFeatureWrongArgType = 0x26AD0018;
constexpr long kFeatureNoFunctor = 0x26AD0033;
constexpr long kFeatureAutoUndefined = 0x26AD003A;

// Feature names are shorter than this; a feature table has at most this
// many positions, so that an index read from a damaged class image cannot
// make a table of gigabytes.
constexpr size_t kMaxFeatureName = 32767;
constexpr long kMaxSlots = 32767;

// A malloc'd, NUL-terminated copy (names of classes, slots and types are
// freed with free()); null for null text or when memory runs out.
inline char* CopyText(std::string_view s) {
  char* p = static_cast<char*>(std::malloc(s.size() + 1));
  if (p == nullptr) return nullptr;
  std::memcpy(p, s.data(), s.size());
  p[s.size()] = '\0';
  return p;
}
inline char* CopyText(const char* s) { return s != nullptr ? CopyText(std::string_view(s)) : nullptr; }

// Whether two names are equal once each byte is folded through toupper,
// which is what equal upper-cased name keys mean. toupper is asked only
// about bytes that might fold together: two ASCII bytes that differ in
// more than the case bit never do, in any locale.
inline bool SameFolded(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char x = static_cast<unsigned char>(*a);
    const unsigned char y = static_cast<unsigned char>(*b);
    if (x == y) {
      if (x == 0) return true;
      continue;
    }
    if (((x | y) & 0x80) == 0 && (x | 0x20) != (y | 0x20)) return false;
    if (std::toupper(x) != std::toupper(y)) return false;
  }
}

// The name index of one feature table again, as an open-addressing table
// (linear probing) for a lookup in one probe: upper-cased name -> slot,
// holding exactly the pairs of the table's T23Tree index (the owner puts
// and erases alongside it, with the same upper-cased keys and the same
// byte equality), so a hit is the index's answer. The hash clears the case
// bit of each byte, so a probe can be hashed without upper-casing it.
// Keys with bytes above 0x7F are kept but not answered for: such a byte
// may fold together with an ASCII byte in some locales, so a table holding
// one, and a probe containing one, are left to the index. Owned by its
// feature table; read by any thread once the class is built, changed only
// while the class is built.
class FeatureHash {
 public:
  FeatureHash() = default;
  FeatureHash(const FeatureHash&) = delete;
  FeatureHash& operator=(const FeatureHash&) = delete;
  ~FeatureHash();

  // Sets *slot to the slot the name leads to (null for none); false when
  // the table or the probe has a byte above 0x7F and the index must answer.
  bool Find(const char* name, KQSClass_Slot** slot) const;
  // Makes the upper-cased key lead to slot; false when memory runs out.
  bool Put(const char* key, KQSClass_Slot* slot);
  void Erase(const char* key);
  // Stops Find from answering: the hash lacks a pair the index has.
  void Poison() { fPoisoned = true; }

 private:
  struct Entry {
    char* key;  // malloc'd; null for a free place
    KQSClass_Slot* slot;
    uint32_t hash;
  };
  size_t KeyPlace(const char* key, uint32_t hash) const;
  bool Grow();

  // malloc'd (a power of two in size, at most half used), like the keys:
  // running out of memory here only stops the hash from answering.
  Entry* fEntries = nullptr;
  size_t fCapacity = 0;
  size_t fCount = 0;
  size_t fNonAscii = 0;  // keys with a byte above 0x7F
  bool fPoisoned = false;
};

}  // namespace vxk_internal

#endif  // VXKERNEL_CLASSES_CLASSES_INTERNAL_H_
