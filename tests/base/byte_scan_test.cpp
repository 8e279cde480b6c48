// Every byte scanner implementation against plain loops over random
// blocks. Each block lies in a buffer of exactly its width, so a wider read
// is reported under AddressSanitizer; the bytes come mostly from the bytes
// looked for, their neighbours with the top bit flipped, and bytes above
// 0x7F.
#include "base/byte_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

namespace {

using vxk_internal::ByteScanPortable;

template <class Scan>
class ByteScanTest : public testing::Test {};

#if defined(__SSE2__)
using Implementations = testing::Types<ByteScanPortable, vxk_internal::ByteScanSse2>;
#else
using Implementations = testing::Types<ByteScanPortable>;
#endif
TYPED_TEST_SUITE(ByteScanTest, Implementations);

// The bytes looked for: a quote, a backslash, and two above 0x7F (one of
// them listed twice in the set, with a different weight).
constexpr unsigned char kSet[] = {'"', '\\', 0xE9, 0xFF, 0xE9};
constexpr unsigned char kWeights[] = {1, 7, 3, 5, 6};
constexpr unsigned kAlphabet[] = {'"', '"' ^ 0x80, '\\', '\\' ^ 0x80, 0xE9, 0x69, 0xFF, 0x7F, 0x80, 0x00, 'a'};

template <class Rng>
std::vector<char> RandomBytes(Rng& rng, size_t n) {
  std::vector<char> bytes(n);
  for (char& c : bytes) c = static_cast<char>(kAlphabet[rng() % std::size(kAlphabet)]);
  return bytes;
}

template <class Accept>
uint32_t MaskOf(const char* p, size_t width, Accept accept) {
  uint32_t mask = 0;
  for (size_t k = 0; k < width; ++k) {
    if (accept(static_cast<unsigned char>(p[k]))) mask |= uint32_t{1} << k;
  }
  return mask;
}

TYPED_TEST(ByteScanTest, MasksAreThoseOfAPlainLoop) {
  using Scan = TypeParam;
  const typename Scan::template Set<std::size(kSet)> set(kSet, kWeights);
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    const std::vector<char> random = RandomBytes(rng, Scan::kWidth);
    const auto block = std::make_unique<char[]>(Scan::kWidth);
    std::copy(random.begin(), random.end(), block.get());
    const char* p = block.get();
    const auto c = static_cast<char>(kAlphabet[rng() % std::size(kAlphabet)]);
    const auto d = static_cast<char>(kAlphabet[rng() % std::size(kAlphabet)]);
    const auto is = [](char x) { return [x](unsigned char b) { return b == static_cast<unsigned char>(x); }; };
    ASSERT_EQ(Scan::Equal(p, c), MaskOf(p, Scan::kWidth, is(c))) << round;
    ASSERT_EQ(Scan::Either(p, c, d), MaskOf(p, Scan::kWidth, is(c)) | MaskOf(p, Scan::kWidth, is(d))) << round;
    ASSERT_EQ(Scan::High(p), MaskOf(p, Scan::kWidth, [](unsigned char b) { return b >= 0x80; })) << round;
    const auto inSet = [](unsigned char b) { return std::find(std::begin(kSet), std::end(kSet), b) != std::end(kSet); };
    ASSERT_EQ(set.Match(p), MaskOf(p, Scan::kWidth, inSet)) << round;
  }
}

// Ranges of every length up to a few folds of the per-lane sums, some of
// them nothing but the heaviest byte, which overflows a lane folded late.
TYPED_TEST(ByteScanTest, WeightsAreThoseOfAPlainLoop) {
  using Scan = TypeParam;
  const typename Scan::template Set<std::size(kSet)> set(kSet, kWeights);
  const auto weight = [](unsigned char b) -> size_t {
    for (size_t i = 0; i < std::size(kSet); ++i) {
      if (kSet[i] == b) return kWeights[i];
    }
    return 0;
  };
  std::mt19937 rng(11);
  for (size_t n = 0; n <= 1200; n += 1 + rng() % 7) {
    for (const bool heaviest : {false, true}) {
      std::vector<char> bytes = heaviest ? std::vector<char>(n, '\\') : RandomBytes(rng, n);
      size_t want = 0;
      for (char b : bytes) want += weight(static_cast<unsigned char>(b));
      ASSERT_EQ(set.Weigh(bytes.data(), bytes.data() + n), want) << n << (heaviest ? " heaviest" : " random");
    }
  }
}

}  // namespace
