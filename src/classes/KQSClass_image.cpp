// Class images: KQSClass::Export writes a class definition into a Bytes
// value, KQSClass::Import applies one to a class. The byte layout is given
// field by field in docs/value-format.md ("Class images").
//
// Import reads untrusted bytes. It works on the Bytes storage in place with
// a bounded cursor, so no claimed length or count is believed beyond the
// bytes that are really there: a count of 2^31 features in a 6-byte body
// ends at the first record that does not fit. Every unit (the header, one
// name, one feature record) is applied only when it was read completely;
// reading stops at the first unit that is not.
#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>

#include "classes/classes_internal.h"
#include "base/type_numbers.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/classes/KSignature.h"
#include "vxkernel/values/KQSValue.h"

using vxk_internal::DebugText;

namespace {

constexpr int32_t kImageVersion = 2;
constexpr uint32_t kImageMagic = 0xDEADBEEF;
// A string field: a 16-bit count that includes the NUL; counts above this
// are written as 0xFFFF followed by a 32-bit count.
constexpr uint32_t kShortCountMax = 32767;
constexpr uint32_t kLongCountMarker = 0xFFFF;
// Feature positions stay below this (the feature tables refuse larger
// ones); used to judge where a constant's number ends.
constexpr int32_t kMaxSlotIndex = 32767;
// The placeholder written in a constant record's signature field.
constexpr const char* kConstantPlaceholder = "";

// ===== Writing =====

// Appends little-endian fields to one growing buffer.
class ImageWriter {
 public:
  void I4(int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    const char b[4] = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                       static_cast<char>(u >> 24)};
    fBytes.append(b, 4);
  }
  void I2(uint32_t v) {
    const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
    fBytes.append(b, 2);
  }
  void Str(const char* s) {
    if (s == nullptr) s = "";
    const size_t n = std::strlen(s) + 1;  // the NUL counts
    if (n > kShortCountMax) {
      I2(kLongCountMarker);
      I4(static_cast<int32_t>(n));
    } else {
      I2(static_cast<uint32_t>(n));
    }
    fBytes.append(s, n);
  }
  void Raw(const void* p, size_t n) {
    if (n != 0) fBytes.append(static_cast<const char*>(p), n);
  }
  std::string& Bytes() { return fBytes; }

 private:
  std::string fBytes;
};

// An output stream buffer that appends to a string, so a constant's text
// form goes straight into the image.
class AppendBuf : public std::streambuf {
 public:
  explicit AppendBuf(std::string& s) : fOut(s) {}

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof()))
      fOut.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* p, std::streamsize n) override {
    fOut.append(p, static_cast<size_t>(n));
    return n;
  }

 private:
  std::string& fOut;
};

long CountSlots(const std::vector<KQSClass_Slot*>& table, bool used) {
  if (!used) return 0;
  long n = 0;
  for (const KQSClass_Slot* s : table) n += s != nullptr ? 1 : 0;
  return n;
}

void WriteRecordHead(ImageWriter& w, const KQSClass_Slot& s) {
  w.I4(static_cast<int32_t>(s.SlotIndex()));
  w.Str(s.SlotName());
  w.I4(static_cast<int32_t>(s.AccessLevel()));
}

void WriteFeatures(ImageWriter& w, const std::vector<KQSClass_Slot*>& table, bool used) {
  w.I4(static_cast<int32_t>(CountSlots(table, used)));
  if (!used) return;
  for (const KQSClass_Slot* s : table) {
    if (s == nullptr) continue;
    WriteRecordHead(w, *s);
    const KSignature* sig = s->Signature();
    if (sig != nullptr) {
      const KString text = sig->ToString();
      w.Str(text);
    } else {
      w.Str("");
    }
  }
}

void WriteConstants(ImageWriter& w, const std::vector<KQSClass_Slot*>& table, bool used) {
  w.I4(static_cast<int32_t>(CountSlots(table, used)));
  if (!used) return;
  AppendBuf buf(w.Bytes());
  std::ostream text(&buf);
  for (const KQSClass_Slot* s : table) {
    if (s == nullptr) continue;
    WriteRecordHead(w, *s);
    w.Str(kConstantPlaceholder);
    text << static_cast<const KQSClass_Constant*>(s)->Value();
  }
}

// ===== Reading =====

// A cursor over the image bytes. Each read either succeeds completely or
// fails, leaving the cursor where it was; nothing is allocated beyond the
// bytes that are there.
class ImageReader {
 public:
  ImageReader(const unsigned char* p, size_t n) : fPos(p), fEnd(p + n) {}

  size_t Left() const { return static_cast<size_t>(fEnd - fPos); }
  const unsigned char* Pos() const { return fPos; }
  const unsigned char* End() const { return fEnd; }
  void Advance(size_t n) { fPos += n; }

  bool I4(int32_t* v) {
    if (Left() < 4) return false;
    *v = static_cast<int32_t>(Get4(fPos));
    fPos += 4;
    return true;
  }
  // The text up to the first NUL of the stored bytes.
  bool Str(std::string* s) {
    const unsigned char* p = fPos;
    size_t n = 0;
    if (!StrField(p, fEnd, &n, &p)) return false;
    const void* nul = std::memchr(p, 0, n);
    const size_t text =
        nul != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - p) : n;
    s->assign(reinterpret_cast<const char*>(p), text);
    fPos = p + n;
    return true;
  }
  bool Raw(size_t n, const unsigned char** out) {
    if (Left() < n) return false;
    *out = fPos;
    fPos += n;
    return true;
  }

  static uint32_t Get4(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  }
  // The string field at p: on success its byte count and where the bytes
  // start. A count of 0 is malformed (the writer always counts the NUL).
  static bool StrField(const unsigned char* p, const unsigned char* end, size_t* count,
                       const unsigned char** bytes) {
    if (end - p < 2) return false;
    uint32_t n = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
    p += 2;
    if (n == kLongCountMarker) {
      if (end - p < 4) return false;
      n = Get4(p);
      p += 4;
    }
    if (n == 0 || n > static_cast<uint64_t>(end - p)) return false;
    *count = n;
    *bytes = p;
    return true;
  }

 private:
  const unsigned char* fPos;
  const unsigned char* fEnd;
};

// An input stream buffer over bytes that stay where they are.
class SpanBuf : public std::streambuf {
 public:
  void Reset(const unsigned char* p, const unsigned char* end) {
    char* b = const_cast<char*>(reinterpret_cast<const char*>(p));
    setg(b, b, b + (end - p));
  }
  size_t Consumed() const { return static_cast<size_t>(gptr() - eback()); }
};

// Whether a feature record can start at p: a position in range, a name
// field ending in its NUL, an access level, and a signature field ending in
// its NUL. Used only to decide where a constant's number ends.
bool RecordFitsAt(const unsigned char* p, const unsigned char* end) {
  if (end - p < 4) return false;
  const int32_t index = static_cast<int32_t>(ImageReader::Get4(p));
  if (index < 0 || index >= kMaxSlotIndex) return false;
  p += 4;
  for (int field = 0; field < 2; ++field) {
    size_t n = 0;
    const unsigned char* bytes = nullptr;
    if (!ImageReader::StrField(p, end, &n, &bytes) || bytes[n - 1] != 0) return false;
    p = bytes + n;
    if (field == 0) {
      if (end - p < 4) return false;
      p += 4;  // the access level
    }
  }
  return true;
}

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(unsigned char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Where a constant's number written at [p, end) ends. The image puts the
// next record right after the text, so a record whose position's low byte
// is a digit would otherwise be taken as more digits: the longest digit
// run after which a record fits wins; the last constant takes every digit.
// Returns p when p holds no number (tag and digits).
const unsigned char* NumberEnd(const unsigned char* p, const unsigned char* end, bool last) {
  const unsigned char* q = p;
  bool hex = false;
  if (*q == 'E') {
    ++q;
    if (q < end && *q == '-') ++q;
  } else if (*q == '#') {
    ++q;
    hex = true;
  } else if (*q == '-') {
    ++q;
  }
  const unsigned char* first = q;
  while (q < end && (hex ? IsHexDigit(*q) : IsDigit(*q))) ++q;
  if (q == first) return p;
  if (last) return q;
  for (const unsigned char* e = q; e > first; --e) {
    if (RecordFitsAt(e, end)) return e;
  }
  return q;
}

int64_t ParseNumber(const unsigned char* p, const unsigned char* end, int base) {
  bool negative = false;
  if (p < end && *p == '-') {
    negative = true;
    ++p;
  }
  uint64_t v = 0;
  for (; p < end; ++p) {
    const unsigned char c = *p;
    const unsigned d = IsDigit(c) ? c - '0' : (c >= 'a' ? c - 'a' + 10 : c - 'A' + 10);
    v = v * static_cast<uint64_t>(base) + d;  // wraps: only the low 32 bits are kept
  }
  // Negated in unsigned arithmetic: a run of digits may exceed int64_t.
  return static_cast<int64_t>(negative ? 0 - v : v);
}

// Reads one constant's value at the reader's position into out. Numbers
// (Integer, Error "E", ObjRef "#") are delimited here; everything else is
// read by the value text reader. False when no byte is left.
bool ReadConstantValue(ImageReader& r, SpanBuf& buf, std::istream& in, bool last, const char* name,
                       KQSValue* out) {
  if (r.Left() == 0) return false;
  const unsigned char* p = r.Pos();
  const unsigned char* e = NumberEnd(p, r.End(), last);
  if (e != p && *p == 'E') {
    *out = KQSValue::Error(static_cast<long>(static_cast<int32_t>(ParseNumber(p + 1, e, 10))));
  } else if (e != p && *p == '#') {
    // The text form of class 3 (the host's ObjRef); without that class a
    // value of it cannot be made.
    if (KQSValue::Class_ObjRef() != nullptr) {
      *out = KQSValue::ObjRef(
          static_cast<unsigned long>(static_cast<uint32_t>(ParseNumber(p + 1, e, 16))));
    } else {
      DebugText("KQSClass::Import( no ObjRef class for constant ) ", name, '\n');
      *out = KQSValue();
    }
  } else {
    buf.Reset(p, e != p ? e : r.End());
    in.clear();
    in >> *out;
    const size_t used = buf.Consumed();
    if (e == p) e = p + (used != 0 ? used : 1);
  }
  r.Advance(static_cast<size_t>(e - p));
  return true;
}

using FeatureAdder = void (*)(KQSClass* c, const std::string& name, const std::string& sig,
                              long index, long access);

}  // namespace

// ===== Export =====

KQSValue KQSClass::Export() const {
  ImageWriter w;
  w.I4(kImageVersion);
  w.I4(static_cast<int32_t>(kImageMagic));
  w.Str(ClassName());
  w.I4(static_cast<int32_t>(fClassNumber));
  w.I4(static_cast<int32_t>(fImplType));
  const long implLength = fImplBytes != nullptr && fImplLength > 0 ? fImplLength : 0;
  w.I4(static_cast<int32_t>(implLength));
  w.Raw(fImplBytes, static_cast<size_t>(implLength));
  w.I4(static_cast<int32_t>(fExtends.size()));
  for (const KString& name : fExtends) w.Str(name);
  w.I4(static_cast<int32_t>(fImplements.size()));
  for (const KString& name : fImplements) w.Str(name);
  WriteFeatures(w, fClassMethods, fHasClassMethods);
  WriteFeatures(w, fClassAttributes, fHasClassAttributes);
  WriteFeatures(w, fMethods, fHasMethods);
  WriteFeatures(w, fAttributes, fHasAttributes);
  WriteConstants(w, fConstants, fHasConstants);
  const std::string& bytes = w.Bytes();
  return KQSValue::NewBytesValue(bytes.data(), static_cast<long>(bytes.size()));
}

// ===== Import =====

KQSValue KQSClass::Import(const KQSValue& image) {
  // The host's class-object class makes the result; without it there is
  // no class value to give, and Undefined stands in.
  const KQSValue self =
      KQSValue::Class_Class() != nullptr ? KQSValue::NewClassValue(this) : KQSValue();
  if (image.Type() != vxk_types::kBytes) {
    DebugText("KQSClass::Import( must be Bytes value )\n");
    return self;
  }
  const bool hasStorage = image.Instance() != nullptr;
  const long length = hasStorage ? image.Length() : 0;
  ImageReader r(hasStorage ? image.Bytes() : nullptr, length > 0 ? static_cast<size_t>(length) : 0);

  int32_t version = 0;
  int32_t magic = 0;
  if (!r.I4(&version) || !r.I4(&magic) || version != kImageVersion ||
      static_cast<uint32_t>(magic) != kImageMagic) {
    DebugText("KQSClass::Import( bad version or magic number )\n");
    return self;
  }

  std::string name;
  int32_t number = 0;
  int32_t implType = 0;
  int32_t implLength = 0;
  const unsigned char* implBytes = nullptr;
  if (!r.Str(&name) || !r.I4(&number) || !r.I4(&implType) || !r.I4(&implLength) ||
      !r.Raw(implLength > 0 ? static_cast<size_t>(implLength) : 0, &implBytes)) {
    return self;  // truncated before the header was complete: nothing applied
  }
  if (fClassName != nullptr && *fClassName != '\0' && name != fClassName) {
    DebugText("KQSClass::Import( imported name does not match class name ) ", name, "/", fClassName,
              '\n');
  }
  ClassName(name.c_str());
  const short n = static_cast<short>(number);
  if (n != fClassNumber) {
    DebugText("KQSClass::Import( imported number does not match class number ) ", n, "/",
              fClassNumber, '\n');
  }
  fClassNumber = n;
  ImplPut(implType, implLength > 0 ? implLength : 0, implBytes);

  // The lists: a count, then that many entries while the bytes last.
  int32_t count = 0;
  for (void (KQSClass::*add)(const char*) : {&KQSClass::AddExtends, &KQSClass::AddImplements}) {
    if (!r.I4(&count)) return self;
    for (int32_t i = 0; i < count; ++i) {
      if (!r.Str(&name)) return self;
      (this->*add)(name.c_str());
    }
  }

  const FeatureAdder adders[] = {
      [](KQSClass* c, const std::string& nm, const std::string& sig, long index, long access) {
        c->AddClassMethod(nm.c_str(), sig.c_str(), nullptr, index, access, false);
      },
      [](KQSClass* c, const std::string& nm, const std::string& sig, long index, long access) {
        c->AddClassAttribute(nm.c_str(), sig.c_str(), nullptr, index, access, false);
      },
      [](KQSClass* c, const std::string& nm, const std::string& sig, long index, long access) {
        c->AddMethod(nm.c_str(), sig.c_str(), nullptr, index, access, false);
      },
      [](KQSClass* c, const std::string& nm, const std::string& sig, long index, long access) {
        c->AddAttribute(nm.c_str(), sig.c_str(), nullptr, index, access, false);
      },
  };
  std::string sig;
  int32_t index = 0;
  int32_t access = 0;
  for (FeatureAdder add : adders) {
    if (!r.I4(&count)) return self;
    for (int32_t i = 0; i < count; ++i) {
      if (!r.I4(&index) || !r.Str(&name) || !r.I4(&access) || !r.Str(&sig)) return self;
      add(this, name, sig, index, access);
    }
  }

  if (!r.I4(&count)) return self;
  SpanBuf buf;
  std::istream in(&buf);
  in.unsetf(std::ios_base::skipws);  // a value starts right after its record
  for (int32_t i = 0; i < count; ++i) {
    KQSValue value;
    if (!r.I4(&index) || !r.Str(&name) || !r.I4(&access) || !r.Str(&sig) ||
        !ReadConstantValue(r, buf, in, i + 1 == count, name.c_str(), &value)) {
      return self;
    }
    AddConstant(name.c_str(), value, index, access);
  }
  return self;
}
