// Sets the process text mode through the KIntl setters for one test and puts
// the previous settings back when it ends.
#ifndef VXKERNEL_TESTS_TEXT_TEXT_MODE_SCOPE_H_
#define VXKERNEL_TESTS_TEXT_TEXT_MODE_SCOPE_H_

#include "vxkernel/locale/KIntl.h"

class TextModeScope {
 public:
  enum Mode { kSingleByte, kShiftJis, kHangul, kUtf8, kUtf8NoMultiByte };

  explicit TextModeScope(Mode mode)
      : fLanguage(KIntl::Language()),
        fEncoding(KIntl::Encoding()),
        fMultiByte(KIntl::MultiByte()),
        fIntlStrings(KIntl::IntlStrings()) {
    switch (mode) {
      case kSingleByte:
        Set(KIntl::kEnglish, KIntl::kNotEncoded, false);
        break;
      case kShiftJis:
        Set(KIntl::kJapanese, KIntl::kNotEncoded, true);
        break;
      case kHangul:
        Set(KIntl::kKorean, KIntl::kNotEncoded, true);
        break;
      case kUtf8:
        Set(KIntl::kEnglish, KIntl::kUTF8, true);
        break;
      case kUtf8NoMultiByte:
        Set(KIntl::kEnglish, KIntl::kUTF8, false);
        break;
    }
  }
  ~TextModeScope() {
    KIntl::Language(fLanguage);
    KIntl::Encoding(fEncoding);
    KIntl::MultiByte(fMultiByte);
    KIntl::IntlStrings(fIntlStrings);
  }
  TextModeScope(const TextModeScope&) = delete;
  TextModeScope& operator=(const TextModeScope&) = delete;

 private:
  static void Set(KIntl::kLanguage l, KIntl::kEncoding e, bool multiByte) {
    KIntl::Language(l);
    KIntl::Encoding(e);
    KIntl::MultiByte(multiByte);
  }

  KIntl::kLanguage fLanguage;
  KIntl::kEncoding fEncoding;
  bool fMultiByte;
  bool fIntlStrings;
};

#endif  // VXKERNEL_TESTS_TEXT_TEXT_MODE_SCOPE_H_
