// Sets the process text mode through the KIntl setters for one test and puts the previous settings
// back when it ends.
#ifndef VXKERNEL_TESTS_TEXT_TEXT_MODE_SCOPE_H_
#define VXKERNEL_TESTS_TEXT_TEXT_MODE_SCOPE_H_

#include "vxkernel/locale/KIntl.h"

class TextModeScope {
 public:
  enum Mode { kSingleByte, kShiftJis, kHangul, kUtf8, kUtf8NoMultiByte };

  explicit TextModeScope(Mode mode) {
    static const Settings kModes[] = {{KIntl::kEnglish, KIntl::kNotEncoded, false, false},
                                      {KIntl::kJapanese, KIntl::kNotEncoded, true, false},
                                      {KIntl::kKorean, KIntl::kNotEncoded, true, false},
                                      {KIntl::kEnglish, KIntl::kUTF8, true, false},
                                      {KIntl::kEnglish, KIntl::kUTF8, false, false}};
    Settings set = kModes[mode];
    set.intlStrings = fSaved.intlStrings;
    Apply(set);
  }
  ~TextModeScope() { Apply(fSaved); }
  TextModeScope(const TextModeScope&) = delete;
  TextModeScope& operator=(const TextModeScope&) = delete;

 private:
  struct Settings {
    KIntl::kLanguage language;
    KIntl::kEncoding encoding;
    bool multiByte, intlStrings;
  };
  static void Apply(const Settings& s) {
    KIntl::Language(s.language);
    KIntl::Encoding(s.encoding);
    KIntl::MultiByte(s.multiByte);
    KIntl::IntlStrings(s.intlStrings);
  }

  const Settings fSaved{KIntl::Language(), KIntl::Encoding(), KIntl::MultiByte(),
                        KIntl::IntlStrings()};
};

#endif  // VXKERNEL_TESTS_TEXT_TEXT_MODE_SCOPE_H_
