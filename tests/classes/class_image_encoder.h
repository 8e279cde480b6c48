// An encoder of class images written from the format description, field by
// field, independently of the library's writer: the tests build expected
// bytes and hand-made (also damaged) images with it.
#ifndef VXKERNEL_TESTS_CLASSES_CLASS_IMAGE_ENCODER_H_
#define VXKERNEL_TESTS_CLASSES_CLASS_IMAGE_ENCODER_H_

#include <cstdint>
#include <string>

#include "vxkernel/values/KQSValue.h"

namespace classes_test {

struct Image {
  std::string b;
  Image& I4(int64_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
    return *this;
  }
  Image& Str(const std::string& s) {
    const size_t n = s.size() + 1;
    if (n > 32767) {
      b += "\xFF\xFF";
      I4(static_cast<int64_t>(n));
    } else {
      b.push_back(static_cast<char>(n & 0xFF));
      b.push_back(static_cast<char>(n >> 8));
    }
    b += s;
    b.push_back('\0');
    return *this;
  }
  Image& Raw(const std::string& s) {
    b += s;
    return *this;
  }
  template <size_t N>
  Image& Raw(const char (&s)[N]) {  // a literal with its NULs, less the last
    b.append(s, N - 1);
    return *this;
  }
  Image& Header(const std::string& name, int number, int implType, const std::string& impl) {
    I4(2).I4(0xDEADBEEF).Str(name).I4(number).I4(implType);
    return I4(static_cast<int64_t>(impl.size())).Raw(impl);
  }
  Image& Zeros(int n) {  // n empty tables
    for (int i = 0; i < n; ++i) I4(0);
    return *this;
  }
  Image& Feature(int index, const std::string& name, const std::string& sig) {
    return I4(index).Str(name).I4(1).Str(sig);
  }
  Image& Constant(int index, const std::string& name, const std::string& text) {
    return I4(index).Str(name).I4(1).Str("").Raw(text);
  }
  KQSValue Value() const { return KQSValue::NewBytesValue(b.data(), static_cast<long>(b.size())); }
};

inline std::string BytesOf(const KQSValue& v) {
  if (!v.IsType(-6)) return "<not Bytes>";
  return std::string(reinterpret_cast<const char*>(v.Bytes()), static_cast<size_t>(v.Length()));
}

}  // namespace classes_test

#endif  // VXKERNEL_TESTS_CLASSES_CLASS_IMAGE_ENCODER_H_
