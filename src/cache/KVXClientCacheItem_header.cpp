// The 1064-byte header of a client cache item (docs/formats/cache.md).
#include <cstring>

#include "base/coding.h"
#include "base/debug_line.h"
#include "cache/file_cache_internal.h"
#include "vxkernel/cache/KVXClientCacheItem.h"

using vxk_internal::DecodeFixed32;
using vxk_internal::EncodeFixed32;

namespace {

// Offsets of the fixed words; the texts follow from kTextsOffset.
constexpr size_t kVersionOffset = 0;
constexpr size_t kNumbersOffset = 4;        // DocVersion ... DocPlatform: 5 words
constexpr size_t kDatesOffset = 4 + 5 * 4;  // 3 dates as 32-bit system times
constexpr size_t kPublicOffset = kDatesOffset + 3 * 4;
constexpr size_t kExpireOffset = kPublicOffset + 4;
constexpr size_t kTextsOffset = kExpireOffset + 4;
static_assert(kTextsOffset == 44, "11 words before the texts");
constexpr size_t kTexts = 4;
// Room for the texts' bytes when all four length words are present.
static_assert(KVXClientCacheItem::kHeaderBytes - kTextsOffset - kTexts * 4 == 1004,
              "four texts of 254 bytes (1016) do not always fit");

// A date as mktime takes it, fields out of range normalised (30 February is
// 1 March), cut to 32 bits. The unset date (every field 0) is written as 0:
// taken literally it is 30 November 2 BC, far outside the 32 bits.
uint32_t SystemTime(const KDateTime& d) {
  return d == KDateTime() ? 0 : static_cast<uint32_t>(d.Systime());
}

}  // namespace

std::string KVXClientCacheItem::EncodeHeader() const {
  std::string h(kHeaderBytes, '\0');
  char* p = h.data();
  EncodeFixed32(p + kVersionOffset, static_cast<uint32_t>(kHeaderVersion));
  const uint32_t numbers[5] = {fDocVersion, fDocSize, fDocDataForkSize, fDocResourceForkSize,
                               fDocPlatform};
  for (size_t i = 0; i < 5; ++i) EncodeFixed32(p + kNumbersOffset + 4 * i, numbers[i]);
  EncodeFixed32(p + kDatesOffset, SystemTime(fDateLastVerified));
  EncodeFixed32(p + kDatesOffset + 4, SystemTime(fDocCreatedDate));
  EncodeFixed32(p + kDatesOffset + 8, SystemTime(fDocModifiedDate));
  EncodeFixed32(p + kPublicOffset, fDocPublic != 0 ? 1 : 0);
  EncodeFixed32(p + kExpireOffset, fExpireInterval);
  const std::string* texts[kTexts] = {&fContentType, &fDocName, &fDocType, &fDocCreator};
  size_t pos = kTextsOffset;
  for (size_t i = 0; i < kTexts; ++i) {
    // Leave room for the length words of the texts still to come.
    size_t room = kHeaderBytes - pos - 4 * (kTexts - i);
    size_t n = texts[i]->size();
    if (n > kMaxText) n = kMaxText;
    if (n > room) n = room;
    EncodeFixed32(p + pos, static_cast<uint32_t>(n));
    std::memcpy(p + pos + 4, texts[i]->data(), n);
    pos += 4 + n;
  }
  return h;
}

bool KVXClientCacheItem::DecodeHeader(const char* header, unsigned long size) {
  if (header == nullptr || size < kHeaderBytes) return false;
  if (DecodeFixed32(header + kVersionOffset) != kHeaderVersion) {
    vxk_internal::DebugLine("KVXClientCacheItem::PopulateHeaderFromBuffer",
                            "Invalid header version in cache item.");
    return false;
  }
  std::string texts[kTexts];
  size_t pos = kTextsOffset;
  for (std::string& t : texts) {
    uint32_t n = pos + 4 <= kHeaderBytes ? DecodeFixed32(header + pos) : UINT32_MAX;
    if (pos + 4 > kHeaderBytes || n > kHeaderBytes - pos - 4) {
      vxk_internal::DebugLine("KVXClientCacheItem::PopulateHeaderFromBuffer",
                              "Invalid text length in cache item.");
      return false;
    }
    t.assign(header + pos + 4, n);
    pos += 4 + n;
  }
  fHeaderVersion = kHeaderVersion;
  fDocVersion = DecodeFixed32(header + kNumbersOffset);
  fDocSize = DecodeFixed32(header + kNumbersOffset + 4);
  fDocDataForkSize = DecodeFixed32(header + kNumbersOffset + 8);
  fDocResourceForkSize = DecodeFixed32(header + kNumbersOffset + 12);
  fDocPlatform = DecodeFixed32(header + kNumbersOffset + 16);
  fDateLastVerified.Systime(DecodeFixed32(header + kDatesOffset), false);
  fDocCreatedDate.Systime(DecodeFixed32(header + kDatesOffset + 4), false);
  fDocModifiedDate.Systime(DecodeFixed32(header + kDatesOffset + 8), false);
  fDocPublic = DecodeFixed32(header + kPublicOffset) != 0 ? 1 : 0;
  fExpireInterval = DecodeFixed32(header + kExpireOffset);
  fContentType = std::move(texts[0]);
  fDocName = std::move(texts[1]);
  fDocType = std::move(texts[2]);
  fDocCreator = std::move(texts[3]);
  return true;
}

unsigned char KVXClientCacheItem::UpdateDocHeader() {
  if (fCache == nullptr || Handle() == nullptr) return 0;
  const unsigned long size = fCache->HeaderSize();
  if (!vxk_internal::HeaderSizeAllowed("KVXClientCacheItem::UpdateDocHeader", size)) return 0;
  std::string h = EncodeHeader();
  // Another header size: the cache gets as much of ours as fits, zero-padded.
  if (size != kHeaderBytes) h.resize(size, '\0');
  return fCache->PutHeader(Handle(), h.data());
}
