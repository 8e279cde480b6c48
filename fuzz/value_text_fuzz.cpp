// libFuzzer target for the value text reader.
//
// Input layout: one settings byte, then the text. The settings byte picks the
// process text mode (bits 0-1: single-byte, double-byte Shift-JIS, UTF-8,
// double-byte again) and
// the cracker of the first read (bits 2-4: none, single-byte, code page 932,
// 936, 65001, multi-byte). Checked, beyond the sanitizers' own checks (no
// overrun, no leak, bounded stack):
// - reading never throws and never leaves the stream's buffer position past
//   the input;
// - a value that was read is written (t1), read back in the process mode and
//   written again (t2), and once more (t3): t2 == t3 always, and t1 == t2
//   unless the value holds something the text form is known to change: a
//   Record (columns merged by name) or a Real (15 digits can merge Assoc
//   keys).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KRZTable.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr short kAssoc = -18;
constexpr short kRecord = -109;
constexpr short kRecArray = -110;

std::string Write(const KQSValue& v) {
  const KString k = v.FormattedString();
  return std::string(static_cast<const char*>(k), k.Length());
}

KQSValue Read(const std::string& text, KQSClassCracker* cracker) {
  std::istringstream in(text);
  KQSValue v;
  KQSValue::FormattedInput(in, v, cracker);
  return v;
}

// Whether v holds, at any depth, a Record or a Real.
bool Changes(const KQSValue& v, int depth = 0) {
  if (depth > 600) return true;
  switch (v.Type()) {
    case kRecord:
    case -4:
      return true;
    case -2:
      for (long i = 1; i <= v.ListEntries(); ++i) {
        if (Changes(v.ListGetValue(i), depth + 1)) return true;
      }
      return false;
    case kAssoc: {
      const auto* a = static_cast<const KAssocVal*>(v.User());
      if (a == nullptr) return false;
      if (Changes(a->UndefinedValue(), depth + 1)) return true;
      KQSValue key;
      KQSValue value;
      for (long n = 1; a->GetNth(n, key, value); ++n) {
        if (Changes(key, depth + 1) || Changes(value, depth + 1)) return true;
      }
      return false;
    }
    case kRecArray: {
      KRZTable* t = KRZTable::FromValue(v);
      if (t == nullptr) return false;
      if (Changes(t->ColNames(), depth + 1)) return true;
      for (long r = 1; r <= t->Length(); ++r) {
        if (Changes(t->GetRowValues(r), depth + 1)) return true;
      }
      return false;
    }
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = [] {
    KAt::ProcessStartup(1);
    return true;
  }();
  (void)started;
  if (size == 0) return 0;
  const unsigned settings = data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const unsigned mode = settings & 3;
  KIntl::Encoding(mode == 2 ? KIntl::kUTF8 : KIntl::kNotEncoded);
  KIntl::Language(mode == 1 ? KIntl::kJapanese : KIntl::kEnglish);
  KIntl::MultiByte(mode != 0);

  KQSClassCracker cracker;
  KQSClassCracker* first = &cracker;
  switch ((settings >> 2) & 7) {
    case 0:
      first = nullptr;
      break;
    case 2:
      cracker.UseCodePage(true);
      cracker.CodePage(932);
      break;
    case 3:
      cracker.UseCodePage(true);
      cracker.CodePage(936);
      break;
    case 4:
      cracker.UseCodePage(true);
      cracker.CodePage(65001);
      break;
    case 5:
      cracker.IsMultiByte(true);
      break;
    default:
      break;
  }

  std::istringstream in(text);
  KQSValue v;
  KQSValue::FormattedInput(in, v, first);
  in.clear();
  const std::streamoff at = in.tellg();
  Check(at >= 0 && static_cast<size_t>(at) <= text.size());
  if (v.IsUndefined()) return 0;

  const std::string t1 = Write(v);
  const KQSValue v2 = Read(t1, nullptr);
  const std::string t2 = Write(v2);
  const std::string t3 = Write(Read(t2, nullptr));
  Check(t2 == t3);
  if (!Changes(v)) Check(t1 == t2);
  return 0;
}
