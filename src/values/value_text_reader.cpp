// The value text reader: FormattedInput, operator>> and the cracker table.
//
// The reader works on the stream's buffer (sgetc, sbumpc and, for string
// runs, the get area itself) instead of the formatted extractors: no sentry
// per character, no locale facet per number. It keeps the stream behaviour
// of the extractors where callers can see it: a numeric read that finds no
// number or overflows sets failbit, reaching the end while looking ahead sets
// eofbit, and a character that ends a token is left in the stream.
//
// Nesting ("{", the tag form and every cracker) is counted per thread and
// capped at kMaxDepth, so hostile input cannot exhaust the stack.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <istream>
#include <limits>
#include <locale>
#include <string>
#include <utility>
#include <vector>

#include "base/arena.h"
#include "base/byte_scan.h"
#include "base/debug_line.h"
#include "text/text_walk.h"
#include "values/value_text_crackers_internal.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KQSValueString.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::DebugText;

namespace {

using Traits = std::char_traits<char>;
constexpr int kEof = Traits::eof();

// The deepest nesting a text may have; the 513th level reads as Undefined and
// fails the stream, which makes every enclosing level give up as well.
constexpr int kMaxDepth = 512;
// The tag text of "<VX:...>" is read like getline into a 255-byte buffer.
constexpr size_t kMaxTagText = 254;

// The most bytes a number or string run takes from the get area at once
// (the area's position moves by an int).
constexpr std::ptrdiff_t kMaxBulk = 1 << 20;

// The largest double as the Real writer puts it (15 significant digits).
constexpr long double kLargestWritten = 1.79769313486232e308L;

// What the reader keeps per thread: the nesting depth, shared by every
// FormattedInput call on the thread, and scratch text for the token being
// read, so that reading a document allocates no temporary per string or
// number (freed small blocks between the value allocations would make the
// allocator consolidate again and again). One thread-local object, fetched
// once per FormattedInput call: in a shared library each thread-local access
// is a call.
//
// Compiler thread-local storage rather than a KContext slot: values are read
// on any thread, including threads that never ran the thread ring and so
// have no KContext, and the state is private to this file.
struct ThreadState {
  int depth = 0;
  std::string scratch;
  // The elements of the Lists being read, innermost last: a List is built
  // once its "}" arrives, with its exact size, instead of growing.
  std::vector<KQSValue> items;
};

ThreadState& CurrentThreadState() {
  thread_local ThreadState state;
  return state;
}

// The scratch text, cleared; an unusually long token's memory is given back
// when the holder goes.
class Scratch {
 public:
  explicit Scratch(std::string& text) : fText(text) { fText.clear(); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    if (fText.capacity() > (1u << 16)) std::string().swap(fText);
  }
  std::string& Text() { return fText; }

 private:
  std::string& fText;
};

// One List's part of the thread's item stack: the items pushed while it
// lives, dropped when it goes (also on failure). Nested Lists stack their
// items above, and the vector may move meanwhile, so items are reached by
// index. The outermost List gives an unusually large stack's memory back.
class ItemStack {
 public:
  explicit ItemStack(std::vector<KQSValue>& items) : fItems(items), fBase(items.size()) {}
  ItemStack(const ItemStack&) = delete;
  ItemStack& operator=(const ItemStack&) = delete;
  ~ItemStack() {
    fItems.erase(fItems.begin() + static_cast<std::ptrdiff_t>(fBase), fItems.end());
    if (fBase == 0 && fItems.capacity() > (1u << 16)) std::vector<KQSValue>().swap(fItems);
  }
  void Push(KQSValue&& v) { fItems.push_back(std::move(v)); }
  long Count() const { return static_cast<long>(fItems.size() - fBase); }
  KQSValue* First() { return fItems.data() + fBase; }

 private:
  std::vector<KQSValue>& fItems;
  const size_t fBase;
};

// Holds one nesting level for as long as it lives; ok() is false when the cap
// is reached (and then no level is taken).
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : fDepth(depth), fOk(depth < kMaxDepth) {
    if (fOk) ++fDepth;
  }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  ~DepthGuard() {
    if (fOk) --fDepth;
  }
  bool ok() const { return fOk; }

 private:
  int& fDepth;
  bool fOk;
};

// ----- the cracker table -----
// Plain data, constant-initialised, so the static initializers that register
// the built-in crackers may run before or after this file's.

struct CrackerEntry {
  char tag;
  KQSValue::CrackerFunction reader;
};

CrackerEntry* gCrackers = nullptr;
uint16_t gCrackerCount = 0;
uint16_t gCrackerCapacity = 0;

KQSValue::CrackerFunction FindCracker(char tag) {
  for (uint16_t i = 0; i < gCrackerCount; ++i) {
    if (gCrackers[i].tag == tag) return gCrackers[i].reader;
  }
  return nullptr;
}

// Direct access to the get area, for copying string runs in bulk. Pointers to
// the protected members are formed through this derived class and applied to
// any std::streambuf, which is well defined (no cast to a type the buffer is
// not).
struct GetArea : std::streambuf {
  static char* Next(std::streambuf* b) { return (b->*(&GetArea::gptr))(); }
  static char* End(std::streambuf* b) { return (b->*(&GetArea::egptr))(); }
  static void Skip(std::streambuf* b, int n) { (b->*(&GetArea::gbump))(n); }
};

// The end of the run of string bytes at p that are copied as they are:
// the first quote, backslash or (when grouped) byte above 0x7F, or e.
char* PlainRun(char* p, char* e, char quote, bool grouped) {
  using vxk_internal::ByteScan;
  const uint32_t high = grouped ? ~uint32_t{0} : 0;
  for (; e - p >= static_cast<std::ptrdiff_t>(ByteScan::kWidth); p += ByteScan::kWidth) {
    const uint32_t stops = ByteScan::Either(p, quote, '\\') | (ByteScan::High(p) & high);
    if (stops != 0) return p + std::countr_zero(stops);
  }
  for (; p < e; ++p) {
    const unsigned char b = static_cast<unsigned char>(*p);
    if (b == static_cast<unsigned char>(quote) || b == '\\' || (b >= 0x80 && grouped)) break;
  }
  return p;
}

bool IsBlank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// How the string reader groups bytes into characters.
enum class Grouping { kBytes, kUtf8, kLeadBytes };

// One FormattedInput call: the stream, its buffer and the reading options.
// Nested values of the built-in forms are read by the same object; crackers
// and host classes come back through KQSValue::FormattedInput.
class TextReader {
 public:
  TextReader(std::istream& in, std::streambuf* buffer, KQSClassCracker* cracker, ThreadState& state)
      : fIn(in), fBuffer(buffer), fCracker(cracker), fState(state) {}

  // Reads one value into out, which the caller has made Undefined.
  void Value(KQSValue& out);

 private:
  void Fail() { fIn.setstate(std::ios_base::failbit); }
  void AtEnd() { fIn.setstate(std::ios_base::eofbit); }
  // The next character without taking it; kEof (and eofbit) at the end.
  int Peek() {
    const int c = fBuffer->sgetc();
    if (c == kEof) AtEnd();
    return c;
  }
  // The next character, as istream::get: eofbit and failbit at the end.
  int Get() {
    const int c = fBuffer->sbumpc();
    if (c == kEof) fIn.setstate(std::ios_base::eofbit | std::ios_base::failbit);
    return c;
  }
  // What the numeric extractors skip first (only with skipws set).
  bool SkipBlanks();
  // A signed decimal number in [min, max], as operator>>(long) reads it;
  // first, when not kEof, is its first character, already taken.
  bool Integer(int first, long long min, long long max, long long& value);
  // An unsigned hexadecimal number, as operator>> with std::hex reads it.
  bool Hex(unsigned long& value);
  bool Double(double& value);
  bool RealOf(const char* begin, const char* end, double& value);
  // A character as operator>>(char) reads it: blanks skipped first.
  int Char() { return SkipBlanks() ? Get() : kEof; }

  void String(int quote, KQSValue& out);
  void TypeCode(KQSValue& out);
  void ObjRef(KQSValue& out);
  void Point(KQSValue& out);
  void Date(KQSValue& out);
  void Word(const char* rest, KQSValue& out, bool value);
  void Bytes(KQSValue& out);
  void List(KQSValue& out);
  void Assoc(KQSValue& out);
  // One key or value of an Assoc, as KQSValue::FormattedInput reads it.
  bool AssocItem(KQSValue& out);
  void Tag(KQSValue& out);
  // Reads up to delimiter like istream::getline with a 255-byte buffer;
  // false where getline would set failbit.
  bool TagText(std::string& text);
  bool NonFinite(char c, bool negative, double& value);
  Grouping StringGrouping(const vxk_internal::LeadTable*& lead) const;

  std::istream& fIn;
  std::streambuf* fBuffer;
  KQSClassCracker* fCracker;
  ThreadState& fState;
};

bool TextReader::SkipBlanks() {
  if ((fIn.flags() & std::ios_base::skipws) == 0) return true;
  for (;;) {
    const int c = fBuffer->sgetc();
    if (c == kEof) {
      fIn.setstate(std::ios_base::eofbit | std::ios_base::failbit);
      return false;
    }
    if (!IsBlank(c)) return true;
    fBuffer->sbumpc();
  }
}

bool TextReader::Integer(int first, long long min, long long max, long long& value) {
  value = 0;
  int c = first;
  if (c == kEof) {
    if (!SkipBlanks()) return false;
    c = fBuffer->sgetc();
    if (c == '-' || c == '+') fBuffer->sbumpc();
    else c = kEof;
  }
  const bool negative = c == '-';
  if (c >= '0' && c <= '9') {
    // The first digit was handed in already taken: put it back by value.
    value = c - '0';
  }
  bool digits = c >= '0' && c <= '9';
  const unsigned long long limit =
      negative ? static_cast<unsigned long long>(-(min + 1)) + 1 : static_cast<unsigned long long>(max);
  unsigned long long magnitude = static_cast<unsigned long long>(value);
  bool overflow = false;
  for (;;) {
    // The digits in the get area are taken in bulk; the character after
    // them, or the end of the area, is looked at as a single character.
    if (const char* p = GetArea::Next(fBuffer); p != nullptr) {
      const char* const e = p + std::min<std::ptrdiff_t>(GetArea::End(fBuffer) - p, kMaxBulk);
      const char* q = p;
      for (; q < e && *q >= '0' && *q <= '9'; ++q) {
        const unsigned digit = static_cast<unsigned>(*q - '0');
        if (magnitude > (limit - digit) / 10) overflow = true;
        else magnitude = magnitude * 10 + digit;
      }
      if (q != p) {
        GetArea::Skip(fBuffer, static_cast<int>(q - p));
        digits = true;
      }
      if (q < e) break;
    }
    const int d = fBuffer->sgetc();
    if (d == kEof) {
      AtEnd();
      break;
    }
    if (d < '0' || d > '9') break;
    fBuffer->sbumpc();
    digits = true;
    const unsigned digit = static_cast<unsigned>(d - '0');
    if (magnitude > (limit - digit) / 10) overflow = true;
    else magnitude = magnitude * 10 + digit;
  }
  if (!digits) {
    Fail();
    return false;
  }
  if (overflow) {
    value = negative ? min : max;
    Fail();
    return false;
  }
  value = negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
  return true;
}

bool TextReader::Hex(unsigned long& value) {
  value = 0;
  if (!SkipBlanks()) return false;
  int c = fBuffer->sgetc();
  const bool negative = c == '-';
  if (c == '-' || c == '+') {
    fBuffer->sbumpc();
    c = fBuffer->sgetc();
  }
  bool digits = false;
  bool overflow = false;
  unsigned long long n = 0;
  if (c == '0') {
    // An optional "0x" prefix, as the hexadecimal extractor accepts it.
    fBuffer->sbumpc();
    digits = true;
    c = fBuffer->sgetc();
    if (c == 'x' || c == 'X') fBuffer->sbumpc();
  }
  for (;;) {
    c = fBuffer->sgetc();
    if (c == kEof) {
      AtEnd();
      break;
    }
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else break;
    fBuffer->sbumpc();
    digits = true;
    if (n > (std::numeric_limits<unsigned long>::max() >> 4)) overflow = true;
    else n = (n << 4) | digit;
  }
  if (!digits || overflow) {
    if (overflow) value = std::numeric_limits<unsigned long>::max();
    Fail();
    return false;
  }
  value = static_cast<unsigned long>(negative ? 0 - n : n);
  return true;
}

// Where the accepted characters of a Real stop: the state the floating
// extractor keeps while it takes sign, digits, one point and an exponent
// with its own sign. Fed one character at a time; Take answers whether the
// character belongs to the number.
class RealScan {
 public:
  // Whether c, seen before any digit, starts "inf" or "nan" instead.
  bool NonFiniteStart(char c) const {
    return (c == 'i' || c == 'n') && (fLength == 0 || (fLength == 1 && (fFirst == '-' || fFirst == '+')));
  }
  bool Negative() const { return fLength == 1 && fFirst == '-'; }
  bool Take(char c) {
    if (c >= '0' && c <= '9') {
    } else if ((c == '-' || c == '+') && (fLength == 0 || fLast == 'e' || fLast == 'E')) {
    } else if (c == '.' && !fPoint && !fExponent) {
      fPoint = true;
    } else if ((c == 'e' || c == 'E') && !fExponent && fLength != 0 && fLast != '-' && fLast != '+') {
      fExponent = true;
    } else {
      return false;
    }
    if (fLength == 0) fFirst = c;
    fLast = c;
    ++fLength;
    return true;
  }

 private:
  size_t fLength = 0;
  char fFirst = '\0';
  char fLast = '\0';
  bool fPoint = false;
  bool fExponent = false;
};

// The Real of text of the writer's usual form ("-", digits with digits on
// both sides of an optional point, an optional exponent of up to three
// digits) when it is exact without rounding twice: an integer mantissa of
// at most 2^53 times or divided by a power of ten up to 10^22, both exact
// doubles, so the one rounding of the product or quotient is the correctly
// rounded value, as from_chars gives it. False for anything else, which
// from_chars converts.
// Adds the digits at p to *mantissa (wrapping past 2^64, which the caller
// rules out by counting) and returns where they end.
const char* AddDigits(const char* p, const char* end, uint64_t* mantissa) {
  uint64_t m = *mantissa;
  for (; p != end && static_cast<unsigned>(*p - '0') < 10; ++p) m = m * 10 + static_cast<unsigned>(*p - '0');
  *mantissa = m;
  return p;
}

bool ExactReal(const char* p, const char* end, double& value) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  // At most 19 digits fit the 64-bit mantissa; exactness is checked after.
  if (end - p > 24) return false;
  uint64_t mantissa = 0;
  const char* const first = p;
  p = AddDigits(p, end, &mantissa);
  const long before = p - first;
  long scale = 0;  // digits after the point
  if (p != end && *p == '.') {
    const char* const fraction = ++p;
    p = AddDigits(p, end, &mantissa);
    scale = p - fraction;
    // Only the plainest form: digits on both sides of the point.
    if (scale == 0) return false;
  }
  if (before == 0 || before + scale > 19 || mantissa > (uint64_t{1} << 53)) return false;
  int exponent = 0;
  if (p != end) {
    if (*p != 'e' && *p != 'E') return false;
    ++p;
    bool negativeExponent = false;
    if (p != end && (*p == '-' || *p == '+')) negativeExponent = *p++ == '-';
    if (p == end || end - p > 3) return false;
    for (; p != end; ++p) {
      if (*p < '0' || *p > '9') return false;
      exponent = exponent * 10 + (*p - '0');
    }
    if (negativeExponent) exponent = -exponent;
  }
  exponent -= static_cast<int>(scale);
  double d = static_cast<double>(mantissa);  // exact: at most 2^53
  if (mantissa != 0) {
    if (exponent < -22 || exponent > 22) return false;
    d = exponent < 0 ? d / kPowers[-exponent] : d * kPowers[exponent];
  }
  value = negative ? -d : d;
  return true;
}

// The Real of the accepted characters [begin, end), as the extractor
// converts them; false (and failbit) where it fails.
bool TextReader::RealOf(const char* begin, const char* end, double& value) {
  if (begin != end && *begin == '+') ++begin;
  if (ExactReal(begin, end, value)) return true;
  const std::from_chars_result r = std::from_chars(begin, end, value, std::chars_format::general);
  if (r.ec == std::errc() && r.ptr == end) return true;
  const bool negative = begin != end && *begin == '-';
  if (r.ec == std::errc::result_out_of_range && r.ptr == end) {
    // The largest double written to 15 digits (1.79769313486232e+308) is
    // just above it; read such a number as the largest double, so that
    // every finite Real reads back. Beyond that, overflow fails with the
    // largest magnitude, as the extractor does.
    long double wide = 0;
    const std::from_chars_result w = std::from_chars(begin, end, wide, std::chars_format::general);
    const long double magnitude = wide < 0 ? -wide : wide;
    value = negative ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
    if (w.ec == std::errc() && magnitude > 1 && magnitude <= kLargestWritten) return true;
  } else {
    value = 0;
  }
  Fail();
  return false;
}

bool TextReader::Double(double& value) {
  value = 0;
  if (!SkipBlanks()) return false;
  // A number that ends inside the get area is converted where it lies; one
  // that reaches the area's end is collected character by character.
  if (const char* p = GetArea::Next(fBuffer); p != nullptr) {
    const char* const e = p + std::min<std::ptrdiff_t>(GetArea::End(fBuffer) - p, kMaxBulk);
    // The same acceptance as RealScan, in its only possible order: sign,
    // digits, point, digits, exponent letter (not right after a sign or at
    // the start), its sign, digits.
    const char* q = p;
    auto digits = [&q, e] {
      while (q < e && *q >= '0' && *q <= '9') ++q;
    };
    if (q < e && (*q == '-' || *q == '+')) ++q;
    if (q < e && (*q == 'i' || *q == 'n')) {
      GetArea::Skip(fBuffer, static_cast<int>(q - p));
      return NonFinite(*q, q != p && *p == '-', value);
    }
    digits();
    if (q < e && *q == '.') {
      ++q;
      digits();
    }
    if (q < e && (*q == 'e' || *q == 'E') && q != p && q[-1] != '-' && q[-1] != '+') {
      ++q;
      if (q < e && (*q == '-' || *q == '+')) ++q;
      digits();
    }
    if (q < e) {
      GetArea::Skip(fBuffer, static_cast<int>(q - p));
      return RealOf(p, q, value);
    }
  }
  Scratch scratch(fState.scratch);
  std::string& text = scratch.Text();
  RealScan scan;
  for (;;) {
    const int c = fBuffer->sgetc();
    if (c == kEof) {
      AtEnd();
      break;
    }
    const char ch = static_cast<char>(c);
    if (scan.NonFiniteStart(ch)) return NonFinite(ch, scan.Negative(), value);
    if (!scan.Take(ch)) break;
    text += ch;
    fBuffer->sbumpc();
  }
  return RealOf(text.data(), text.data() + text.size(), value);
}

// "inf" or "nan" after an optional sign, as the Real writer puts the values
// that are not finite; c is the word's first letter, not yet taken.
bool TextReader::NonFinite(char c, bool negative, double& value) {
  const char* word = c == 'i' ? "inf" : "nan";
  for (const char* w = word; *w != '\0'; ++w) {
    if (fBuffer->sgetc() != *w) {
      value = 0;
      Fail();
      return false;
    }
    fBuffer->sbumpc();
  }
  value = c == 'i' ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
  if (negative) value = -value;
  return true;
}

Grouping TextReader::StringGrouping(const vxk_internal::LeadTable*& lead) const {
  if (fCracker != nullptr && fCracker->UseCodePage()) {
    if (fCracker->CodePage() == vxk_internal::kCodePageUtf8) return Grouping::kUtf8;
    lead = &vxk_internal::LeadTableFor(fCracker->CodePage());
    return lead == &vxk_internal::kLeadNone ? Grouping::kBytes : Grouping::kLeadBytes;
  }
  const bool multiByte = fCracker != nullptr ? fCracker->IsMultiByte() : KIntl::MultiByte();
  if (!multiByte || KIntl::Utf8()) return Grouping::kBytes;
  lead = &vxk_internal::LeadTableFor(vxk_internal::DbcsCodePage());
  return Grouping::kLeadBytes;
}

void TextReader::String(int quote, KQSValue& out) {
  const vxk_internal::LeadTable* lead = &vxk_internal::kLeadNone;
  const Grouping grouping = StringGrouping(lead);
  // Bytes at or above 0x80 leave the bulk copy when they may start a group.
  const bool grouped = grouping != Grouping::kBytes;
  Scratch scratch(fState.scratch);
  std::string& text = scratch.Text();
  for (;;) {
    // Copy the run of ordinary bytes straight out of the get area.
    char* p = GetArea::Next(fBuffer);
    char* const e = GetArea::End(fBuffer);
    if (p != nullptr && p < e) {
      char* const q = PlainRun(p, p + std::min<std::ptrdiff_t>(e - p, kMaxBulk), static_cast<char>(quote), grouped);
      if (q != e && *q == quote && text.empty()) {
        // The whole string lies in the get area: made from it directly.
        GetArea::Skip(fBuffer, static_cast<int>(q - p) + 1);
        out = KQSValue(KQSValue::Class_String(), KQSValueString::Make(p, static_cast<unsigned>(q - p)));
        return;
      }
      if (q != p) {
        text.append(p, static_cast<size_t>(q - p));
        GetArea::Skip(fBuffer, static_cast<int>(q - p));
        if (q == e) continue;
      }
    }
    int c = fBuffer->sbumpc();
    if (c == kEof) {
      AtEnd();  // the end of input ends the string
      break;
    }
    if (c == quote) break;
    if (c == '\\') {
      c = fBuffer->sbumpc();
      if (c == kEof) {
        AtEnd();
        break;
      }
      if (c == 'n') c = '\n';
      else if (c == 'r') c = '\r';
      else if (c == 't') c = '\t';
    }
    text += static_cast<char>(c);
    const unsigned char b = static_cast<unsigned char>(c);
    if (grouping == Grouping::kUtf8) {
      // A lead byte takes its continuation bytes along; a byte that is no
      // continuation (a quote, a backslash) ends the group early, so text
      // that is not valid UTF-8 still reads back as it was written.
      int more = (b & 0xE0) == 0xC0 ? 1 : ((b & 0xF0) == 0xE0 ? 2 : ((b & 0xF8) == 0xF0 ? 3 : 0));
      for (; more > 0; --more) {
        const int t = fBuffer->sgetc();
        if (t == kEof || (t & 0xC0) != 0x80) break;
        text += static_cast<char>(fBuffer->sbumpc());
      }
    } else if (grouping == Grouping::kLeadBytes && lead->fLead[b]) {
      // A lead byte takes the next byte along, unless that byte is a quote:
      // a lone lead byte at the end of a text is written just before the
      // closing quote, and a quote inside the text after a lead byte is
      // written doubled (no code page has a quote as a trail byte).
      const int t = fBuffer->sgetc();
      if (t != kEof && t != quote) {
        text += static_cast<char>(fBuffer->sbumpc());
      } else if (t == quote) {
        fBuffer->sbumpc();
        if (fBuffer->sgetc() != quote) break;  // it closed the string
        text += static_cast<char>(fBuffer->sbumpc());
      }
    }
  }
  out = KQSValue(KQSValue::Class_String(), KQSValueString::Make(text.data(), static_cast<unsigned>(text.size())));
}

void TextReader::TypeCode(KQSValue& out) {
  const int c = fBuffer->sbumpc();
  if (c == kEof) {
    fIn.setstate(std::ios_base::eofbit | std::ios_base::failbit);
    DebugText("operator>>( % ) EOF\n");
    return;
  }
  if (c != '\'') {
    DebugText("KQSValue::operator>>( no quoted FQN specified for typecode )\n");
    return;
  }
  Scratch scratch(fState.scratch);
  std::string& text = scratch.Text();
  for (;;) {
    const int t = fBuffer->sbumpc();
    if (t == kEof) {
      AtEnd();
      break;
    }
    if (t == '\'') break;
    text += static_cast<char>(t);
  }
  out = KQSValue::NewTypeCodeValue(KString(text.data(), static_cast<unsigned>(text.size())));
}

void TextReader::ObjRef(KQSValue& out) {
  unsigned long n = 0;
  if (!Hex(n)) return;
  // Class 3 is the host's object reference class. Without it, or when it is
  // a storage class, the word would be taken for an address: refuse.
  const KQSClass* c = KQSValue::NumberToClass(vxk_types::kObjRef);
  if (c == nullptr || c->IsPointer() || c->CountsStorage()) {
    DebugText("KQSValue::operator>>( # ) no object reference class\n");
    return;
  }
  out = KQSValue(c, reinterpret_cast<void*>(static_cast<uintptr_t>(n)));
}

void TextReader::Point(KQSValue& out) {
  long long x = 0;
  long long y = 0;
  if (!Integer(kEof, std::numeric_limits<long>::min(), std::numeric_limits<long>::max(), x)) return;
  const int comma = Char();
  if (comma == kEof) return;
  if (!Integer(kEof, std::numeric_limits<long>::min(), std::numeric_limits<long>::max(), y)) return;
  const int close = Char();
  if (comma != ',' || close != ')' || !fIn.good()) return;
  out = GEOM_point{static_cast<int32_t>(x), static_cast<int32_t>(y)};
}

void TextReader::Date(KQSValue& out) {
  long long f[6] = {};
  for (int i = 0; i < 6; ++i) {
    if (Get() == kEof) return;
    const long long min = i == 0 ? std::numeric_limits<int16_t>::min() : std::numeric_limits<long>::min();
    const long long max = i == 0 ? std::numeric_limits<int16_t>::max() : std::numeric_limits<long>::max();
    if (!Integer(kEof, min, max, f[i])) return;
  }
  KDateTime d;
  d.Year(static_cast<int>(f[0]));
  d.Month(static_cast<int>(static_cast<int8_t>(f[1])));
  d.Day(static_cast<int>(static_cast<int8_t>(f[2])));
  d.Hour(static_cast<int>(static_cast<int8_t>(f[3])));
  d.Minute(static_cast<int>(static_cast<int8_t>(f[4])));
  d.Second(static_cast<int>(static_cast<int8_t>(f[5])));
  d.Milliseconds(0);
  out = d;
}

void TextReader::Word(const char* rest, KQSValue& out, bool value) {
  for (const char* r = rest; *r != '\0'; ++r) {
    const int c = Peek();
    if (c == kEof) break;
    const int lower = c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
    if (lower != *r) break;
    fBuffer->sbumpc();
  }
  out = KQSValue::Boolean(value ? 1 : 0);
}

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void TextReader::Bytes(KQSValue& out) {
  std::string bytes;
  bool valid = true;
  for (;;) {
    const int hi = Get();
    if (hi == kEof) return;
    if (hi == ']') break;
    const int lo = Get();
    if (lo == kEof) return;
    if (lo == ']') {
      valid = false;  // an odd digit count
      break;
    }
    const int h = HexDigit(hi);
    const int l = HexDigit(lo);
    // Keep reading to the "]" so that an enclosing List stays in step.
    if (h < 0 || l < 0) valid = false;
    else if (valid) bytes += static_cast<char>(h << 4 | l);
  }
  if (valid) out = KQSValue::NewBytesValue(bytes.data(), static_cast<long>(bytes.size()));
}

void TextReader::List(KQSValue& out) {
  DepthGuard depth(fState.depth);
  if (!depth.ok()) {
    Fail();
    return;
  }
  ItemStack items(fState.items);
  for (;;) {
    const int c = Peek();
    if (c == kEof) return;
    if (c == '}') {
      fBuffer->sbumpc();
      const long n = items.Count();
      if (n == 0) {
        out = KQSValue::List();
      } else {
        out = KQSValue(KQSValue::Class_List(), static_cast<void*>(KQSValueList::FromValues(items.First(), n)));
      }
      return;
    }
    if (c == ',' || c == ' ') {
      fBuffer->sbumpc();
      continue;
    }
    KQSValue item;
    Value(item);
    if (fIn.fail()) return;
    items.Push(std::move(item));
  }
}

bool TextReader::TagText(std::string& text) {
  text.clear();
  for (;;) {
    const int c = fBuffer->sgetc();
    if (c == kEof) {
      if (text.empty()) {
        fIn.setstate(std::ios_base::eofbit | std::ios_base::failbit);
        return false;
      }
      AtEnd();
      return true;
    }
    if (c == '>') {
      fBuffer->sbumpc();
      return true;
    }
    if (text.size() == kMaxTagText) {
      // getline stops before the character that would not fit.
      Fail();
      return false;
    }
    text += static_cast<char>(c);
    fBuffer->sbumpc();
  }
}

void TextReader::Tag(KQSValue& out) {
  DepthGuard depth(fState.depth);
  if (!depth.ok()) {
    Fail();
    return;
  }
  std::string tag;
  if (!TagText(tag)) {
    DebugText("KQSValue::operator>>() getline( '>' ) failed\n");
    return;
  }
  if (tag.compare(0, 3, "VX:") != 0) {
    DebugText("KQSValue::operator>>() bad tag: <", tag, ">\n");
    return;
  }
  // The class name ends at the first blank; attributes are the class's own.
  size_t end = 3;
  while (end < tag.size() && !IsBlank(static_cast<unsigned char>(tag[end]))) ++end;
  const std::string name = tag.substr(3, end - 3);
  const KQSClass* c = KQSValue::NameToClass(KString(name.data(), static_cast<unsigned>(name.size())));
  if (c == nullptr) {
    DebugText("KQSValue::operator>>() No such class: <", name, ">\n");
    return;
  }
  if (!c->FormattedInput(fIn, out, nullptr)) {
    DebugText("KQSValue::operator>>() Error during FormattedInput()\n");
    out.Undefine();
    return;
  }
  // The next character must open the closing tag. A different one stays in
  // the stream, where an enclosing List may still need it.
  if (fIn.fail() || fBuffer->sgetc() != '<') {
    DebugText("KQSValue::operator>>() No closing tag after FormattedInput()\n");
    return;
  }
  fBuffer->sbumpc();
  std::string closing;
  if (!TagText(closing)) {
    DebugText("KQSValue::operator>>() No closing '>' in closing tag after FormattedInput()\n");
  }
}

void TextReader::Value(KQSValue& out) {
  const int c = Get();
  if (c == kEof) return;
  long long n = 0;
  switch (c) {
    case '\'':
    case '"':
      String(c, out);
      return;
    case '#':
      ObjRef(out);
      return;
    case '%':
      TypeCode(out);
      return;
    case '(':
      Point(out);
      return;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      if (Integer(c, std::numeric_limits<long>::min(), std::numeric_limits<long>::max(), n))
        out = static_cast<long>(n);
      return;
    case '<':
      Tag(out);
      return;
    case '?':
      return;
    case 'B':
      if (Get() == kEof) return;
      if (Integer(kEof, std::numeric_limits<long>::min(), std::numeric_limits<long>::max(), n))
        out = KQSValue::BlobId(static_cast<long>(n));
      return;
    case 'D':
      Date(out);
      return;
    case 'F':
    case 'f':
      Word("alse", out, false);
      return;
    case 'T':
    case 't':
      Word("rue", out, true);
      return;
    case 'G': {
      double d = 0;
      if (Double(d)) out = d;
      return;
    }
    case 'L':
      if (Integer(kEof, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max(), n))
        out = static_cast<int64>(n);
      return;
    case 'N':
      out = KQSValue::NotSet();
      return;
    case '[':
      Bytes(out);
      return;
    case '{':
      List(out);
      return;
    default:
      break;
  }
  const KQSValue::CrackerFunction reader = FindCracker(static_cast<char>(c));
  if (reader == nullptr) return;
  DepthGuard depth(fState.depth);
  if (!depth.ok()) {
    Fail();
    return;
  }
  if (reader == &vxk_internal::ReadAssocText) {
    Assoc(out);
    return;
  }
  reader(fIn, static_cast<char>(c), out, fCracker);
}

// What vxk_internal::ReadAssocText does, step for step (the same stream
// calls in the same order), with each key and value read by this reader
// rather than through a FormattedInput call of its own.
void TextReader::Assoc(KQSValue& out) {
  auto peek = [this] {
    if (fIn.fail()) return kEof;
    const int c = fIn.rdbuf()->sgetc();
    if (c == kEof) AtEnd();
    return c;
  };
  auto get = [this] {
    if (fIn.fail()) return kEof;
    const int c = fIn.rdbuf()->sbumpc();
    if (c == kEof) fIn.setstate(std::ios_base::eofbit | std::ios_base::failbit);
    return c;
  };
  vxk_internal::ReadAssocItems(fIn, out, peek, get, [this](KQSValue& v) { return AssocItem(v); });
}

bool TextReader::AssocItem(KQSValue& out) {
  // A class's reader may have given the stream another buffer.
  if (fIn.rdbuf() != fBuffer) {
    KQSValue::FormattedInput(fIn, out, fCracker);
    return !fIn.fail();
  }
  out.Undefine();
  if (!fIn.good()) {
    Fail();
    return false;
  }
  try {
    Value(out);
  } catch (...) {
    out.Undefine();
    fIn.setstate(std::ios_base::badbit);
  }
  return !fIn.fail();
}

}  // namespace

std::istream& KQSValue::FormattedInput(std::istream& in, KQSValue& out, KQSClassCracker* cracker) {
  out.Undefine();
  std::streambuf* buffer = in.rdbuf();
  if (!in.good() || buffer == nullptr) {
    // What get() does on a stream that is not ready; never throws here.
    const std::ios_base::iostate mask = in.exceptions();
    if (mask != std::ios_base::goodbit) in.exceptions(std::ios_base::goodbit);
    in.setstate(std::ios_base::failbit);
    if (mask != std::ios_base::goodbit) {
      try {
        in.exceptions(mask);
      } catch (...) {
      }
    }
    return in;
  }
  // The reader reports through the stream state, never by throwing: an
  // exception mask is lifted for the call and put back afterwards.
  const std::ios_base::iostate mask = in.exceptions();
  if (mask != std::ios_base::goodbit) in.exceptions(std::ios_base::goodbit);
  try {
    // The document's blocks lie together, in the order they are read.
    vxk_internal::ArenaScope arena;
    TextReader(in, buffer, cracker, CurrentThreadState()).Value(out);
  } catch (...) {
    // A failing stream buffer or allocation: nothing half-read is kept.
    out.Undefine();
    in.setstate(std::ios_base::badbit);
  }
  if (mask != std::ios_base::goodbit) {
    try {
      in.exceptions(mask);
    } catch (...) {
    }
  }
  return in;
}

std::istream& operator>>(std::istream& in, KQSValue& v) {
  // Imbuing costs a locale copy and the stream's callbacks: skip it when the
  // stream already reads in the classic locale.
  if (!(in.getloc() == std::locale::classic())) in.imbue(std::locale::classic());
  return KQSValue::FormattedInput(in, v, nullptr);
}

unsigned char KQSValue::RegisterCracker(char tag, CrackerFunction reader) {
  if (gCrackerCount == gCrackerCapacity) {
    if (gCrackerCapacity > std::numeric_limits<uint16_t>::max() - 4) return 0;
    const uint16_t capacity = static_cast<uint16_t>(gCrackerCount + 4);
    auto* grown = new CrackerEntry[capacity];
    if (gCrackerCount != 0) std::memcpy(grown, gCrackers, sizeof(CrackerEntry) * gCrackerCount);
    delete[] gCrackers;
    gCrackers = grown;
    gCrackerCapacity = capacity;
  }
  gCrackers[gCrackerCount].tag = tag;
  gCrackers[gCrackerCount].reader = reader;
  ++gCrackerCount;
  return 1;
}
