// KHash.
#include "vxkernel/text/KHash.h"

#include <array>

namespace {

// Folds ASCII capitals only: the hash must not change with the C locale.
constexpr std::array<unsigned char, 256> MakeFoldTable() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return table;
}

constexpr std::array<unsigned char, 256> kFoldTable = MakeFoldTable();

}  // namespace

uint32_t KHash::HashString(const char* s, uint32_t seed) {
  uint32_t h = seed;
  if (s == nullptr) return h;
  for (auto* p = reinterpret_cast<const unsigned char*>(s); *p != 0; ++p) h = h * kMultiplier + *p;
  return h;
}

uint32_t KHash::HashMem(const void* p, long n, uint32_t seed) {
  uint32_t h = seed;
  if (p == nullptr || n <= 0) return h;
  auto* bytes = static_cast<const unsigned char*>(p);
  for (long i = 0; i < n; ++i) h = h * kMultiplier + bytes[i];
  return h;
}

uint32_t KHash::HashTransString(const char* s, const unsigned char* table, uint32_t seed) {
  if (table == nullptr) return HashString(s, seed);
  uint32_t h = seed;
  if (s == nullptr) return h;
  for (auto* p = reinterpret_cast<const unsigned char*>(s); *p != 0; ++p) h = h * kMultiplier + table[*p];
  return h;
}

uint32_t KHash::HashTransMem(const void* p, long n, const unsigned char* table, uint32_t seed) {
  if (table == nullptr) return HashMem(p, n, seed);
  uint32_t h = seed;
  if (p == nullptr || n <= 0) return h;
  auto* bytes = static_cast<const unsigned char*>(p);
  for (long i = 0; i < n; ++i) h = h * kMultiplier + table[bytes[i]];
  return h;
}

uint32_t KHash::HashInsensitiveStr(const char* s) { return HashTransString(s, kFoldTable.data(), 0); }
