// The value text form against two JSON libraries: a document of about 1 MB
// of nested Lists and Assocs holding Strings, Integers and Reals is written
// (FormattedString, and operator<< into a std::ostringstream) and read back
// (operator>> from a std::istringstream); the peers write and parse the
// equivalent JSON document: nlohmann::json (dump, parse) and RapidJSON
// (Writer<StringBuffer>, Document::Parse). One deterministic generator builds
// a neutral tree that becomes all three documents, so they hold the same
// data. The texts to read are made before timing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "heap_count.h"
#include "vxkernel/smallheap.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

// Records in the top-level List; this gives a text form of about 1 MB.
#ifndef VXK_TEXT_BENCH_RECORDS
#define VXK_TEXT_BENCH_RECORDS 3300
#endif
constexpr int kRecords = VXK_TEXT_BENCH_RECORDS;

// The neutral document: what both formats hold.
struct Node {
  enum Kind { kInt, kReal, kText, kArray, kObject } kind = kInt;
  int32_t i = 0;
  double d = 0;
  std::string s;
  std::vector<Node> items;        // kArray elements, or kObject values
  std::vector<std::string> keys;  // kObject: distinct lower-case keys of items
};

class Generator {
 public:
  Node Document() {
    Node top = Array();
    for (int r = 0; r < kRecords; ++r) top.items.push_back(Record(r));
    return top;
  }

 private:
  static Node Array() {
    Node n;
    n.kind = Node::kArray;
    return n;
  }
  static Node Object() {
    Node n;
    n.kind = Node::kObject;
    return n;
  }
  Node Int() {
    Node n;
    n.i = static_cast<int32_t>(rng_() % 2000001) - 1000000;
    if (rng_() % 4 == 0) n.i *= 1000;  // some long ones
    return n;
  }
  Node Real() {
    Node n;
    n.kind = Node::kReal;
    const double mantissa = std::uniform_real_distribution<double>(-1000.0, 1000.0)(rng_);
    n.d = rng_() % 8 == 0 ? mantissa * 1e-7 : mantissa;
    return n;
  }
  // Letters, digits and blanks; one text in 16 holds a quote, a backslash
  // or a line feed, which both formats escape.
  Node Text(size_t min, size_t spread) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789    ";
    Node n;
    n.kind = Node::kText;
    const size_t length = min + rng_() % spread;
    for (size_t k = 0; k < length; ++k) n.s += kChars[rng_() % (sizeof kChars - 1)];
    if (rng_() % 16 == 0 && length > 2) n.s[length / 2] = "'\\\n"[rng_() % 3];
    return n;
  }
  static void Member(Node& o, const char* key, Node value) {
    o.keys.emplace_back(key);
    o.items.push_back(std::move(value));
  }
  Node Record(int r) {
    Node o = Object();
    Member(o, "active", Int());
    Node child = Object();
    Member(child, "label", Text(4, 12));
    Member(child, "x", Real());
    Member(child, "y", Real());
    Member(o, "child", std::move(child));
    Node id;
    id.i = r;
    Member(o, "id", std::move(id));
    Member(o, "name", Text(8, 24));
    Member(o, "note", Text(20, 60));
    Member(o, "score", Real());
    Node tags = Array();
    for (size_t k = rng_() % 6; k > 0; --k) tags.items.push_back(Text(3, 8));
    Member(o, "tags", std::move(tags));
    Node values = Array();
    for (size_t k = rng_() % 10; k > 0; --k) values.items.push_back(rng_() % 3 == 0 ? Real() : Int());
    Member(o, "values", std::move(values));
    return o;
  }

  std::mt19937_64 rng_{20261206};
};

KQSValue ToValue(const Node& n) {
  switch (n.kind) {
    case Node::kInt:
      return KQSValue(static_cast<int>(n.i));
    case Node::kReal:
      return KQSValue(n.d);
    case Node::kText:
      return KQSValue(n.s.c_str());  // the texts hold no NUL
    case Node::kArray: {
      KQSValue list = KQSValue::List();
      for (const Node& item : n.items) list.ListAppendValue(ToValue(item));
      return list;
    }
    case Node::kObject: {
      auto* assoc = new KAssocVal;
      for (size_t i = 0; i < n.keys.size(); ++i) assoc->Add(KQSValue(n.keys[i].c_str()), ToValue(n.items[i]));
      return KQSValue(static_cast<short>(-18), static_cast<void*>(assoc));
    }
  }
  return KQSValue();
}

nlohmann::json ToNlohmann(const Node& n) {
  switch (n.kind) {
    case Node::kInt:
      return n.i;
    case Node::kReal:
      return n.d;
    case Node::kText:
      return n.s;
    case Node::kArray: {
      nlohmann::json a = nlohmann::json::array();
      for (const Node& item : n.items) a.push_back(ToNlohmann(item));
      return a;
    }
    case Node::kObject: {
      nlohmann::json o = nlohmann::json::object();
      for (size_t i = 0; i < n.keys.size(); ++i) o[n.keys[i]] = ToNlohmann(n.items[i]);
      return o;
    }
  }
  return nullptr;
}

rapidjson::Value ToRapid(const Node& n, rapidjson::Document::AllocatorType& a) {
  switch (n.kind) {
    case Node::kInt:
      return rapidjson::Value(n.i);
    case Node::kReal:
      return rapidjson::Value(n.d);
    case Node::kText:
      return rapidjson::Value(n.s.data(), static_cast<rapidjson::SizeType>(n.s.size()), a);
    case Node::kArray: {
      rapidjson::Value v(rapidjson::kArrayType);
      for (const Node& item : n.items) v.PushBack(ToRapid(item, a), a);
      return v;
    }
    case Node::kObject: {
      rapidjson::Value v(rapidjson::kObjectType);
      for (size_t i = 0; i < n.keys.size(); ++i) {
        const std::string& key = n.keys[i];
        v.AddMember(rapidjson::Value(key.data(), static_cast<rapidjson::SizeType>(key.size()), a),
                    ToRapid(n.items[i], a), a);
      }
      return v;
    }
  }
  return rapidjson::Value();
}

const Node& Neutral() {
  static const Node doc = Generator().Document();
  return doc;
}

// Each document is built just before it is timed and freed afterwards, so
// every library writes a tree laid out as a program that has just made or
// read it would hold it: built in order from the same free heap. (A tree
// built among the holes left by an earlier benchmark writes several times
// slower, whichever library it belongs to.)
KQSValue MakeValueDoc() { return ToValue(Neutral()); }
nlohmann::json MakeNlohmannDoc() { return ToNlohmann(Neutral()); }

std::string ValueText() {
  const KString k = MakeValueDoc().FormattedString();
  return std::string(static_cast<const char*>(k), k.Length());
}

// ----- writing -----

// The timed loops of the two writers; the documents come from the callers.
void TimeFormattedString(benchmark::State& state, const KQSValue& v) {
  size_t bytes = 0;
  for (auto _ : state) {
    const KString text = v.FormattedString();
    bytes = text.Length();
    benchmark::DoNotOptimize(static_cast<const char*>(text));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void TimeDump(benchmark::State& state, const nlohmann::json& j) {
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = j.dump();
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_ValueFormattedString(benchmark::State& state) { TimeFormattedString(state, MakeValueDoc()); }
BENCHMARK(BM_ValueFormattedString)->Unit(benchmark::kMillisecond);

void BM_ValueStreamOut(benchmark::State& state) {
  const KQSValue v = MakeValueDoc();
  size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    out << v;
    bytes = static_cast<size_t>(out.tellp());
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ValueStreamOut)->Unit(benchmark::kMillisecond);

// The same documents as each library reads them from its own text.
void BM_ValueFormattedStringOfRead(benchmark::State& state) {
  KQSValue v;
  {
    std::istringstream in(ValueText());
    in >> v;
  }
  TimeFormattedString(state, v);
}
BENCHMARK(BM_ValueFormattedStringOfRead)->Unit(benchmark::kMillisecond);

void BM_NlohmannDumpOfParsed(benchmark::State& state) {
  TimeDump(state, nlohmann::json::parse(MakeNlohmannDoc().dump()));
}
BENCHMARK(BM_NlohmannDumpOfParsed)->Unit(benchmark::kMillisecond);

void BM_NlohmannDump(benchmark::State& state) { TimeDump(state, MakeNlohmannDoc()); }
BENCHMARK(BM_NlohmannDump)->Unit(benchmark::kMillisecond);

void BM_RapidJsonWrite(benchmark::State& state) {
  rapidjson::Document d;
  static_cast<rapidjson::Value&>(d) = ToRapid(Neutral(), d.GetAllocator());
  size_t bytes = 0;
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    d.Accept(writer);
    bytes = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_RapidJsonWrite)->Unit(benchmark::kMillisecond);

// ----- reading -----

void BM_ValueStreamIn(benchmark::State& state) {
  const std::string text = ValueText();
  {
    // What is timed must read the whole document back. Reals come back to
    // 15 digits only, so the check compares the texts written again.
    std::istringstream in(text);
    KQSValue back;
    in >> back;
    const KString again = back.FormattedString();
    if (text != std::string(static_cast<const char*>(again), again.Length())) {
      state.SkipWithError("the text form did not read back equal");
    }
  }
  for (auto _ : state) {
    std::istringstream in(text);
    KQSValue v;
    in >> v;
    benchmark::DoNotOptimize(v);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ValueStreamIn)->Unit(benchmark::kMillisecond);

// The same read from an istream over the text where it lies, as the JSON
// parsers read their std::string: no 1 MB copy into a string stream, whose
// large allocation also makes malloc consolidate the previous document's
// freed chunks.
class InPlaceBuf : public std::streambuf {
 public:
  explicit InPlaceBuf(const std::string& text) {
    char* p = const_cast<char*>(text.data());  // only read
    setg(p, p, p + text.size());
  }
};

void BM_ValueStreamInInPlace(benchmark::State& state) {
  const std::string text = ValueText();
  for (auto _ : state) {
    InPlaceBuf buffer(text);
    std::istream in(&buffer);
    KQSValue v;
    in >> v;
    if (!v.IsList()) state.SkipWithError("the text form did not read");
    benchmark::DoNotOptimize(v);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ValueStreamInInPlace)->Unit(benchmark::kMillisecond);

void BM_NlohmannParse(benchmark::State& state) {
  const std::string text = MakeNlohmannDoc().dump();
  for (auto _ : state) {
    nlohmann::json j = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(j);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_NlohmannParse)->Unit(benchmark::kMillisecond);

void BM_RapidJsonParse(benchmark::State& state) {
  const std::string text = MakeNlohmannDoc().dump();
  for (auto _ : state) {
    rapidjson::Document d;
    d.Parse(text.c_str(), text.size());
    if (d.HasParseError()) state.SkipWithError("RapidJSON could not parse the document");
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RapidJsonParse)->Unit(benchmark::kMillisecond);

// ----- memory -----

// What one document takes: blocks allocated and bytes in use (with the
// allocator's own overhead) between just before it is made and just after.
// One run each; the reading rows read once before, so per-thread scratch
// buffers of the readers already exist.
// The library's small-object heap takes its slabs outside malloc: its
// blocks are counted as allocations, and the slab memory it holds (free
// blocks in those slabs included) as bytes in use.
struct Usage {
  heap_count::Snapshot malloc;
  vxk::SmallHeapStats small;
};
Usage Used() { return Usage{heap_count::Now(), vxk::SmallHeapStatistics()}; }

template <class Make>
void MeasureDocument(benchmark::State& state, Make make) {
  make();
  for (auto _ : state) {
    const Usage before = Used();
    auto doc = make();
    const Usage after = Used();
    benchmark::DoNotOptimize(doc);
    const double mallocBytes = static_cast<double>(after.malloc.bytes - before.malloc.bytes);
    const double slabBytes = static_cast<double>(after.small.bytesReserved - before.small.bytesReserved);
    const double bytes = mallocBytes + slabBytes;
    state.counters["allocations"] = static_cast<double>(after.malloc.allocations - before.malloc.allocations) +
                                    static_cast<double>(after.small.allocations - before.small.allocations);
    state.counters["MB"] = bytes / 1e6;
    state.counters["malloc_MB"] = mallocBytes / 1e6;
    state.counters["slab_MB"] = slabBytes / 1e6;
    state.counters["small_requested_MB"] =
        static_cast<double>(after.small.bytesRequestedLive - before.small.bytesRequestedLive) / 1e6;
    state.counters["bytes_per_record"] = bytes / kRecords;
  }
}

void BM_MemoryValueBuilt(benchmark::State& state) {
  MeasureDocument(state, [] { return MakeValueDoc(); });
}
void BM_MemoryValueRead(benchmark::State& state) {
  const std::string text = ValueText();
  MeasureDocument(state, [&] {
    InPlaceBuf buffer(text);
    std::istream in(&buffer);
    KQSValue v;
    in >> v;
    return v;
  });
}
void BM_MemoryNlohmannBuilt(benchmark::State& state) {
  MeasureDocument(state, [] { return MakeNlohmannDoc(); });
}
void BM_MemoryNlohmannParsed(benchmark::State& state) {
  const std::string text = MakeNlohmannDoc().dump();
  MeasureDocument(state, [&] { return nlohmann::json::parse(text); });
}
void BM_MemoryRapidJsonParsed(benchmark::State& state) {
  const std::string text = MakeNlohmannDoc().dump();
  MeasureDocument(state, [&] {
    auto d = std::make_unique<rapidjson::Document>();
    d->Parse(text.c_str(), text.size());
    return d;
  });
}
BENCHMARK(BM_MemoryValueBuilt)->Iterations(1);
BENCHMARK(BM_MemoryValueRead)->Iterations(1);
BENCHMARK(BM_MemoryNlohmannBuilt)->Iterations(1);
BENCHMARK(BM_MemoryNlohmannParsed)->Iterations(1);
BENCHMARK(BM_MemoryRapidJsonParsed)->Iterations(1);

}  // namespace

#include "started_main.h"
