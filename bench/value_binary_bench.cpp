// The value binary form against CBOR, the nearest standard binary encoding
// of the same data model, as nlohmann::json writes and reads it (to_cbor,
// from_cbor). The document is a List of 20000 records, each a List of an
// Integer, a String of 8 to 31 characters, a Boolean and a List of three
// Integers; the JSON side holds the same data as arrays. Writing goes to a
// std::ostringstream (ours) or a byte vector (CBOR), fresh or kept between
// writes; reading starts from bytes made before timing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "started_main.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

constexpr int kRecords = 20000;

struct Record {
  int32_t id;
  std::string name;
  bool flag;
  int32_t point[3];
};

const std::vector<Record>& Records() {
  static const std::vector<Record> records = [] {
    std::mt19937 rng(7);
    std::vector<Record> out;
    for (int r = 0; r < kRecords; ++r) {
      Record rec;
      rec.id = static_cast<int32_t>(rng());
      rec.name.assign(8 + rng() % 24, 'a');
      for (char& c : rec.name) c = static_cast<char>('a' + rng() % 26);
      rec.flag = (rng() & 1) != 0;
      for (int32_t& p : rec.point) p = static_cast<int32_t>(rng() % 100000);
      out.push_back(rec);
    }
    return out;
  }();
  return records;
}

KQSValue OurDocument() {
  KQSValue top = KQSValue::List();
  for (const Record& r : Records()) {
    KQSValue row = KQSValue::List(KQSValue(static_cast<int>(r.id)), KQSValue(r.name.c_str()),
                                  KQSValue::Boolean(r.flag ? 1 : 0));
    row.ListAppendValue(KQSValue::List(KQSValue(static_cast<int>(r.point[0])), KQSValue(static_cast<int>(r.point[1])),
                                       KQSValue(static_cast<int>(r.point[2]))));
    top.ListAppendValue(row);
  }
  return top;
}

nlohmann::json JsonDocument() {
  nlohmann::json top = nlohmann::json::array();
  for (const Record& r : Records()) {
    top.push_back(nlohmann::json::array({r.id, r.name, r.flag, {r.point[0], r.point[1], r.point[2]}}));
  }
  return top;
}

std::string OurBytes(const KQSValue& v) {
  KQSClassFormatter f;
  std::ostringstream out;
  v.WriteBinary(out, &f);
  return out.str();
}

void BM_Write_Ours(benchmark::State& state) {
  const KQSValue doc = OurDocument();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string s = OurBytes(doc);
    bytes = s.size();
    benchmark::DoNotOptimize(s.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Write_Ours)->Unit(benchmark::kMillisecond);

void BM_Write_Cbor(benchmark::State& state) {
  const nlohmann::json doc = JsonDocument();
  size_t bytes = 0;
  for (auto _ : state) {
    std::vector<uint8_t> v = nlohmann::json::to_cbor(doc);
    bytes = v.size();
    benchmark::DoNotOptimize(v.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Write_Cbor)->Unit(benchmark::kMillisecond);

// The same with the output buffer kept between writes, so that only the
// encoding is timed, not the growth of a fresh buffer.
void BM_WriteReused_Ours(benchmark::State& state) {
  const KQSValue doc = OurDocument();
  std::ostringstream out;
  for (auto _ : state) {
    out.seekp(0);
    KQSClassFormatter f;
    doc.WriteBinary(out, &f);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WriteReused_Ours)->Unit(benchmark::kMillisecond);

void BM_WriteReused_Cbor(benchmark::State& state) {
  const nlohmann::json doc = JsonDocument();
  std::vector<uint8_t> v;
  for (auto _ : state) {
    v.clear();
    nlohmann::json::to_cbor(doc, v);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_WriteReused_Cbor)->Unit(benchmark::kMillisecond);

void BM_Read_Ours(benchmark::State& state) {
  const std::string bytes = OurBytes(OurDocument());
  for (auto _ : state) {
    std::istringstream in(bytes);
    KQSValue v = KQSValue::ReadBinary(in, nullptr);
    benchmark::DoNotOptimize(v.Instance());
  }
}
BENCHMARK(BM_Read_Ours)->Unit(benchmark::kMillisecond);

void BM_Read_Cbor(benchmark::State& state) {
  const std::vector<uint8_t> bytes = nlohmann::json::to_cbor(JsonDocument());
  for (auto _ : state) {
    nlohmann::json v = nlohmann::json::from_cbor(bytes);
    benchmark::DoNotOptimize(v.size());
  }
}
BENCHMARK(BM_Read_Cbor)->Unit(benchmark::kMillisecond);

}  // namespace
