// libFuzzer target for class images (KQSClass::Import and Export).
//
// Input: any bytes, wrapped in a Bytes value and imported into a fresh
// class prototype. Checked: Import never crashes, reads past the bytes or
// leaks (the sanitizers watch that); it returns the class value; and the
// class it built is a fixed point of the format: Export of it, imported into
// another fresh prototype, exports the very same image. The one allowed
// exception is a signature whose text does not parse back to itself (type
// names holding the signature grammar's own punctuation): such a text is
// normalised by the next round, after which the image must be stable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "vxkernel/classes/KQSClass.h"
#include "vxkernel/classes/KQSClassReflection.h"
#include "vxkernel/classes/KQSClassSlot.h"
#include "vxkernel/classes/KSignature.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KQSValue.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The host's ObjRef class (number 3), whose values constants may hold and
// whose text form is "#" and the reference in hexadecimal.
class ObjRefClass : public KQSClass {
 public:
  ObjRefClass() : KQSClass("ObjRef", 3) {}
  std::ostream& FormattedOutput(void* data, std::ostream& out,
                                KQSClassFormatter* /*f*/) const override {
    return out << '#' << std::hex << static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data))
               << std::dec;
  }
};

// Starts the library once and installs the host classes an image needs.
bool Started() {
  static const bool started = [] {
    KAt::ProcessStartup(1);
    static ObjRefClass objRef;
    static KQSClass classClass("Class", KQSClass::kNoClassNumber);
    KQSValue::Class_ObjRef(&objRef);
    KQSValue::Class_Class(&classClass);
    return true;
  }();
  return started;
}

// Whether every signature's text parses back to the same text.
bool SignaturesStable(const KQSClass& c) {
  for (const auto* table :
       {&c.ClassMethods(), &c.ClassAttributes(), &c.Methods(), &c.Attributes()}) {
    for (const KQSClass_Slot* slot : *table) {
      if (slot == nullptr || slot->Signature() == nullptr) continue;
      const KString text = slot->Signature()->ToString();
      if (KSignature(static_cast<const char*>(text)).ToString() != text) return false;
    }
  }
  return true;
}

bool SameBytes(const KQSValue& a, const KQSValue& b) {
  if (a.Type() != -6 || b.Type() != -6 || a.Length() != b.Length()) return false;
  return std::memcmp(a.Bytes(), b.Bytes(), static_cast<size_t>(a.Length())) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Started();
  const KQSValue input =
      KQSValue::NewBytesValue(reinterpret_cast<const char*>(data), static_cast<long>(size));
  KQSClassReflection first;
  const KQSValue self = first.Import(input);
  Check(self.Instance() == static_cast<KQSClass*>(&first));

  const KQSValue image = first.Export();
  Check(image.Type() == -6);
  KQSClassReflection second;
  second.Import(image);
  const KQSValue again = second.Export();
  if (SignaturesStable(first)) {
    Check(SameBytes(again, image));
  } else {
    KQSClassReflection third;
    third.Import(again);
    Check(!SignaturesStable(second) || SameBytes(third.Export(), again));
  }
  return 0;
}
