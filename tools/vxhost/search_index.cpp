// The inverted index. Postings are unordered lists of small ids (ids of
// removed documents are reused), so adding a document appends and a query
// marks: for query word i, a document whose mark is i (it matched every
// word before) and that has a word starting with it gets mark i + 1.
#include "search_index.h"

#include <algorithm>

namespace serve {

namespace {

// The next code point of text at *at, advancing *at; -1 for a byte that
// does not start a well-formed UTF-8 sequence (it is skipped alone).
long NextCodePoint(std::string_view text, size_t* at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char b = byte(*at);
  int extra = b < 0x80 ? 0 : (b & 0xe0) == 0xc0 ? 1 : (b & 0xf0) == 0xe0 ? 2 : (b & 0xf8) == 0xf0 ? 3 : -1;
  if (extra < 0 || *at + static_cast<size_t>(extra) >= text.size()) {
    ++*at;
    return -1;
  }
  long cp = extra == 0 ? b : b & (0x3f >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char c = byte(*at + static_cast<size_t>(k));
    if ((c & 0xc0) != 0x80) {
      ++*at;
      return -1;
    }
    cp = (cp << 6) | (c & 0x3f);
  }
  static const long kLeast[] = {0, 0x80, 0x800, 0x10000};
  *at += static_cast<size_t>(extra) + 1;
  if (cp < kLeast[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return -1;
  return cp;
}

bool InWord(long cp) {
  if (cp < 0x80) return (cp >= '0' && cp <= '9') || (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
  if (cp < 0xc0 || cp == 0xd7 || cp == 0xf7) return false;  // C1 controls and Latin-1 signs
  return cp < 0x2000 || cp > 0x206f;
}

long Fold(long cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 32;
  if (cp >= 0xc0 && cp <= 0xde && cp != 0xd7) return cp + 32;
  // Latin Extended-A pairs capital, small: even first, except in the two
  // runs that start on an odd code point; U+0130..0131 (dotted and dotless
  // i) are no such pair.
  bool oddFirst = (cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17e);
  if (cp >= 0x100 && cp <= 0x177 && !oddFirst && cp != 0x130 && cp % 2 == 0) return cp + 1;
  if (oddFirst && cp % 2 == 1) return cp + 1;
  if (cp == 0x178) return 0xff;
  return cp;
}

void AppendUtf8(long cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xc0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3f));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xe0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    *out += static_cast<char>(0x80 | (cp & 0x3f));
  } else {
    *out += static_cast<char>(0xf0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    *out += static_cast<char>(0x80 | (cp & 0x3f));
  }
}

}  // namespace

std::vector<std::string> SearchWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool full = false;  // the word reached kMaxWordBytes: the rest of it is dropped
  for (size_t at = 0; at <= text.size();) {
    long cp = at < text.size() ? NextCodePoint(text, &at) : (++at, -1);
    if (cp >= 0 && InWord(cp)) {
      std::string folded;
      AppendUtf8(Fold(cp), &folded);
      full = full || word.size() + folded.size() > kMaxWordBytes;
      if (!full) word += folded;
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
      full = false;
    }
  }
  return words;
}

std::vector<std::string> QueryWords(std::string_view query) {
  std::vector<std::string> words = SearchWords(query.substr(0, kMaxQueryBytes));
  std::vector<std::string> distinct;
  for (std::string& w : words)
    if (distinct.size() < kMaxQueryWords && std::find(distinct.begin(), distinct.end(), w) == distinct.end())
      distinct.push_back(std::move(w));
  return distinct;
}

void SearchIndex::Put(const std::string& key, std::string_view text) {
  Remove(key);
  Id id;
  if (!fFree.empty()) {
    id = fFree.back();
    fFree.pop_back();
  } else {
    id = static_cast<Id>(fKeys.size());
    fKeys.emplace_back();
    fWords.emplace_back();
  }
  fIds[key] = id;
  fKeys[id] = key;
  std::vector<std::string> words = SearchWords(text);
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  for (const std::string& w : words) fPostings[w].push_back(id);
  fWords[id] = std::move(words);
}

void SearchIndex::Remove(const std::string& key) {
  auto found = fIds.find(key);
  if (found == fIds.end()) return;
  Id id = found->second;
  for (const std::string& w : fWords[id]) {
    auto it = fPostings.find(w);
    std::vector<Id>& ids = it->second;
    *std::find(ids.begin(), ids.end(), id) = ids.back();
    ids.pop_back();
    if (ids.empty()) fPostings.erase(it);
  }
  fWords[id].clear();
  fWords[id].shrink_to_fit();
  fKeys[id].clear();
  fFree.push_back(id);
  fIds.erase(found);
}

std::vector<std::string> SearchIndex::Match(const std::vector<std::string>& words) const {
  std::vector<std::string> keys;
  if (words.empty()) {
    for (const auto& kv : fIds) keys.push_back(kv.first);
    return keys;
  }
  // Marks count up to kMaxQueryWords; a longer list cannot come from QueryWords.
  size_t n = std::min(words.size(), size_t{255});
  fMarks.assign(fKeys.size(), 0);
  for (size_t i = 0; i < n; ++i) {
    const std::string& w = words[i];
    for (auto it = fPostings.lower_bound(w); it != fPostings.end() && it->first.compare(0, w.size(), w) == 0; ++it)
      for (Id id : it->second)
        if (fMarks[id] == i) fMarks[id] = static_cast<uint8_t>(i + 1);
  }
  for (Id id = 0; id < fMarks.size(); ++id)
    if (fMarks[id] == n) keys.push_back(fKeys[id]);
  return keys;
}

}  // namespace serve
