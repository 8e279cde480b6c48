// Full-text search over 10,000 documents: the server's index in memory
// against SQLite FTS5 (the peer: an on-disk-capable inverted index with
// prefix queries) and against a plain scan of the texts. Each document is
// about 3 KB drawn from a 20,000-word vocabulary with a Zipf-like skew, so
// that common words are in most documents and rare ones in few.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "search_index.h"

namespace {

constexpr int kDocs = 10000;
constexpr int kVocabulary = 20000;
constexpr size_t kDocBytes = 3000;

// Pronounceable made-up words, the same every run.
std::vector<std::string> Vocabulary() {
  const char* syllables[] = {"ka", "lo", "mi", "ne", "ru", "sa", "to", "vi", "ze", "po", "qua", "dre",
                             "fin", "gul", "har", "jes", "bor", "wil", "yan", "xo"};
  std::mt19937 random(7);
  std::vector<std::string> words;
  while (words.size() < kVocabulary) {
    std::string w;
    for (int n = 2 + static_cast<int>(random() % 3); n > 0; --n) w += syllables[random() % 20];
    words.push_back(w + std::to_string(words.size() % 97));
  }
  return words;
}

const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> vocabulary = Vocabulary();
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<std::string> out;
    for (int d = 0; d < kDocs; ++d) {
      std::string text;
      while (text.size() < kDocBytes) {
        // Zipf-like: rank ~ exp(u * log N).
        size_t rank = static_cast<size_t>(std::exp(unit(random) * std::log(double{kVocabulary}))) - 1;
        text += vocabulary[std::min(rank, vocabulary.size() - 1)] + (random() % 12 == 0 ? ".\n" : " ");
      }
      out.push_back(std::move(text));
    }
    return out;
  }();
  return texts;
}

// Queries of the list: a common word, a rare word, two words, a short prefix.
std::vector<std::string> Queries() {
  std::vector<std::string> v = Vocabulary();
  return {v[3], v[5000], v[10] + " " + v[200], v[7].substr(0, 2)};
}

void BM_IndexSearch(benchmark::State& state) {
  serve::SearchIndex index;
  for (int d = 0; d < kDocs; ++d) index.Put(std::to_string(d), Texts()[static_cast<size_t>(d)]);
  std::vector<std::string> words = serve::QueryWords(Queries()[static_cast<size_t>(state.range(0))]);
  size_t hits = 0;
  for (auto _ : state) {
    hits = index.Match(words).size();
    benchmark::DoNotOptimize(hits);
  }
  state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_IndexSearch)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

void BM_Fts5Search(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db, "CREATE VIRTUAL TABLE docs USING fts5(body); BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO docs(rowid, body) VALUES (?, ?)", -1, &insert, nullptr);
  for (int d = 0; d < kDocs; ++d) {
    sqlite3_bind_int(insert, 1, d);
    sqlite3_bind_text(insert, 2, Texts()[static_cast<size_t>(d)].c_str(), -1, SQLITE_STATIC);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  // The same rule as the index: every word as a prefix.
  std::string match;
  for (const std::string& w : serve::QueryWords(Queries()[static_cast<size_t>(state.range(0))])) {
    if (!match.empty()) match += ' ';
    match.append("\"").append(w).append("\"*");
  }
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, "SELECT rowid FROM docs WHERE docs MATCH ?", -1, &query, nullptr);
  size_t hits = 0;
  for (auto _ : state) {
    sqlite3_bind_text(query, 1, match.c_str(), -1, SQLITE_STATIC);
    hits = 0;
    while (sqlite3_step(query) == SQLITE_ROW) ++hits;
    sqlite3_reset(query);
  }
  state.counters["hits"] = static_cast<double>(hits);
  sqlite3_finalize(query);
  sqlite3_close(db);
}
BENCHMARK(BM_Fts5Search)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// What the server would do without an index: fold every text's words and
// compare.
void BM_LinearScan(benchmark::State& state) {
  std::vector<std::string> words = serve::QueryWords(Queries()[static_cast<size_t>(state.range(0))]);
  size_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const std::string& text : Texts()) {
      std::vector<std::string> have = serve::SearchWords(text);
      hits += std::all_of(words.begin(), words.end(), [&](const std::string& q) {
        return std::any_of(have.begin(), have.end(), [&](const std::string& w) { return w.compare(0, q.size(), q) == 0; });
      });
    }
    benchmark::DoNotOptimize(hits);
  }
  state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_LinearScan)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

// Building the index at start from 10,000 texts.
void BM_IndexBuild(benchmark::State& state) {
  for (auto _ : state) {
    serve::SearchIndex index;
    for (int d = 0; d < kDocs; ++d) index.Put(std::to_string(d), Texts()[static_cast<size_t>(d)]);
    benchmark::DoNotOptimize(index.Size());
  }
}
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
