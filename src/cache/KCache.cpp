// The key-to-place rule shared by every cache.
#include "vxkernel/cache/KCache.h"

#include <cstring>

KCache::KCache(unsigned long numSect, unsigned long numSubSect, unsigned long headerSize,
               unsigned char debug)
    : fNumSect(static_cast<uint32_t>(numSect)),
      fNumSubSect(static_cast<uint32_t>(numSubSect)),
      fHeaderSize(static_cast<uint32_t>(headerSize)),
      fDebug(debug) {}

KCache::~KCache() = default;

unsigned char KCache::DescCanWrite(void* /*handle*/) const { return fReadOnly == 0 ? 1 : 0; }

unsigned char KCache::GetSectsFromKey(const char* key, unsigned long& sect, unsigned long& subSect,
                                      unsigned long& partition) {
  const unsigned long count = partition;
  const char* text = key != nullptr ? key : "";
  // Leading digits, modulo 2^32 like the byte sum below: a long number
  // still lands somewhere.
  uint32_t n = 0;
  for (const char* p = text; *p >= '0' && *p <= '9'; ++p)
    n = n * 10 + static_cast<uint32_t>(*p - '0');
  if (n == 0 && *text != '\0') {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t len = std::strlen(text);
    for (size_t i = 0; i < len; i += 4) {
      uint32_t group = 0;
      for (size_t j = 0; j < 4 && i + j < len; ++j)
        group |= static_cast<uint32_t>(p[i + j]) << (8 * j);
      n += group;
    }
  }
  sect = subSect = partition = 0;
  if (n == 0) return 0;
  if (count != 0) partition = n % count + 1;
  if (fNumSect != 0) {
    sect = n % fNumSect + 1;
    if (fNumSubSect != 0) subSect = (n / fNumSect) % fNumSubSect + 1;
  }
  return 1;
}
