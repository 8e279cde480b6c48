// The fast lane of the value text writer: TextSink, the direct writers of
// the common built-in types and FormattedString's buffer.
#include "values/value_text_writer_internal.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <locale>
#include <typeinfo>

#include "values/nesting_internal.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KQSValueLong.h"
#include "vxkernel/values/KQSValueReal.h"
#include "vxkernel/values/KQSValueString.h"
#include "vxkernel/values/type_numbers.h"

namespace vxk_internal {

namespace {

// The pword slot of a stream that holds its active fast sink.
int SinkSlot() {
  static const int slot = std::ios_base::xalloc();
  return slot;
}

// Whether formatted insertions into out would write exactly what a fast
// sink writes (the locales are compared last: they are copied to compare).
bool Usable(std::ostream& out) {
  constexpr std::ios_base::fmtflags kChanging = std::ios_base::showpos | std::ios_base::showpoint |
                                                std::ios_base::showbase | std::ios_base::uppercase |
                                                std::ios_base::unitbuf;
  const std::ios_base::fmtflags flags = out.flags();
  const std::ios_base::fmtflags base = flags & std::ios_base::basefield;
  if (out.rdstate() != 0 || out.width() != 0 || (flags & kChanging) != 0 || out.rdbuf() == nullptr ||
      (base != std::ios_base::dec && base != std::ios_base::fmtflags())) {
    return false;
  }
  const std::locale& classic = std::locale::classic();
  return out.getloc() == classic && out.rdbuf()->getloc() == classic;
}

}  // namespace

// ===== Reals =====

namespace {

// "%.15g" of v for magnitudes from 1e-5 to 1e15 without printf's
// big-number arithmetic. |v| is m * 2^-s exactly (m below 2^53, s > 0 in
// this range), so t = |v| * 10^p, scaled so that 1e14 <= t < 1e15, is the
// 128-bit product m * 10^p (10^p <= 10^19 fits 64 bits) shifted right by
// s, with its fraction in the bits shifted out: exact. Rounding t to the
// nearest integer is then printf's 15 digits; an exact tie, and every
// other value, return 0 for the caller to format by precision. %g then
// writes the digits without trailing zeros, in fixed notation for a
// decimal exponent from -4 to 14 and in scientific notation otherwise.
// Writes at most 32 bytes.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

size_t ShortReal(double v, char* out) {
  static constexpr uint64_t kPowers[] = {1ull,
                                         10ull,
                                         100ull,
                                         1000ull,
                                         10000ull,
                                         100000ull,
                                         1000000ull,
                                         10000000ull,
                                         100000000ull,
                                         1000000000ull,
                                         10000000000ull,
                                         100000000000ull,
                                         1000000000000ull,
                                         10000000000000ull,
                                         100000000000000ull,
                                         1000000000000000ull,
                                         10000000000000000ull,
                                         100000000000000000ull,
                                         1000000000000000000ull,
                                         10000000000000000000ull};
  const double magnitude = std::fabs(v);
  if (!(magnitude >= 1e-5 && magnitude < 1e15)) return 0;
  uint64_t bits = 0;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int binary = static_cast<int>(bits >> 52) - 1023;  // a normal double here
  const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int shift = 52 - binary;  // |v| = m / 2^shift; from 3 to 69 here
  // The decimal exponent, estimated from the binary one (floor of its
  // product with log10(2), in fixed point) and corrected below.
  int exponent = (binary * 78913) >> 18;
  uint64_t whole = 0;
  unsigned __int128 fraction = 0;
  for (int tries = 0;; ++tries) {
    const int p = 14 - exponent;
    if (tries == 3 || p < 0 || p > 19) return 0;
    const unsigned __int128 product = static_cast<unsigned __int128>(m) * kPowers[p];
    whole = static_cast<uint64_t>(product >> shift);
    fraction = product & ((static_cast<unsigned __int128>(1) << shift) - 1);
    if (whole < 100000000000000u) {
      --exponent;
    } else if (whole >= 1000000000000000u) {
      ++exponent;
    } else {
      break;
    }
  }
  const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  if (fraction == half) return 0;
  uint64_t digits = whole + (fraction > half ? 1 : 0);
  if (digits == 1000000000000000u) {  // rounded up to the next power of ten
    digits = 100000000000000u;
    ++exponent;
  }
  // Two digits at a time: 7 above the low 8, then those.
  char d[16];
  auto pairs = [&d](uint32_t n, int last, int first) {
    for (int i = last; i > first; i -= 2, n /= 100) std::memcpy(d + i - 1, kDigitPairs + 2 * (n % 100), 2);
  };
  pairs(static_cast<uint32_t>(digits % 100000000u), 15, 7);
  pairs(static_cast<uint32_t>(digits / 100000000u), 7, -1);  // writes d[0] to d[7]; d[0] is a '0'
  std::memmove(d, d + 1, 15);
  int count = 15;
  while (count > 1 && d[count - 1] == '0') --count;
  char* o = out;
  if (std::signbit(v)) *o++ = '-';
  if (exponent >= -4 && exponent < 15) {
    if (exponent < 0) {
      *o++ = '0';
      *o++ = '.';
      for (int z = -1; z > exponent; --z) *o++ = '0';
      for (int i = 0; i < count; ++i) *o++ = d[i];
    } else {
      for (int i = 0; i <= exponent; ++i) *o++ = i < count ? d[i] : '0';
      if (count > exponent + 1) {
        *o++ = '.';
        for (int i = exponent + 1; i < count; ++i) *o++ = d[i];
      }
    }
  } else {
    *o++ = d[0];
    if (count > 1) {
      *o++ = '.';
      for (int i = 1; i < count; ++i) *o++ = d[i];
    }
    *o++ = 'e';
    *o++ = exponent < 0 ? '-' : '+';
    const int e = exponent < 0 ? -exponent : exponent;
    *o++ = static_cast<char>('0' + e / 10);
    *o++ = static_cast<char>('0' + e % 10);
  }
  return static_cast<size_t>(o - out);
}

}  // namespace

// ===== TextSink =====

TextSink::TextSink(std::ostream& out)
    : fOut(out), fBuf(out.rdbuf()), fEnv(CurrentTextEnv()), fFast(Usable(out)) {
  if (!fFast) return;
  // What the first insertion's sentry would have done.
  if (std::ostream* tied = out.tie()) tied->flush();
  void*& slot = out.pword(SinkSlot());
  if (out.rdstate() != 0) {  // no room for the slot
    fFast = false;
    return;
  }
  fPrevious = static_cast<TextSink*>(slot);
  slot = this;
  fRegistered = true;
}

TextSink::~TextSink() {
  if (fRegistered) fOut.pword(SinkSlot()) = fPrevious;
}

TextSink* TextSink::Active(std::ostream& out) {
  auto* sink = static_cast<TextSink*>(out.pword(SinkSlot()));
  // copyfmt copies the slot into another stream: that copy is not ours.
  return sink != nullptr && &sink->fOut == &out ? sink : nullptr;
}

void TextSink::Text(const char* z) {
  if (!fFast) {
    fOut << z;
    return;
  }
  Write(z, std::strlen(z));
}

template <class T, class... Format>
void TextSink::Chars(T v, Format... format) {
  constexpr size_t kLongest = 32;  // "%.15g" of any double, any 64-bit integer
  if (char* at = Room(kLongest)) {
    Commit(static_cast<size_t>(std::to_chars(at, at + kLongest, v, format...).ptr - at));
    return;
  }
  char text[kLongest];
  const std::to_chars_result r = std::to_chars(text, text + kLongest, v, format...);
  Write(text, static_cast<size_t>(r.ptr - text));
}

void TextSink::Decimal(long v) {
  if (!fFast) {
    fOut << v;
    return;
  }
  Chars(v);
}

void TextSink::Decimal(long long v) {
  if (!fFast) {
    fOut << v;
    return;
  }
  Chars(v);
}

void TextSink::Real(double v) {
  if (!fFast) {
    const std::streamsize precision = fOut.precision(15);
    const std::ios_base::fmtflags flags = fOut.flags();
    fOut.unsetf(std::ios_base::floatfield);
    fOut << v;
    fOut.flags(flags);
    fOut.precision(precision);
    return;
  }
  // The general format with 15 digits is printf's "%.15g", which is what
  // the stream writes in the classic locale, "inf", "-nan" and all.
  constexpr size_t kLongest = 32;
  char text[kLongest];
  char* at = Room(kLongest);
  char* const out = at != nullptr ? at : text;
  size_t n = ShortReal(v, out);
  if (n == 0) n = static_cast<size_t>(std::to_chars(out, out + kLongest, v, std::chars_format::general, 15).ptr - out);
  if (at != nullptr) Commit(n);
  else Write(text, n);
}

void TextSink::Recheck() {
  if (fFast && !Usable(fOut)) fFast = false;
}

void TextSink::Slow(char c) { fOut << c; }

void TextSink::SlowWrite(const char* p, size_t n) { fOut.write(p, static_cast<std::streamsize>(n)); }

void TextSink::Fail() {
  // The rest goes through the stream, which now writes nothing, as it did.
  fFast = false;
  fOut.setstate(std::ios_base::badbit);
}

// ===== The direct writers =====

namespace {

// Bytes a String writes with a backslash before them (as the letter after
// it for line ends).
struct EscapeTable {
  char fAs[256];
};
constexpr EscapeTable MakeEscapeTable() {
  EscapeTable t{};
  t.fAs[static_cast<unsigned char>('\n')] = 'n';
  t.fAs[static_cast<unsigned char>('\r')] = 'r';
  t.fAs[static_cast<unsigned char>('\'')] = '\'';
  t.fAs[static_cast<unsigned char>('\\')] = '\\';
  return t;
}
constexpr EscapeTable kEscape = MakeEscapeTable();

int32_t Int32(const KQSValue& v) { return static_cast<int32_t>(reinterpret_cast<uintptr_t>(v.Instance())); }

// Whether c is exactly the built-in class T, so that what T writes is known.
template <class T>
bool Is(const KQSClass* c, const KQSClass* slot) {
  return c == slot && typeid(*c) == typeid(T);
}

// The String storage of v whose text WriteQuotedText writes, or null.
const KQSValueString* PlainString(const KQSClass* c, void* data) {
  if (data == nullptr || !Is<KQSClass_String>(c, KQSValue::Class_String())) return nullptr;
  const auto* storage = static_cast<const KQSValueBase*>(data);
  return typeid(*storage) == typeid(KQSValueString) ? static_cast<const KQSValueString*>(storage) : nullptr;
}

// The Assoc storage of v whose Formatter writes through the sink, or null.
const KAssocVal* PlainAssoc(const KQSClass* c, void* data) {
  if (data == nullptr || c == nullptr || c->ClassNumber() != vxk_types::kAssoc || typeid(*c) != typeid(KQSClass_Assoc)) {
    return nullptr;
  }
  const auto* storage = static_cast<const KQSValueBase*>(data);
  return typeid(*storage) == typeid(KAssocVal) ? static_cast<const KAssocVal*>(storage) : nullptr;
}

// For an Assoc, asks for its tree nodes depth levels down, or past the
// leaves for the storage of its keys and values; see PrefetchText.
void PrefetchBelow(const KQSValue& v, int depth) {
  if (const KAssocVal* a = PlainAssoc(v.Class(), v.Instance())) {
    a->Tree().PrefetchLevel(depth, [](const KIQSValue& key, const KQSValue& value) {
      PrefetchValue(key.Value());
      PrefetchValue(value);
    });
  }
}

void WriteList(TextSink& sink, const KQSValueList& list, KQSClassFormatter* f) {
  const WriteLevel level(nullptr);
  if (level.TooDeep()) {
    sink.Put('?');
    return;
  }
  sink.Put('{');
  // The window's positions are consecutive in its storage.
  KQSValueListStorage* storage = list.Storage();
  const long first = list.Start();
  const long end = list.End();
  // Storage is fetched kAhead elements ahead, a String's text or an Assoc's
  // tree root kText ahead, and each lower level of the tree one element
  // closer, down to the storage of its pairs: every request then finds the
  // node it reads already arrived.
  constexpr long kAhead = 6;
  constexpr long kText = 4;
  for (long pos = first; pos < end && pos < first + kAhead; ++pos) PrefetchValue(storage->NodeAt(pos)->value);
  for (long pos = first; pos < end; ++pos) {
    if (pos + kAhead < end) PrefetchValue(storage->NodeAt(pos + kAhead)->value);
    if (pos + kText < end) PrefetchText(storage->NodeAt(pos + kText)->value);
    for (int depth = 1; depth < kText; ++depth) {
      if (pos + kText - depth < end) PrefetchBelow(storage->NodeAt(pos + kText - depth)->value, depth);
    }
    if (pos > first) sink.Put(',');
    WriteValueText(sink, storage->NodeAt(pos)->value, f);
  }
  sink.Put('}');
}

}  // namespace

void PrefetchText(const KQSValue& v) {
  if (const KQSValueString* s = PlainString(v.Class(), v.Instance())) {
    __builtin_prefetch(static_cast<const char*>(s->KQSValueString::String()));
  } else {
    PrefetchBelow(v, 0);
  }
}

void WriteQuotedText(TextSink& sink, const char* text, size_t length) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const bool pairs = sink.Env().Dbcs();
  // Without double-byte pairs every byte is written alone, so when the
  // buffer has room for the worst case the text goes straight into it.
  if (!pairs && length < (1u << 20)) {
    if (char* const start = sink.Room(2 * length + 2)) {
      char* o = start;
      *o++ = '\'';
      for (size_t i = 0; i < length; ++i) {
        const char as = kEscape.fAs[p[i]];
        if (as != 0) {
          *o++ = '\\';
          *o++ = as;
        } else {
          *o++ = static_cast<char>(p[i]);
        }
      }
      *o++ = '\'';
      sink.Commit(static_cast<size_t>(o - start));
      return;
    }
  }
  // Unformatted, quotes included: a String never took the stream's width.
  sink.Write("'", 1);
  size_t run = 0;  // start of the bytes not yet written
  for (size_t i = 0; i < length; ++i) {
    if (pairs && i + 1 < length && sink.Env().PairAt(p + i)) {
      // A double-byte pair is written together, so a trail byte that
      // happens to be a backslash is not escaped. A quote is never a trail
      // byte of a double-byte code page; after a lead byte it is doubled,
      // which the reader takes for a quote inside the text.
      ++i;
      if (p[i] == '\'') {
        sink.Write(text + run, i + 1 - run);
        sink.Write("'", 1);
        run = i + 1;
      }
      continue;
    }
    const char as = kEscape.fAs[p[i]];
    if (as == 0) continue;
    sink.Write(text + run, i - run);
    const char escape[2] = {'\\', as};
    sink.Write(escape, 2);
    run = i + 1;
  }
  sink.Write(text + run, length - run);
  sink.Write("'", 1);
}

void WriteValueText(TextSink& sink, const KQSValue& v, KQSClassFormatter* f) {
  const KQSClass* c = v.Class();
  void* data = v.Instance();
  if (!sink.Fast() || c == nullptr) {
    v.FormattedOutput(sink.Stream(), f);
    return;
  }
  if (Is<KQSClass_Integer>(c, KQSValue::Class_Integer())) {
    sink.Decimal(static_cast<long>(Int32(v)));
    return;
  }
  if (data != nullptr) {
    const auto* storage = static_cast<const KQSValueBase*>(data);
    if (const KQSValueString* string = PlainString(c, data)) {
      const KString& s = string->KQSValueString::String();
      WriteQuotedText(sink, s, s.Length());
      return;
    }
    if (Is<KQSClass_Real>(c, KQSValue::Class_Real())) {
      sink.Put('G');
      sink.Real(static_cast<const KQSValueReal*>(storage)->Value());
      return;
    }
    if (Is<KQSClass_List>(c, KQSValue::Class_List()) && typeid(*storage) == typeid(KQSValueList)) {
      WriteList(sink, *static_cast<const KQSValueList*>(storage), f);
      return;
    }
    if (const KAssocVal* assoc = PlainAssoc(c, data)) {
      // Its Formatter writes through this sink.
      assoc->Formatter(sink.Stream(), f);
      return;
    }
    if (Is<KQSClass_Long>(c, KQSValue::Class_Long())) {
      sink.Put('L');
      sink.Decimal(static_cast<long long>(static_cast<const KQSValueLong*>(storage)->Value()));
      return;
    }
  }
  if (Is<KQSClass_Undefined>(c, KQSValue::Class_Undefined())) {
    sink.Put('?');
    return;
  }
  if (Is<KQSClass_Boolean>(c, KQSValue::Class_Boolean())) {
    sink.Text((reinterpret_cast<uintptr_t>(data) & 0xFF) != 0 ? "true" : "false");
    return;
  }
  // Any other class writes itself onto the stream, and may leave it in a
  // state that the rest of this write must respect.
  v.FormattedOutput(sink.Stream(), f);
  sink.Recheck();
}

namespace {

// FormattedString's stream buffer: text collects in a fixed block and goes
// into the result string a block at a time, so the result grows in place
// (KString reallocates) and is never copied as a whole.
class KStringOutBuf : public std::streambuf {
 public:
  KStringOutBuf() { setp(fBlock, fBlock + sizeof fBlock); }
  KString Take() {
    Drain();
    return fText;
  }

 protected:
  int_type overflow(int_type c) override {
    Drain();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* p, std::streamsize n) override {
    if (n > epptr() - pptr()) {
      Drain();
      if (n >= static_cast<std::streamsize>(sizeof fBlock)) {
        fText += KString(p, static_cast<unsigned>(n));
        return n;
      }
    }
    std::memcpy(pptr(), p, static_cast<size_t>(n));
    pbump(static_cast<int>(n));
    return n;
  }

 private:
  void Drain() {
    if (pptr() == pbase()) return;
    fText += KString(pbase(), static_cast<unsigned>(pptr() - pbase()));
    setp(fBlock, fBlock + sizeof fBlock);
  }

  KString fText;
  char fBlock[16384];
};

}  // namespace

KString FormattedStringOf(const KQSValue& v) {
  KStringOutBuf buffer;
  std::ostream out(&buffer);
  const std::locale& classic = std::locale::classic();
  if (!(out.getloc() == classic)) out.imbue(classic);
  KQSClassFormatter f;
  {
    TextSink sink(out);
    WriteValueText(sink, v, &f);
  }
  return buffer.Take();
}

void WriteValueTextFresh(TextSink& sink, const KQSValue& v) {
  if (!sink.Fast()) {
    sink.Stream() << v;
    return;
  }
  // A fast sink's stream already has the classic locale operator<< sets.
  KQSClassFormatter fresh;
  WriteValueText(sink, v, &fresh);
}

}  // namespace vxk_internal
