// The pieces of KProperties: its table and the properties-file codec.
#ifndef VXKERNEL_BUNDLES_PROPERTIES_INTERNAL_H_
#define VXKERNEL_BUNDLES_PROPERTIES_INTERNAL_H_

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "vxkernel/text/KStringKey.h"

// The pairs of one KProperties in ascending KStringKey order, unique keys.
// A sorted array rather than a tree: tables are loaded once and read many
// times, and binary search over one block beats a pointer walk; Load sorts
// once instead of inserting line by line. Not synchronized: the owner locks.
class KPropertiesTable {
 public:
  using Pair = std::pair<KStringKey, KStringKey>;

  // The pair of key, or null.
  const Pair* Find(const char* key) const;
  // Replaces the value of key, or inserts the pair; the previous value (or
  // the empty key) is moved into *previous.
  void Set(const char* key, const char* value, KStringKey* previous);
  // Removes key; false when absent.
  bool Remove(const char* key, KStringKey* removed);
  // Takes pairs in file order, sorts them and keeps the last of equal keys.
  void Adopt(std::vector<Pair>&& pairs);

  const std::vector<Pair>& Pairs() const { return fPairs; }

 private:
  // Index of the first pair whose key is not below key.
  size_t LowerBound(const char* key) const;
  std::vector<Pair> fPairs;
};

namespace vxk_internal {

// Parses a properties stream into pairs in file order (empty keys left
// out). utf8 chooses how bytes and "\u" characters become text. Returns 0,
// 5 (malformed "\u") or 6 (a character above 0xFF without utf8), having
// written the debug lines of the failure.
long ParseProperties(std::istream& in, bool utf8, std::vector<KPropertiesTable::Pair>* pairs);

// Appends text escaped for a properties file (see KProperties::EscapeString).
void EscapeProperty(const char* text, bool isKey, bool utf8, std::string* out);

}  // namespace vxk_internal

#endif  // VXKERNEL_BUNDLES_PROPERTIES_INTERNAL_H_
