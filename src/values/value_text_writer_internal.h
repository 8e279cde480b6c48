// The fast lane of the value text writer.
//
// Every class and storage writes its own text form onto a std::ostream. Done
// naively, each comma, digit run and quote of a large List or Assoc is one
// formatted insertion: a sentry, a num_put facet with locale look-ups and a
// printf for every Real. A TextSink writes the same bytes straight into the
// stream's buffer instead, whenever the stream is in a state in which the
// formatted insertions would have produced exactly those bytes: good, no
// field width, no unitbuf, no showpos/showpoint/showbase/uppercase, decimal
// base and the classic locale (which operator<< and FormattedString always
// set). In any other state the sink is "slow" and performs the very stream
// operations the writers performed before, so the text is the same byte for
// byte either way.
//
// A fast sink registers itself in the stream (an ios_base::pword slot) for
// its lifetime, so writers reached further down through virtual calls (an
// Assoc's storage Formatter inside a List, say) find it and keep writing
// through it instead of checking the stream again. WriteValueText writes the
// common built-in types directly and hands every other value to its class.
//
// A sink belongs to the one thread writing the value, like the stream and
// the value itself; it lives on that thread's stack for one write.
#ifndef VXKERNEL_VALUES_VALUE_TEXT_WRITER_INTERNAL_H_
#define VXKERNEL_VALUES_VALUE_TEXT_WRITER_INTERNAL_H_

#include <cstddef>
#include <cstring>
#include <optional>
#include <ostream>

#include "text/text_walk.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/values/KQSValue.h"

class KQSClassFormatter;

namespace vxk_internal {

// Direct access to a stream buffer's put area. Pointers to the protected
// members are formed through this derived class and applied to any
// std::streambuf, which is well defined (no cast to a type the buffer is
// not).
struct PutArea : std::streambuf {
  static char* Next(std::streambuf* b) { return (b->*(&PutArea::pptr))(); }
  static char* End(std::streambuf* b) { return (b->*(&PutArea::epptr))(); }
  static void Bump(std::streambuf* b, int n) { (b->*(&PutArea::pbump))(n); }
};

class TextSink {
 public:
  // Fast when out's state allows it (see above); registers a fast sink.
  explicit TextSink(std::ostream& out);
  TextSink(const TextSink&) = delete;
  TextSink& operator=(const TextSink&) = delete;
  ~TextSink();

  // The fast sink an enclosing writer opened on out, or null.
  static TextSink* Active(std::ostream& out);

  bool Fast() const { return fFast; }
  std::ostream& Stream() { return fOut; }
  // The text settings read when the sink was opened.
  const TextEnv& Env() const { return fEnv; }

  // A character or a NUL-terminated text as a formatted insertion writes it.
  void Put(char c) {
    if (!fFast) return Slow(c);
    if (fBuf->sputc(c) == std::char_traits<char>::eof()) Fail();
  }
  void Text(const char* z);
  // Bytes as ostream::write writes them. Short pieces are copied straight
  // into the buffer's put area while it has room: no virtual call per piece.
  void Write(const char* p, size_t n) {
    if (!fFast) return SlowWrite(p, n);
    char* at = PutArea::Next(fBuf);
    if (n <= static_cast<size_t>(PutArea::End(fBuf) - at) && at != nullptr && fOut.rdstate() == 0) {
      std::memcpy(at, p, n);
      PutArea::Bump(fBuf, static_cast<int>(n));
      return;
    }
    if (fOut.rdstate() == 0 && static_cast<size_t>(fBuf->sputn(p, static_cast<std::streamsize>(n))) != n) Fail();
  }
  // Where n bytes may be written straight into the buffer, or null when
  // the put area lacks the room (or the sink is slow); Commit(k) then
  // takes the first k of them.
  char* Room(size_t n) {
    if (!fFast || fOut.rdstate() != 0) return nullptr;
    char* at = PutArea::Next(fBuf);
    return at != nullptr && n <= static_cast<size_t>(PutArea::End(fBuf) - at) ? at : nullptr;
  }
  void Commit(size_t k) { PutArea::Bump(fBuf, static_cast<int>(k)); }
  // Numbers as `out << v` writes them.
  void Decimal(long v);
  void Decimal(long long v);
  void Decimal(int v) { Decimal(static_cast<long>(v)); }
  // "%.15g", as the stream's default floating format with precision 15.
  void Real(double v);

  // To be called after code that writes to the stream by itself (a class
  // without a fast path): a writer that changed the stream's flags sends
  // the rest of this write down the slow lane, as it would have before.
  void Recheck();

 private:
  // v as std::to_chars writes it with format, into the put area when it
  // has room.
  template <class T, class... Format>
  void Chars(T v, Format... format);
  void Slow(char c);
  void SlowWrite(const char* p, size_t n);
  void Fail();

  std::ostream& fOut;
  std::streambuf* fBuf;
  TextSink* fPrevious = nullptr;  // the sink registered before this one
  TextEnv fEnv;
  bool fFast;
  bool fRegistered = false;
};

// The sink to write into out with: the active one, or a new one.
class TextSinkScope {
 public:
  explicit TextSinkScope(std::ostream& out) : fSink(TextSink::Active(out)) {
    if (fSink == nullptr) fSink = &fOwn.emplace(out);
  }
  TextSink& operator*() const { return *fSink; }
  TextSink* operator->() const { return fSink; }

 private:
  TextSink* fSink;
  std::optional<TextSink> fOwn;
};

// Starts loading the storage a pointer value's text is written from.
inline void PrefetchValue(const KQSValue& v);
// For a value whose storage was fetched ahead: starts loading a String's
// text, which lies in allocations of its own.
void PrefetchText(const KQSValue& v);

// Writes v's text form, with f as its formatter, through sink: the common
// built-in types directly, every other value through its class.
void WriteValueText(TextSink& sink, const KQSValue& v, KQSClassFormatter* f);

// Writes v as operator<< does: the classic locale and a fresh formatter.
void WriteValueTextFresh(TextSink& sink, const KQSValue& v);

// The text form FormattedString answers: v written as operator<< writes it,
// into a buffer that becomes the string without a stream's copies.
KString FormattedStringOf(const KQSValue& v);

// "'" text "'" with line feeds, carriage returns, quotes and backslashes
// escaped; in double-byte mode a lead byte and its partner stay together.
void WriteQuotedText(TextSink& sink, const char* text, size_t length);

inline void PrefetchValue(const KQSValue& v) {
  const KQSClass* c = v.Class();
  if (c == nullptr || !c->CountsStorage() || v.Instance() == nullptr) return;
  // The storage object, and the line after it, where the text it points
  // to usually lies (it was allocated just before).
  const char* p = static_cast<const char*>(v.Instance());
  __builtin_prefetch(p);
  __builtin_prefetch(p + 64);
}

}  // namespace vxk_internal

#endif  // VXKERNEL_VALUES_VALUE_TEXT_WRITER_INTERNAL_H_
