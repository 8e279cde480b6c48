// libFuzzer target for the value binary reader.
//
// Input: any bytes, read as values one after another until the stream
// fails. Checked for every value read (complete or cut short): its binary
// form reads back completely, consuming exactly those bytes, and writes the
// same bytes again (write -> read -> write is stable); the copy read back
// equals it. The sanitizers catch reads past the input, leaks and runaway
// allocation; the reader's nesting cap keeps the stack bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KQSValue.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Write(const KQSValue& v) {
  KQSClassFormatter f;
  std::ostringstream out;
  v.WriteBinary(out, &f);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The built-in classes are registered by the process ring; started once
  // and left running, as a host would.
  static const bool started = (KAt::ProcessStartup(1), true);
  (void)started;

  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  KQSClassCracker cracker;
  while (in.good()) {
    const std::streamoff before = in.tellg();
    const KQSValue v = KQSValue::ReadBinary(in, &cracker);
    if (!in.fail()) Check(in.tellg() > before);  // every value takes its code at least

    const std::string first = Write(v);
    Check(!first.empty());  // only classes with a binary form are ever read
    std::istringstream again(first);
    const KQSValue w = KQSValue::ReadBinary(again, &cracker);
    Check(!again.fail());
    Check(again.tellg() == static_cast<std::streamoff>(first.size()));
    Check(w == v);
    Check(Write(w) == first);
  }
  return 0;
}
