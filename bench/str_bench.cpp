// KBSF Base64 against OpenSSL, and str_DBCS_cmp / KString comparison
// against strcmp on one and two threads.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vxkernel/locale/KIntl.h"
#include "vxkernel/text/KBSF.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/text/str.h"

namespace {

constexpr size_t kBase64Bytes = 64u << 20;  // 64 MiB of input

const std::vector<unsigned char>& RandomBytes() {
  static const std::vector<unsigned char> bytes = [] {
    std::vector<unsigned char> v(kBase64Bytes);
    std::mt19937 rng(1);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
  }();
  return bytes;
}

const std::string& EncodedText() {
  static const std::string text = [] {
    const auto& bytes = RandomBytes();
    std::string t(KBSF::Base64EncodedLength(static_cast<long>(bytes.size())), '\0');
    long len = static_cast<long>(t.size());
    KBSF::ToBase64(bytes.data(), static_cast<long>(bytes.size()), t.data(), len);
    return t;
  }();
  return text;
}

// ===== Base64 =====

void BM_KBSF_ToBase64(benchmark::State& state) {
  const auto& bytes = RandomBytes();
  std::string out(KBSF::Base64EncodedLength(static_cast<long>(bytes.size())), '\0');
  for (auto _ : state) {
    long len = static_cast<long>(out.size());
    KBSF::ToBase64(bytes.data(), static_cast<long>(bytes.size()), out.data(), len);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}

void BM_OpenSSL_EncodeBlock(benchmark::State& state) {
  const auto& bytes = RandomBytes();
  std::string out(KBSF::Base64EncodedLength(static_cast<long>(bytes.size())) + 1, '\0');
  for (auto _ : state) {
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                    static_cast<int>(bytes.size()));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}

void BM_KBSF_FromBase64(benchmark::State& state) {
  const std::string& text = EncodedText();
  std::vector<unsigned char> out(KBSF::Base64MaxDecodedLength(static_cast<long>(text.size())));
  for (auto _ : state) {
    long len = static_cast<long>(out.size());
    KBSF::FromBase64(text.data(), static_cast<long>(text.size()), out.data(), len);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(out.size()));
}

void BM_OpenSSL_DecodeBlock(benchmark::State& state) {
  const std::string& text = EncodedText();
  std::vector<unsigned char> out(text.size() / 4 * 3);
  for (auto _ : state) {
    EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<int>(text.size()));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(out.size()));
}

// ===== Comparison of 64-byte texts =====
// Each thread builds its own pair (equal but for the last byte), so two
// threads share nothing but the library's code.

struct Pair {
  std::string a, b;
  Pair() : a(64, 'x'), b(64, 'x') {
    for (size_t i = 0; i < 64; ++i) a[i] = b[i] = static_cast<char>('a' + i % 26);
    b[63] = 'Z';
  }
};

void BM_strcmp(benchmark::State& state) {
  Pair p;
  const char* a = p.a.c_str();
  const char* b = p.b.c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(std::strcmp(a, b));
  }
}

void BM_str_DBCS_cmp(benchmark::State& state) {
  Pair p;
  const char* a = p.a.c_str();
  const char* b = p.b.c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(str_DBCS_cmp(a, b, false));
  }
}

void BM_KString_Less(benchmark::State& state) {
  Pair p;
  const KString a(p.a.c_str());
  const KString b(p.b.c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(a < b);
  }
}

// For information: the double-byte walk over the same ASCII text.
void BM_str_DBCS_cmp_ShiftJisMode(benchmark::State& state) {
  const bool multiByte = KIntl::MultiByte();
  if (state.thread_index() == 0) KIntl::MultiByte(true);
  Pair p;
  const char* a = p.a.c_str();
  const char* b = p.b.c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(str_DBCS_cmp(a, b, false));
  }
  if (state.thread_index() == 0) KIntl::MultiByte(multiByte);
}

}  // namespace

BENCHMARK(BM_KBSF_ToBase64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSSL_EncodeBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KBSF_FromBase64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSSL_DecodeBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_strcmp)->Threads(1)->Threads(2);
BENCHMARK(BM_str_DBCS_cmp)->Threads(1)->Threads(2);
BENCHMARK(BM_KString_Less)->Threads(1)->Threads(2);
BENCHMARK(BM_str_DBCS_cmp_ShiftJisMode)->Threads(1);

BENCHMARK_MAIN();
