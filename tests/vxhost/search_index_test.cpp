// The full-text index: its word rules as a table, and its answers against
// a brute-force model (every document's words scanned) under random puts,
// removes and queries.
#include "search_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using serve::SearchWords;

TEST(SearchIndex, Words) {
  const struct {
    const char* text;
    std::vector<std::string> words;
  } cases[] = {
      {"Hello, World-42!", {"hello", "world", "42"}},
      {"\xc3\x84PFEL Stra\xc3\x9f" "e", {"\xc3\xa4pfel", "stra\xc3\x9f" "e"}},                  // Latin-1 folds
      {"\xc5\x81\xc3\x93" "D\xc5\xb9", {"\xc5\x82\xc3\xb3" "d\xc5\xba"}},                         // Extended-A, odd runs
      {"\xc4\x8c\xc5\xb8", {"\xc4\x8d\xc3\xbf"}},                                                // even pairs, Y diaeresis
      {"\xc4\xb0stanbul", {"\xc4\xb0stanbul"}},                                                  // dotted I kept
      {"a\xc3\x97" "b\xe2\x80\x94" "c\xc2\xa0" "d", {"a", "b", "c", "d"}},                       // signs separate
      {"\xce\x91\xce\xb8\xce\xae\xce\xbd\xce\xb1", {"\xce\x91\xce\xb8\xce\xae\xce\xbd\xce\xb1"}},  // Greek kept as is
      {"ab\xff" "cd\xe2\x82", {"ab", "cd"}},                                                     // not UTF-8
      {"x\xc0\xaf" "y", {"x", "y"}},                                                             // overlong form
  };
  for (const auto& c : cases) EXPECT_EQ(SearchWords(c.text), c.words) << c.text;
  std::string longWord(100, 'q');
  EXPECT_EQ(SearchWords(longWord + " z"), (std::vector<std::string>{std::string(serve::kMaxWordBytes, 'q'), "z"}));
  // A two-byte letter that would pass the cap is left out whole.
  std::vector<std::string> cut = SearchWords(std::string(serve::kMaxWordBytes - 1, 'a') + "\xc3\xa9");
  EXPECT_EQ(cut.at(0).size(), serve::kMaxWordBytes - 1);
}

TEST(SearchIndex, QueryBounds) {
  std::string many;
  for (int i = 0; i < 20; ++i) many += "w" + std::to_string(i) + " w0 ";
  EXPECT_EQ(serve::QueryWords(many).size(), serve::kMaxQueryWords);
  EXPECT_EQ(serve::QueryWords(std::string(serve::kMaxQueryBytes, ' ') + "late").size(), 0u);
}

// Every query word is the start of one of the document's words.
bool ModelMatches(const std::string& text, const std::vector<std::string>& query) {
  std::vector<std::string> words = SearchWords(text);
  for (const std::string& q : query)
    if (std::none_of(words.begin(), words.end(), [&](const std::string& w) { return w.compare(0, q.size(), q) == 0; }))
      return false;
  return true;
}

TEST(SearchIndex, AgreesWithABruteForceModel) {
  const std::vector<std::string> vocabulary = {"alpha", "alp",   "alphabet", "beta",  "bet", "gamma",
                                               "Gam",   "\xc3\x84pfel", "\xc3\xa4pfel", "delta9", "zeta", "z"};
  std::mt19937 random(20261207);
  auto pick = [&](size_t n) { return random() % n; };
  serve::SearchIndex index;
  std::map<std::string, std::string> model;
  for (int op = 0; op < 5000; ++op) {
    std::string key = "k" + std::to_string(pick(40));
    switch (pick(4)) {
      case 0:
      case 1: {
        std::string text;
        for (size_t n = pick(6); n > 0; --n) text += vocabulary[pick(vocabulary.size())] + (pick(2) ? " " : ", ");
        index.Put(key, text);
        model[key] = text;
        break;
      }
      case 2:
        index.Remove(key);
        model.erase(key);
        break;
      default: {
        std::vector<std::string> query;
        for (size_t n = pick(3); n > 0; --n) {
          std::string w = SearchWords(vocabulary[pick(vocabulary.size())]).at(0);
          query.push_back(w.substr(0, 1 + pick(w.size())));
        }
        std::vector<std::string> got = index.Match(query);
        std::sort(got.begin(), got.end());
        std::vector<std::string> want;
        for (const auto& [k, text] : model)
          if (ModelMatches(text, query)) want.push_back(k);
        ASSERT_EQ(got, want) << "operation " << op;
      }
    }
    ASSERT_EQ(index.Size(), model.size()) << "operation " << op;
  }
}

}  // namespace
