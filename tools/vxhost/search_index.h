// The server's full-text index: the words of each document (name, note,
// title, text) in one inverted index in memory. Words are folded for
// matching: ASCII, Latin-1 and Latin Extended-A letters to lower case;
// other letters are kept as they are. A query matches a document when
// every query word is the start of one of its words.
#ifndef VXKERNEL_TOOLS_VXHOST_SEARCH_INDEX_H_
#define VXKERNEL_TOOLS_VXHOST_SEARCH_INDEX_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace serve {

constexpr size_t kMaxWordBytes = 64;    // longer words are indexed and sought by their start
constexpr size_t kMaxQueryBytes = 256;  // of a query's text; the rest is not read
constexpr size_t kMaxQueryWords = 8;    // words of a query; later ones are dropped

// The folded words of text, in order, duplicates kept. Letters and digits
// make words; ASCII punctuation, Latin-1 signs and general punctuation
// (U+2000..U+206F) and bytes that are not UTF-8 separate them.
std::vector<std::string> SearchWords(std::string_view text);
// The distinct folded words of a query, at most kMaxQueryWords of its
// first kMaxQueryBytes bytes.
std::vector<std::string> QueryWords(std::string_view query);

// Thread rule: none; the owner locks.
class SearchIndex {
 public:
  // Sets the words of key (replacing those it had) to those of text.
  void Put(const std::string& key, std::string_view text);
  void Remove(const std::string& key);
  // The keys of the documents matching every word (prefixes of their
  // words), in no order; every document when words is empty.
  std::vector<std::string> Match(const std::vector<std::string>& words) const;
  size_t Size() const { return fIds.size(); }

 private:
  using Id = uint32_t;
  std::map<std::string, std::vector<Id>, std::less<>> fPostings;  // word -> documents having it, no order
  std::unordered_map<std::string, Id> fIds;
  std::vector<std::string> fKeys;                // by id; "" for a free id
  std::vector<std::vector<std::string>> fWords;  // by id: its distinct words, for Remove
  std::vector<Id> fFree;
  mutable std::vector<uint8_t> fMarks;  // Match's scratch, one per id
};

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SEARCH_INDEX_H_
