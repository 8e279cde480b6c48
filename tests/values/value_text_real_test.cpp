// Reals of the writer's usual form (up to 15 significant digits, small
// exponents), which the reader converts without from_chars, against strtod
// bit for bit: one rounding too many, or a wrong power, shows as one ulp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "support/started_process.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/values/KQSValue.h"

namespace {

TEST(ValueTextReal, ShortDecimalsMatchStrtodExactly) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 200000; ++i) {
    std::string digits = std::to_string(rng() % 1000000000000000ull);  // up to 15 digits
    if (rng() % 4 == 0) digits = std::string(rng() % 3, '0') + digits;
    std::string text = rng() % 2 ? "-" : "";
    const size_t point = rng() % (digits.size() + 1);
    text += point == 0 || point == digits.size() ? digits : digits.substr(0, point) + "." + digits.substr(point);
    if (rng() % 2) text += (rng() % 2 ? "e" : "E") + std::to_string(static_cast<int>(rng() % 61) - 30);
    std::istringstream in("G" + text + ",");
    KQSValue v;
    in >> v;
    const double expected = std::strtod(text.c_str(), nullptr);
    const double got = static_cast<double>(v);
    ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << text;
  }
}

}  // namespace

namespace {

// The writer's Reals against printf's "%.15g" for doubles of every kind:
// random bit patterns (all exponents, subnormals, NaNs) and short decimals
// and numbers near a tie in the 15th digit.
TEST(ValueTextReal, WrittenAsPrintfWrites) {
  std::mt19937_64 rng(12);
  for (int i = 0; i < 300000; ++i) {
    double d;
    if (i % 3 == 0) {
      const uint64_t bits = rng();
      std::memcpy(&d, &bits, sizeof d);
    } else if (i % 3 == 1) {
      // Near a tie in the 15th digit: 16 digits ending in 5.
      const std::string text = std::to_string(rng() % 900000000000000ull + 100000000000000ull) + "5e" +
                               std::to_string(static_cast<int>(rng() % 30) - 20);
      d = std::strtod(text.c_str(), nullptr);
      // Or exactly halfway between two 15-digit numbers.
      if (i % 2 == 0) d = std::ldexp(static_cast<double>(rng() % 900000000000000ull + 100000000000000ull) + 0.5, -static_cast<int>(rng() % 40));
    } else {
      d = static_cast<double>(static_cast<int64_t>(rng() >> (rng() % 64))) * std::pow(10.0, static_cast<int>(rng() % 50) - 30);
    }
    char expected[64];
    std::snprintf(expected, sizeof expected, "G%.15g", d);
    const KString text = KQSValue(d).FormattedString();
    ASSERT_STREQ(static_cast<const char*>(text), expected) << i;
  }
}

}  // namespace
