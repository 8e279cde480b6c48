// The hashed pair table behind KProperties.
#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

#include "bundles/properties_internal.h"

namespace {

uint32_t HashOf(std::string_view key) { return static_cast<uint32_t>(std::hash<std::string_view>{}(key)); }

std::string_view View(const KStringKey& k) { return std::string_view(k, k.Length()); }

}  // namespace

KPropertiesTable::Slot* KPropertiesTable::Probe(std::string_view key, uint32_t hash) const {
  const size_t mask = fSlots.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& s = fSlots[i];
    if (s.index == 0 || (s.hash == hash && View(fPairs[s.index - 1].first) == key)) return &s;
  }
}

void KPropertiesTable::Rehash(size_t capacity) {
  fSlots.assign(capacity, Slot{0, 0});
  for (size_t i = 0; i < fPairs.size(); ++i) {
    const std::string_view key = View(fPairs[i].first);
    const uint32_t hash = HashOf(key);
    *Probe(key, hash) = Slot{hash, static_cast<uint32_t>(i + 1)};
  }
}

const KPropertiesTable::Pair* KPropertiesTable::Find(const char* key) const {
  if (fPairs.empty()) return nullptr;
  const std::string_view k(key);
  const Slot* s = Probe(k, HashOf(k));
  return s->index != 0 ? &fPairs[s->index - 1] : nullptr;
}

void KPropertiesTable::Set(KStringKey&& key, KStringKey&& value, KStringKey* previous) {
  // At most half the slots in use keeps probe runs short.
  if (2 * (fPairs.size() + 1) > fSlots.size()) Rehash(std::bit_ceil(std::max<size_t>(16, 4 * (fPairs.size() + 1))));
  const std::string_view k = View(key);
  const uint32_t hash = HashOf(k);
  Slot* s = Probe(k, hash);
  if (s->index != 0) {
    *previous = std::exchange(fPairs[s->index - 1].second, std::move(value));
    return;
  }
  *previous = KStringKey();
  fPairs.emplace_back(std::move(key), std::move(value));
  *s = Slot{hash, static_cast<uint32_t>(fPairs.size())};
  fSorted = false;
}

bool KPropertiesTable::Remove(const char* key, KStringKey* removed) {
  if (fPairs.empty()) return false;
  const std::string_view k(key);
  const Slot* s = Probe(k, HashOf(k));
  if (s->index == 0) return false;
  const size_t i = s->index - 1;
  *removed = std::move(fPairs[i].second);
  // The last pair fills the hole; open addressing without tombstones is
  // simplest rebuilt, and removals are rare next to lookups.
  if (i + 1 != fPairs.size()) fPairs[i] = std::move(fPairs.back());
  fPairs.pop_back();
  Rehash(fSlots.size());
  fSorted = false;
  return true;
}

void KPropertiesTable::SortIfNeeded() const {
  if (fSorted && fOrder.size() == fPairs.size()) return;
  fOrder.resize(fPairs.size());
  for (uint32_t i = 0; i < fOrder.size(); ++i) fOrder[i] = i;
  std::sort(fOrder.begin(), fOrder.end(), [this](uint32_t a, uint32_t b) { return fPairs[a].first < fPairs[b].first; });
  fSorted = true;
}
