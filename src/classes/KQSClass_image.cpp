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
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "base/coding.h"
#include "base/debug_line.h"
#include "classes/classes_internal.h"
#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/classes/KSignature.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::ByteCursor;
using vxk_internal::DebugText;

namespace {

// Every number of the image is a 32-bit field; a string field is a counted
// string (base/coding.h): at least its 16-bit count and the NUL.
constexpr size_t kFieldSize = 4;
constexpr size_t kMinStringSize = 2 + 1;
// The image opens with its version and magic number.
constexpr int32_t kImageVersion = 2;
constexpr uint32_t kImageMagic = 0xDEADBEEF;
static_assert(sizeof kImageVersion == kFieldSize && sizeof kImageMagic == kFieldSize);
// The smallest feature record: SlotIndex, SlotName, AccessLevel, signature.
constexpr size_t kMinRecordSize = 4 + kMinStringSize + 4 + kMinStringSize;
static_assert(kMinRecordSize == 2 * kFieldSize + 2 * kMinStringSize);
// The placeholder written in a constant record's signature field.
constexpr const char* kConstantPlaceholder = "";

// ===== Writing =====
//
// The image grows in one std::string.

void PutI4(std::string* image, int32_t v) {
  vxk_internal::PutFixed32(image, static_cast<uint32_t>(v));
}

// A text longer than a count can say (over 2 GB) is written as the empty
// text, so the image stays readable.
void PutStr(std::string* image, const char* s) {
  if (!vxk_internal::PutCountedString(image, s)) vxk_internal::PutCountedString(image, "");
}

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

void WriteRecordHead(std::string* image, const KQSClass_Slot& s) {
  PutI4(image, static_cast<int32_t>(s.SlotIndex()));
  PutStr(image, s.SlotName());
  PutI4(image, static_cast<int32_t>(s.AccessLevel()));
}

void WriteFeatures(std::string* image, const std::vector<KQSClass_Slot*>& table, bool used) {
  PutI4(image, static_cast<int32_t>(CountSlots(table, used)));
  if (!used) return;
  for (const KQSClass_Slot* s : table) {
    if (s == nullptr) continue;
    WriteRecordHead(image, *s);
    const KSignature* sig = s->Signature();
    if (sig != nullptr) {
      const KString text = sig->ToString();
      PutStr(image, text);
    } else {
      PutStr(image, "");
    }
  }
}

void WriteConstants(std::string* image, const std::vector<KQSClass_Slot*>& table, bool used) {
  PutI4(image, static_cast<int32_t>(CountSlots(table, used)));
  if (!used) return;
  AppendBuf buf(*image);
  std::ostream text(&buf);
  for (const KQSClass_Slot* s : table) {
    if (s == nullptr) continue;
    WriteRecordHead(image, *s);
    PutStr(image, kConstantPlaceholder);
    text << static_cast<const KQSClass_Constant*>(s)->Value();
  }
}

// ===== Reading =====

// The image is read with a ByteCursor: each field is taken completely or
// not at all, and nothing is allocated beyond the bytes that are there. A
// string field's count of 0 is malformed (the writer always counts the NUL).

bool GetI4(ByteCursor& r, int32_t* v) {
  uint32_t u = 0;
  if (!r.GetFixed32(&u)) return false;
  *v = static_cast<int32_t>(u);
  return true;
}

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
  ByteCursor r(p, static_cast<size_t>(end - p));
  if (r.Left() < kMinRecordSize) return false;
  int32_t index = 0;
  GetI4(r, &index);
  if (index < 0 || index >= vxk_internal::kMaxSlots) return false;
  for (int field = 0; field < 2; ++field) {
    uint32_t n = 0;
    const unsigned char* bytes = nullptr;
    if (!r.GetCounted(&n, &bytes) || bytes[n - 1] != 0) return false;
    if (field == 0) {
      int32_t access = 0;
      if (!GetI4(r, &access)) return false;
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
bool ReadConstantValue(ByteCursor& r, SpanBuf& buf, std::istream& in, bool last, const char* name,
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
  r.Skip(static_cast<size_t>(e - p));
  return true;
}

// The four fields of a feature record.
bool GetRecordHead(ByteCursor& r, int32_t* index, std::string* name, int32_t* access,
                   std::string* sig) {
  return GetI4(r, index) && r.GetCountedText(name) && GetI4(r, access) && r.GetCountedText(sig);
}

using FeatureAdder = void (*)(KQSClass* c, const std::string& name, const char* sig, long index,
                              long access);

}  // namespace

// ===== Export =====

KQSValue KQSClass::Export() const {
  std::string image;
  PutI4(&image, kImageVersion);
  vxk_internal::PutFixed32(&image, kImageMagic);
  PutStr(&image, ClassName());
  PutI4(&image, static_cast<int32_t>(fClassNumber));
  PutI4(&image, static_cast<int32_t>(fImplType));
  const long implLength = fImplBytes != nullptr && fImplLength > 0 ? fImplLength : 0;
  PutI4(&image, static_cast<int32_t>(implLength));
  if (implLength != 0) {
    image.append(reinterpret_cast<const char*>(fImplBytes), static_cast<size_t>(implLength));
  }
  PutI4(&image, static_cast<int32_t>(fExtends.size()));
  for (const KString& name : fExtends) PutStr(&image, name);
  PutI4(&image, static_cast<int32_t>(fImplements.size()));
  for (const KString& name : fImplements) PutStr(&image, name);
  WriteFeatures(&image, fClassMethods, fHasClassMethods);
  WriteFeatures(&image, fClassAttributes, fHasClassAttributes);
  WriteFeatures(&image, fMethods, fHasMethods);
  WriteFeatures(&image, fAttributes, fHasAttributes);
  WriteConstants(&image, fConstants, fHasConstants);
  return KQSValue::NewBytesValue(image.data(), static_cast<long>(image.size()));
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
  ByteCursor r(hasStorage ? image.Bytes() : nullptr, length > 0 ? static_cast<size_t>(length) : 0);

  int32_t version = 0;
  uint32_t magic = 0;
  if (!GetI4(r, &version) || !r.GetFixed32(&magic) || version != kImageVersion ||
      magic != kImageMagic) {
    DebugText("KQSClass::Import( bad version or magic number )\n");
    return self;
  }

  std::string name;
  int32_t number = 0;
  int32_t implType = 0;
  int32_t implLength = 0;
  const unsigned char* implBytes = nullptr;
  if (!r.GetCountedText(&name) || !GetI4(r, &number) || !GetI4(r, &implType) ||
      !GetI4(r, &implLength) ||
      !r.GetBytes(implLength > 0 ? static_cast<size_t>(implLength) : 0, &implBytes)) {
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
    if (!GetI4(r, &count)) return self;
    for (int32_t i = 0; i < count; ++i) {
      if (!r.GetCountedText(&name)) return self;
      (this->*add)(name.c_str());
    }
  }

  const FeatureAdder adders[] = {
      [](KQSClass* c, const std::string& nm, const char* sig, long index, long access) {
        c->AddClassMethod(nm.c_str(), sig, nullptr, index, access, false);
      },
      [](KQSClass* c, const std::string& nm, const char* sig, long index, long access) {
        c->AddClassAttribute(nm.c_str(), sig, nullptr, index, access, false);
      },
      [](KQSClass* c, const std::string& nm, const char* sig, long index, long access) {
        c->AddMethod(nm.c_str(), sig, nullptr, index, access, false);
      },
      [](KQSClass* c, const std::string& nm, const char* sig, long index, long access) {
        c->AddAttribute(nm.c_str(), sig, nullptr, index, access, false);
      },
  };
  std::string sig;
  int32_t index = 0;
  int32_t access = 0;
  for (FeatureAdder add : adders) {
    if (!GetI4(r, &count)) return self;
    for (int32_t i = 0; i < count; ++i) {
      if (!GetRecordHead(r, &index, &name, &access, &sig)) return self;
      // Export writes "" for a slot without signature, and a signature's
      // own text always has its "()", so "" reads back as none.
      add(this, name, sig.empty() ? nullptr : sig.c_str(), index, access);
    }
  }

  if (!GetI4(r, &count)) return self;
  SpanBuf buf;
  std::istream in(&buf);
  in.unsetf(std::ios_base::skipws);  // a value starts right after its record
  for (int32_t i = 0; i < count; ++i) {
    KQSValue value;
    if (!GetRecordHead(r, &index, &name, &access, &sig) ||
        !ReadConstantValue(r, buf, in, i + 1 == count, name.c_str(), &value)) {
      return self;
    }
    AddConstant(name.c_str(), value, index, access);
  }
  return self;
}
