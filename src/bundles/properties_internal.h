// The pieces of KProperties: its table and the properties-file codec.
#ifndef VXKERNEL_BUNDLES_PROPERTIES_INTERNAL_H_
#define VXKERNEL_BUNDLES_PROPERTIES_INTERNAL_H_

#include <iosfwd>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vxkernel/text/KStringKey.h"

// The pairs of one KProperties, unique keys, with lookups by hash and the
// ascending KStringKey order computed when first asked for after a change.
// Tables are loaded once and read many times: Load then costs one hash
// insertion per line instead of a sorted insertion, an exact lookup one
// probe instead of a walk over compared keys, and only Store and the key
// lists pay for the order. Keys are equal when their bytes are. Not
// synchronized: the owner locks, also around the const operations, which
// may build the order.
class KPropertiesTable {
 public:
  using Pair = std::pair<KStringKey, KStringKey>;

  // The pair of key, or null.
  const Pair* Find(const char* key) const;
  // Stores the pair; a present key keeps its place and takes the value,
  // whose previous text is moved into *previous (else *previous is empty).
  void Set(KStringKey&& key, KStringKey&& value, KStringKey* previous);
  // Removes key, moving its value into *removed; false when absent.
  bool Remove(const char* key, KStringKey* removed);
  size_t Count() const { return fPairs.size(); }
  // Calls visit(pair) for every pair in ascending key order.
  template <class F>
  void VisitInOrder(F&& visit) const {
    SortIfNeeded();
    for (uint32_t i : fOrder) visit(fPairs[i]);
  }

 private:
  struct Slot {
    uint32_t hash;
    uint32_t index;  // into fPairs, plus 1; 0 marks an empty slot
  };
  // The slot holding key, or the empty slot where it would go.
  Slot* Probe(std::string_view key, uint32_t hash) const;
  void Rehash(size_t capacity);
  void SortIfNeeded() const;

  std::vector<Pair> fPairs;              // in insertion order
  mutable std::vector<Slot> fSlots;      // open addressing, power of 2 size
  mutable std::vector<uint32_t> fOrder;  // fPairs indices in key order
  mutable bool fSorted = true;
};

namespace vxk_internal {

// Parses a properties stream into table (empty keys left out, later pairs
// replacing earlier ones). utf8 chooses how bytes and "\u" characters
// become text. Returns 0, 5 (malformed "\u") or 6 (a character above 0xFF
// without utf8), having written the debug lines of the failure.
long ParseProperties(std::istream& in, bool utf8, KPropertiesTable* table);

// Appends text escaped for a properties file (see KProperties::EscapeString).
void EscapeProperty(const char* text, bool isKey, bool utf8, std::string* out);

}  // namespace vxk_internal

#endif  // VXKERNEL_BUNDLES_PROPERTIES_INTERNAL_H_
