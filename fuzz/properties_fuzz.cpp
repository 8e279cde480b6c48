// libFuzzer target for properties files.
//
// The first byte chooses the text mode (odd: UTF-8, even: single-byte); the
// rest is a properties file. Checked: Load answers 0, 5 or 6 (6 only outside
// UTF-8 mode); after a successful Load, Store and a second Load give the same
// pairs in the same order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "vxkernel/bundles/KProperties.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Every key and its value, in key order.
std::string Pairs(KProperties& p) {
  KQSValue keys = KQSValue::List();
  Check(p.ListKeys(keys, nullptr) == 0 && keys.ListEntries() == p.Count());
  std::string out;
  for (long i = 1; i <= keys.ListEntries(); ++i) {
    const KString key = keys.ListGetValue(i).String();
    out.append(key, key.Length()).push_back('\0');
    const KString value = p.GetProperty(key);
    out.append(value, value.Length()).push_back('\0');
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool utf8 = (data[0] & 1) != 0;
  KIntl::Encoding(utf8 ? KIntl::kUTF8 : KIntl::kNotEncoded);
  std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  KProperties p;
  const long code = p.Load(in);
  Check(code == 0 || code == 5 || (code == 6 && !utf8));
  if (code == 0) {
    std::stringstream file;
    Check(p.Store(file, "fuzz") == 0);
    KProperties back;
    Check(back.Load(file) == 0);
    Check(Pairs(back) == Pairs(p));
  }
  KIntl::Encoding(KIntl::kNotEncoded);
  return 0;
}
