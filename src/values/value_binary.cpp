// The value binary form: KQSValue::ReadBinary, the BinaryInput operations
// of the types that travel in binary, and the List writer (the scalar
// writers sit with their classes in src/classes/).
//
// One value is its class number as a little-endian int16, then the class's
// payload (every integer little-endian and signed):
//
//   Undefined (0)     nothing
//   Integer (2)       int32
//   Boolean (5)       1 byte; any byte but 0 reads back as true
//   String (-1)       counted string (base/coding.h): the 16-bit count n
//   TypeCode (-132)   (the bytes and their NUL), escaped to 0xFFFF and a
//                     32-bit count above kCountedShortMax; then n bytes
//   List (-2)         int32 count, then count complete values
//
// The reader is meant for untrusted bytes. It never allocates ahead of what
// the stream has delivered: counted strings are read in 4 KB pieces, and a
// List grows one element at a time and stops at the first read that fails,
// whatever count it claimed. Lists nest at most kMaxListDepth levels, so a
// crafted stream cannot exhaust the stack.
#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <typeinfo>
#include <utility>

#include "base/arena.h"
#include "base/check.h"
#include "base/coding.h"
#include "base/debug_line.h"
#include "vxkernel/classes/KOPPEnvironment.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KQSValueString.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::DebugLine;
using vxk_internal::DebugText;

// The code of a value is its class number, as a 16-bit field.
static_assert(sizeof(std::declval<const KQSClass&>().ClassNumber()) == 2,
              "class numbers are the 16-bit codes of the binary form");

namespace {

// Deepest List nesting the reader builds; the top-level List is level 1.
// 512 levels take well under 200 KB of stack even in sanitizer builds, and
// no value the writers produce in practice comes near it.
constexpr int kMaxListDepth = 512;

KQSValue ReadList(std::istream& in, KQSClassCracker* cracker, int depth);

// ===== Byte reading =====
//
// The payload readers go to the stream's buffer directly: istream::read
// builds a sentry for every field, which costs more than the field. The
// stream state ends as read() would leave it: a short read sets eofbit and
// failbit, and nothing is read from a stream that is not good.

void ReportShort() { DebugLine("KQSValue::ReadBinary()", "unexpected end of stream"); }

bool ReadRaw(std::istream& in, void* p, size_t n) {
  std::streambuf* buf = in.rdbuf();
  if (!in.good() || buf == nullptr) {
    in.setstate(std::ios_base::failbit);
    ReportShort();
    return false;
  }
  const std::streamsize want = static_cast<std::streamsize>(n);
  if (buf->sgetn(static_cast<char*>(p), want) != want) {
    in.setstate(std::ios_base::eofbit | std::ios_base::failbit);
    ReportShort();
    return false;
  }
  return true;
}

bool ReadI16(std::istream& in, int16_t* v) {
  unsigned char b[2];
  if (!ReadRaw(in, b, 2)) return false;
  *v = static_cast<int16_t>(vxk_internal::DecodeFixed16(b));
  return true;
}

bool ReadI32(std::istream& in, int32_t* v) {
  unsigned char b[4];
  if (!ReadRaw(in, b, 4)) return false;
  *v = static_cast<int32_t>(vxk_internal::DecodeFixed32(b));
  return true;
}

// A counted string, as SwapReadStr reads it: an invalid count (0, or above
// 2^31 - 1) gives the empty text with one debug line and leaves the stream
// as it is; the text ends at the first NUL. Short texts are read into a
// buffer on the stack; longer ones in pieces, so a damaged count costs no
// more memory than the bytes that are really there. False when the stream
// ended early.
bool ReadCounted(std::istream& in, KString* text) {
  uint32_t n = 0;
  if (!vxk_internal::ReadCountedCount([&in](void* p, size_t k) { return ReadRaw(in, p, k); }, &n)) {
    return false;
  }
  if (!vxk_internal::ValidCount(n)) {
    DebugLine("KQSValue::ReadBinary()", "invalid string length ", n);
    *text = KString();
    return true;
  }
  constexpr uint32_t kPiece = 4096;
  if (n <= kPiece) {
    char piece[kPiece];
    if (!ReadRaw(in, piece, n)) return false;
    const void* nul = std::memchr(piece, 0, n);
    *text = KString(piece, nul != nullptr ? static_cast<unsigned>(static_cast<const char*>(nul) - piece) : n);
    return true;
  }
  std::string bytes;
  for (uint32_t done = 0; done < n;) {
    const uint32_t k = n - done < kPiece ? n - done : kPiece;
    bytes.resize(done + k);
    if (!ReadRaw(in, &bytes[done], k)) return false;
    done += k;
  }
  const size_t end = bytes.find('\0');
  *text = KString(bytes.data(), static_cast<unsigned>(end != std::string::npos ? end : bytes.size()));
  return true;
}

// ===== List writing =====
//
// A List is encoded into one buffer that reaches the stream in large
// writes, rather than one stream write per field: the built-in binary types
// are encoded here, byte for byte as their classes write them; a value of
// any other class (a subclass included) is written by its own class after
// the buffer is flushed. One writer serves one BinaryOutput call on the
// calling thread; it owns only its buffer.
class ListWriter {
 public:
  ListWriter(std::ostream& out, KQSClassFormatter* f) : fOut(out), fFormatter(f) {}
  ~ListWriter() { Flush(); }
  ListWriter(const ListWriter&) = delete;
  ListWriter& operator=(const ListWriter&) = delete;

  void List(short code, const KQSValueList* window) {
    // A List the reader would not build is written as Undefined, so that
    // what is written reads back.
    if (fDepth >= kMaxListDepth) {
      PutI16(vxk_types::kUndefined);
      if (!fReportedDepth) {
        DebugLine("KQSClass_List::BinaryOutput()", "Lists nested deeper than ", kMaxListDepth,
                  " levels are written as Undefined");
        fReportedDepth = true;
      }
      return;
    }
    ++fDepth;
    const long n = window != nullptr ? window->Length() : 0;
    PutI16(code);
    PutI32(static_cast<int32_t>(n));
    // Writing an element never changes this list, so each node stays valid
    // while it is written.
    for (long i = 1; i <= n; ++i) {
      const auto* node = window->FindNode(i);
      VXK_DCHECK(node != nullptr);  // every position of 1..n has its node
      Value(node->value);
    }
    --fDepth;
  }

 private:
  // Flushed when it grows past this, so a long List costs bounded memory.
  static constexpr size_t kFlushAt = 64 * 1024;

  void Value(const KQSValue& v) {
    const KQSClass* c = v.Class();
    if (c == KQSValue::Class_Integer()) {
      PutI16(c->ClassNumber());
      PutI32(static_cast<int32_t>(static_cast<long>(v)));
    } else if (c == KQSValue::Class_Undefined()) {
      PutI16(c->ClassNumber());
    } else if (c == KQSValue::Class_Boolean()) {
      PutI16(c->ClassNumber());
      fBuf += static_cast<char>(reinterpret_cast<uintptr_t>(v.Instance()) & 0xFF);
    } else if (c == KQSValue::Class_String() && IsPlainString(v.User())) {
      const auto* s = static_cast<const KQSValueString*>(v.User());
      if (!PutText(s != nullptr ? s->Type() : c->ClassNumber(), s)) ByClass(v);
    } else if (c == KQSValue::Class_TypeCode()) {
      if (!PutText(c->ClassNumber(), static_cast<const KQSValueString*>(v.User()))) ByClass(v);
    } else if (c == KQSValue::Class_List()) {
      List(c->ClassNumber(), static_cast<const KQSValueList*>(v.User()));
    } else {
      ByClass(v);
    }
    if (fBuf.size() >= kFlushAt) Flush();
  }

  // A value written by its own class, after what is buffered.
  void ByClass(const KQSValue& v) {
    Flush();
    v.WriteBinary(fOut, fFormatter);
  }

  // Storage whose binary form is the plain one (a subclass may write its own).
  static bool IsPlainString(const KQSValueBase* storage) {
    if (storage == nullptr) return true;
    const KQSValueBase& object = *storage;
    return typeid(object) == typeid(KQSValueString);
  }

  void PutI16(short v) { vxk_internal::PutFixed16(&fBuf, static_cast<uint16_t>(v)); }
  void PutI32(int32_t v) { vxk_internal::PutFixed32(&fBuf, static_cast<uint32_t>(v)); }
  // The code, then the text up to its NUL and the NUL as a counted string,
  // as StringBinaryOutput writes them (a null storage writes ""). False,
  // with nothing buffered, for a text longer than a count can say, which
  // its class then refuses with its own line.
  bool PutText(short code, const KQSValueString* s) {
    const char* text = s != nullptr ? static_cast<const char*>(s->String()) : "";
    const size_t mark = fBuf.size();
    PutI16(code);
    if (vxk_internal::PutCountedString(&fBuf, text)) return true;
    fBuf.resize(mark);
    return false;
  }
  void Flush() {
    if (fBuf.empty()) return;
    fOut.write(fBuf.data(), static_cast<std::streamsize>(fBuf.size()));
    if (!fOut.good() && !fReported) {
      DebugLine("KQSClass_List::BinaryOutput()", "write failed");
      fReported = true;
    }
    fBuf.clear();
  }

  std::ostream& fOut;
  KQSClassFormatter* fFormatter;
  int fDepth = 0;  // Lists open; the outermost is level 1
  bool fReportedDepth = false;
  std::string fBuf;
  bool fReported = false;
};

// The class of code, without the registry's own complaint about numbers
// outside every table: the caller reports "class not found" once.
const KQSClass* ClassOf(short code) {
  if (code == KQSValue::kNoClassNumber || code < KOPPEnvironment::kProcessLow ||
      code > KOPPEnvironment::kEnvHigh) {
    return nullptr;
  }
  return KQSValue::NumberToClass(code);
}

// The payload of a value whose code has been read. Lists are read here,
// not through their class's BinaryInput, so that the nesting depth travels
// with the recursion.
KQSValue ReadCoded(std::istream& in, short code, KQSClassCracker* cracker, int depth) {
  const KQSClass* c = ClassOf(code);
  if (c == nullptr) {
    DebugText("KQSValue::ReadBinary( ", code, " ) class not found\n");
    return KQSValue();
  }
  if (c == KQSValue::Class_List()) return ReadList(in, cracker, depth + 1);
  return c->BinaryInput(in, cracker);
}

// A List at nesting level depth (1 for the outermost). The elements read
// completely before a failed read are kept; an element cut short is not.
KQSValue ReadList(std::istream& in, KQSClassCracker* cracker, int depth) {
  if (depth > kMaxListDepth) {
    DebugText("KQSClass_List::BinaryInput() Lists nested deeper than ", kMaxListDepth, " levels\n");
    return KQSValue();
  }
  int32_t count = 0;
  if (!ReadI32(in, &count)) return KQSValue();
  KQSValue list = KQSValue::List();
  KQSValueList* window = nullptr;  // made by the first append
  for (int32_t i = 0; i < count; ++i) {
    int16_t code = 0;
    if (!ReadI16(in, &code)) break;
    KQSValue element = ReadCoded(in, code, cracker, depth);
    if (in.fail()) break;
    if (window == nullptr) {
      list.ListAppendValue(element);
      window = static_cast<KQSValueList*>(list.User());
    } else {
      window->AppendValue(element);
    }
  }
  return list;
}

}  // namespace

// ===== Entry points =====

// The document's blocks lie together, in the order they are read.
KQSValue KQSValue::ReadBinary(std::istream& in, KQSClassCracker* cracker) {
  int16_t code = 0;
  if (!ReadI16(in, &code)) return KQSValue();
  vxk_internal::ArenaScope arena;
  return ReadCoded(in, code, cracker, 0);
}

KQSValue KQSValue::ReadBinary(std::istream& in, short code, KQSClassCracker* cracker) {
  vxk_internal::ArenaScope arena;
  return ReadCoded(in, code, cracker, 0);
}

// ===== Scalar readers =====
//
// A payload cut short reads as Undefined; the stream's failed state tells
// the caller, and the byte reader has written the debug line.

KQSValue KQSClass_Undefined::BinaryInput(std::istream& /*in*/, KQSClassCracker* /*c*/) const { return KQSValue(); }

KQSValue KQSClass_Integer::BinaryInput(std::istream& in, KQSClassCracker* /*c*/) const {
  int32_t v = 0;
  if (!ReadI32(in, &v)) return KQSValue();
  return KQSValue(static_cast<int>(v));
}

KQSValue KQSClass_Boolean::BinaryInput(std::istream& in, KQSClassCracker* /*c*/) const {
  unsigned char b = 0;
  if (!ReadRaw(in, &b, 1)) return KQSValue();
  // Any byte but 0 is true; kept as 1 so that equal Booleans have equal words.
  return KQSValue::Boolean(b != 0 ? 1 : 0);
}

KQSValue KQSClass_String::BinaryInput(std::istream& in, KQSClassCracker* /*c*/) const {
  KString s;
  if (!ReadCounted(in, &s)) return KQSValue();
  return KQSValue(s);
}

KQSValue KQSClass_TypeCode::BinaryInput(std::istream& in, KQSClassCracker* /*c*/) const {
  KString s;
  if (!ReadCounted(in, &s)) return KQSValue();
  return KQSValue::NewTypeCodeValue(s);
}

// ===== List =====

std::ostream& KQSClass_List::BinaryOutput(void* data, std::ostream& out, KQSClassFormatter* f) const {
  ListWriter writer(out, f);
  writer.List(ClassNumber(), static_cast<const KQSValueList*>(data));
  return out;
}

KQSValue KQSClass_List::BinaryInput(std::istream& in, KQSClassCracker* c) const { return ReadList(in, c, 1); }
