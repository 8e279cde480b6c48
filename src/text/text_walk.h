// Character walking shared by the str_ function files and the value
// formats: one reading of the text settings per call, lead-byte tables and
// boundary helpers. Shared with the layers above; not installed.
#ifndef VXKERNEL_TEXT_TEXT_WALK_H_
#define VXKERNEL_TEXT_TEXT_WALK_H_

#include <cstddef>
#include <cstdint>

#include "text/text_settings.h"

namespace vxk_internal {

// 256 flags, one per byte value: does it start a two-byte character?
struct LeadTable {
  bool fLead[256];
};

constexpr LeadTable MakeLeadTable(unsigned cp) {
  LeadTable t{};
  for (int b = 0; b < 256; ++b) t.fLead[b] = IsDBCSLeadByte(cp, static_cast<unsigned char>(b));
  return t;
}

inline constexpr LeadTable kLeadShiftJis = MakeLeadTable(kCodePageShiftJis);
inline constexpr LeadTable kLeadHangul = MakeLeadTable(kCodePageHangul);  // also GBK and Big5
inline constexpr LeadTable kLeadNone = MakeLeadTable(0);

inline const LeadTable& LeadTableFor(unsigned cp) {
  switch (cp) {
    case kCodePageShiftJis:
      return kLeadShiftJis;
    case kCodePageGbk:
    case kCodePageHangul:
    case kCodePageBig5:
      return kLeadHangul;
    default:
      return kLeadNone;
  }
}

// The settings a call works under, read once at its start so that a setter
// running on another thread never changes the rules half-way through a text.
struct TextEnv {
  TextMode fMode;
  bool fMultiByte;         // character counting and boundary rounding on
  const LeadTable* fLead;  // the double-byte code page's lead bytes (never null)

  bool Dbcs() const { return fMode == TextMode::kDoubleByte; }
  bool Utf8() const { return fMode == TextMode::kUtf8; }
  // Whether the double-byte character starts at p (a lead byte followed by
  // a non-NUL byte; a lead byte before the terminator stands alone).
  bool PairAt(const unsigned char* p) const { return Dbcs() && fLead->fLead[p[0]] && p[1] != 0; }
};

inline TextEnv CurrentTextEnv() {
  const uint32_t w = IntlSettingsWord();
  TextEnv e;
  e.fMode = (w & kIntlUtf8Bit)
                ? TextMode::kUtf8
                : ((w & kIntlMultiByteBit) ? TextMode::kDoubleByte : TextMode::kSingleByte);
  e.fMultiByte = (w & kIntlMultiByteBit) != 0;
  e.fLead = (e.fMode == TextMode::kDoubleByte) ? &LeadTableFor(DbcsCodePage()) : &kLeadNone;
  return e;
}

// Bytes of the UTF-8 sequence starting at p: its lead byte's length, cut
// short at the first byte that is not a continuation byte (so never past a
// NUL). A stray continuation byte or invalid lead byte is one character.
inline size_t Utf8SequenceBytes(const unsigned char* p) {
  const unsigned char c = p[0];
  size_t want = 1;
  if (c >= 0xF0 && c <= 0xF7)
    want = 4;
  else if (c >= 0xE0)
    want = (c <= 0xEF) ? 3 : 1;
  else if (c >= 0xC0)
    want = 2;
  size_t n = 1;
  while (n < want && (p[n] & 0xC0) == 0x80) ++n;
  return n;
}

// Bytes of the character at p (p[0] != 0) for the search, case and editing
// functions: a pair in double-byte mode, else one byte.
inline size_t UnitBytes(const TextEnv& e, const unsigned char* p) { return e.PairAt(p) ? 2 : 1; }

// Bytes of the character at p (p[0] != 0) for counting and boundary
// rounding, which follow the multibyte setting: off, one byte; on, a UTF-8
// sequence in UTF-8 encoding, else a double-byte pair.
inline size_t CountedBytes(const TextEnv& e, const unsigned char* p) {
  if (!e.fMultiByte) return 1;
  if (e.Utf8()) return Utf8SequenceBytes(p);
  return e.fLead->fLead[p[0]] && p[1] != 0 ? 2 : 1;
}

// The largest character boundary at or below byte n of s (n clamped to
// [0, strlen]). s must not be null.
inline size_t RoundDownToBoundary(const TextEnv& e, const char* s, long n) {
  if (n <= 0) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  const size_t limit = static_cast<size_t>(n);
  size_t i = 0;
  if (!e.fMultiByte) {
    while (i < limit && p[i] != 0) ++i;
    return i;
  }
  while (p[i] != 0) {
    const size_t k = CountedBytes(e, p + i);
    if (i + k > limit) break;
    i += k;
  }
  return i;
}

}  // namespace vxk_internal

#endif  // VXKERNEL_TEXT_TEXT_WALK_H_
