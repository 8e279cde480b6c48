// libFuzzer target for KDateTime's parser and formatter.
//
// Input layout: a format, a NUL or newline, then the text. The text is
// parsed with the format; the result (or, when parsing fails, a date built
// from the text's first bytes, invalid fields included) is formatted with the
// same format into buffers of several sizes. Checked: parsing either
// succeeds with a valid date or leaves the object unchanged; formatting
// never writes past size + 1 bytes and returns the length it wrote.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vxkernel/locale/KDateTime.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void FormatInto(const KDateTime& t, const char* fmt, unsigned long size) {
  // Exactly size + 1 bytes, so AddressSanitizer sees any overrun.
  std::vector<char> buf(size + 1, '\x7f');
  const unsigned long n = t.strftime(buf.data(), size, fmt);
  Check(n <= size);
  Check(buf[n] == '\0');
  Check(std::strlen(buf.data()) == n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  size_t split = 0;
  while (split < size && bytes[split] != '\0' && bytes[split] != '\n') ++split;
  const std::string fmt(bytes, split);
  const std::string text = split < size ? std::string(bytes + split + 1, size - split - 1) : "";

  KDateTime t;
  t.SetDate(1234, 5, 6, 7, 8, 9, 10);
  const KDateTime before = t;
  if (t.crkftime(text.c_str(), fmt.c_str())) {
    Check(t.CheckValidity());
    Check(t.Milliseconds() == 0);
  } else {
    Check(t == before);
    // Raw fields from the text: months, days and hours of any value.
    unsigned char raw[9] = {};
    std::memcpy(raw, text.data(), text.size() < sizeof raw ? text.size() : sizeof raw);
    t.Year(static_cast<int16_t>(raw[0] | raw[1] << 8));
    t.Month(static_cast<int8_t>(raw[2]));
    t.Day(static_cast<int8_t>(raw[3]));
    t.Hour(static_cast<int8_t>(raw[4]));
    t.Minute(static_cast<int8_t>(raw[5]));
    t.Second(static_cast<int8_t>(raw[6]));
    t.Milliseconds(static_cast<int16_t>(raw[7] | raw[8] << 8));
  }
  for (unsigned long room : {0UL, 1UL, 3UL, 7UL, 64UL}) FormatInto(t, fmt.c_str(), room);
  t.DayOfYear();
  t.FullMonth();
  t.AddDays(static_cast<long>(size) - 128);
  return 0;
}
