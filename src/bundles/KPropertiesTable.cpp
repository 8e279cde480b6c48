// The sorted pair array behind KProperties.
#include <algorithm>

#include "bundles/properties_internal.h"
#include "vxkernel/text/str.h"

namespace {

// KStringKey::operator< on raw texts: the empty key first, then the
// library's case-sensitive order.
int CompareKeys(const char* a, const char* b) {
  if (*a == '\0') return *b == '\0' ? 0 : -1;
  if (*b == '\0') return 1;
  return str_DBCS_cmp(a, b, false);
}

}  // namespace

size_t KPropertiesTable::LowerBound(const char* key) const {
  size_t lo = 0;
  size_t hi = fPairs.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (CompareKeys(fPairs[mid].first, key) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

const KPropertiesTable::Pair* KPropertiesTable::Find(const char* key) const {
  const size_t i = LowerBound(key);
  if (i == fPairs.size() || !(fPairs[i].first == key)) return nullptr;
  return &fPairs[i];
}

void KPropertiesTable::Set(const char* key, const char* value, KStringKey* previous) {
  const size_t i = LowerBound(key);
  if (i < fPairs.size() && fPairs[i].first == key) {
    *previous = std::move(fPairs[i].second);
    fPairs[i].second = value;
    return;
  }
  *previous = KStringKey();
  fPairs.emplace(fPairs.begin() + static_cast<std::ptrdiff_t>(i), KStringKey(key), KStringKey(value));
}

bool KPropertiesTable::Remove(const char* key, KStringKey* removed) {
  const size_t i = LowerBound(key);
  if (i == fPairs.size() || !(fPairs[i].first == key)) return false;
  *removed = std::move(fPairs[i].second);
  fPairs.erase(fPairs.begin() + static_cast<std::ptrdiff_t>(i));
  return true;
}

void KPropertiesTable::Adopt(std::vector<Pair>&& pairs) {
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const Pair& a, const Pair& b) { return a.first < b.first; });
  // Of equal keys, the one read last wins.
  size_t out = 0;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (i + 1 < pairs.size() && !(pairs[i].first < pairs[i + 1].first)) continue;
    if (out != i) pairs[out] = std::move(pairs[i]);
    ++out;
  }
  pairs.resize(out);
  fPairs = std::move(pairs);
}
