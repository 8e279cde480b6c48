// FeatureHash: the one-probe name table of a feature table.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "classes/classes_internal.h"

namespace vxk_internal {

namespace {

constexpr uint32_t kSeed = 2166136261u;
constexpr uint32_t kPrime = 16777619u;

// One step of the hash: the byte with its case bit set, so that a byte and
// its ASCII upper-case form hash alike.
inline uint32_t Step(uint32_t h, unsigned char c) { return (h ^ (c | 0x20u)) * kPrime; }

// Spreads the FNV hash's low bits, which index the table.
inline uint32_t Finish(uint32_t h) { return h ^ (h >> 15); }

uint32_t KeyHash(const char* key, bool* ascii) {
  uint32_t h = kSeed;
  unsigned char any = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p != 0; ++p) {
    h = Step(h, *p);
    any |= *p;
  }
  *ascii = (any & 0x80) == 0;
  return Finish(h);
}

// Whether key (upper-cased, all ASCII) equals the probe upper-cased byte by
// byte with toupper, as the index's key comparison would find. An ASCII
// byte folds only to itself or to the byte that differs in the case bit.
bool KeyMatches(const char* key, const char* probe) {
  for (;; ++key, ++probe) {
    const unsigned char k = static_cast<unsigned char>(*key);
    const unsigned char p = static_cast<unsigned char>(*probe);
    if (k == p) {
      if (k == 0) return true;
      continue;
    }
    if ((k ^ p) != 0x20 || std::toupper(p) != k) return false;
  }
}

}  // namespace

FeatureHash::~FeatureHash() {
  for (size_t i = 0; i < fCapacity; ++i) std::free(fEntries[i].key);
  std::free(fEntries);
}

bool FeatureHash::Find(const char* name, KQSClass_Slot** slot) const {
  *slot = nullptr;
  if (fNonAscii != 0 || fPoisoned) return false;
  bool ascii = true;
  const uint32_t h = KeyHash(name, &ascii);
  if (!ascii) return false;
  if (fCapacity == 0) return true;
  const size_t mask = fCapacity - 1;
  for (size_t i = h & mask;; i = (i + 1) & mask) {
    const Entry& e = fEntries[i];
    if (e.key == nullptr) return true;
    if (e.hash == h && KeyMatches(e.key, name)) {
      *slot = e.slot;
      return true;
    }
  }
}

// The place of key, or the free place where it would go.
size_t FeatureHash::KeyPlace(const char* key, uint32_t hash) const {
  const size_t mask = fCapacity - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Entry& e = fEntries[i];
    if (e.key == nullptr || (e.hash == hash && std::strcmp(e.key, key) == 0)) return i;
  }
}

bool FeatureHash::Grow() {
  const size_t capacity = fCapacity == 0 ? 16 : fCapacity * 2;
  auto* grown = static_cast<Entry*>(std::calloc(capacity, sizeof(Entry)));  // all places free
  if (grown == nullptr) return false;
  Entry* const old = fEntries;
  const size_t oldCapacity = fCapacity;
  fEntries = grown;
  fCapacity = capacity;
  for (size_t i = 0; i < oldCapacity; ++i) {
    if (old[i].key != nullptr) fEntries[KeyPlace(old[i].key, old[i].hash)] = old[i];
  }
  std::free(old);
  return true;
}

bool FeatureHash::Put(const char* key, KQSClass_Slot* slot) {
  if ((fCount + 1) * 2 > fCapacity && !Grow()) return false;
  bool ascii = true;
  const uint32_t h = KeyHash(key, &ascii);
  Entry& e = fEntries[KeyPlace(key, h)];
  if (e.key == nullptr) {
    char* copy = CopyText(key);
    if (copy == nullptr) return false;
    e = Entry{copy, slot, h};
    ++fCount;
    if (!ascii) ++fNonAscii;
  } else {
    e.slot = slot;
  }
  return true;
}

// Removes by shifting later entries of the run back, so that no free
// place is left inside a run (no tombstones).
void FeatureHash::Erase(const char* key) {
  if (fCapacity == 0) return;
  bool ascii = true;
  const uint32_t h = KeyHash(key, &ascii);
  size_t i = KeyPlace(key, h);
  if (fEntries[i].key == nullptr) return;
  std::free(fEntries[i].key);
  --fCount;
  if (!ascii) --fNonAscii;
  const size_t mask = fCapacity - 1;
  for (size_t j = (i + 1) & mask; fEntries[j].key != nullptr; j = (j + 1) & mask) {
    const size_t home = fEntries[j].hash & mask;
    // Entry j may move to i when its home is not in the cyclic range (i, j].
    if (((j - home) & mask) >= ((j - i) & mask)) {
      fEntries[i] = fEntries[j];
      i = j;
    }
  }
  fEntries[i] = Entry{nullptr, nullptr, 0};
}

}  // namespace vxk_internal
