/// \file
/// Process-wide text settings: interface language, multi-byte and UTF-8
/// processing, international strings, font character set, default locale and
/// debug level, plus the byte case tables.
#ifndef VXKERNEL_LOCALE_KINTL_H_
#define VXKERNEL_LOCALE_KINTL_H_

#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

class KFilePrefs;

/// The settings the string, web, date and properties code consult on every
/// call. All members are static; nothing is owned by callers.
///
/// Thread rule: every getter and setter is atomic on its own. The scalar
/// settings live in one atomic word, so reading them takes no lock (text
/// functions read the mode on every call); the default locale, a compound
/// value, is guarded by the process-wide lock. A sequence of calls is not
/// atomic: configure the settings before other threads use them.
///
/// DBCS processing (lead bytes as code page 932 or 949 defines them) applies
/// when MultiByte() is set and the encoding is not UTF-8; UTF-8 processing
/// applies whenever the encoding is UTF-8. The two flags are independent.
class VXKERNEL_EXPORT KIntl {
 public:
  /// The interface language. Outside UTF-8 it picks the code page text is
  /// read in (and split by when multi-byte) and the hyphenation rules.
  enum kLanguage {
    kEnglish = 0,   ///< and every language without its own value: code page 1252
    kJapanese = 1,  ///< code page 932 (Shift-JIS)
    kKorean = 2,    ///< code page 949 (Hangul)
    kUnicode = 3    ///< as kEnglish for text; set only by callers, never at start-up
  };
  /// How text bytes are encoded when not multi-byte.
  enum kEncoding {
    kNotEncoded = 0,  ///< single bytes (or DBCS when MultiByte() is set)
    kUTF8 = 1         ///< UTF-8, whatever MultiByte() says
  };

  /// Windows character-set numbers that FontCharSet() reports.
  ///@{
  static constexpr unsigned char kDefaultCharSet = 0;
  static constexpr unsigned char kShiftJisCharSet = 0x80;  ///< Japanese
  static constexpr unsigned char kHangulCharSet = 0x81;    ///< Korean
  ///@}

  KIntl() = delete;

  // ===== Start-up =====
  /// Sets everything up from the process's configuration file (the first
  /// KConfigFile made): the default locale (section "Locale", key
  /// "Default"), the calling thread's current locale, the collation locale
  /// (section "Lang", key "VX_LC_COLLATE"), the language, multi-byte,
  /// encoding and international-strings settings (section "Lang", else the
  /// system's language) and the character tables, and puts every "ENV_" key
  /// of section "Lang" into the environment. A debugLevel above 0 replaces
  /// the stored one. Reports each step to the debug stream. The library never
  /// calls it; hosts call it once, before other threads use the settings.
  static void Initialize(long debugLevel);

  // ===== Language (initially kEnglish) =====
  /// The interface language; changing it changes no other setting.
  ///@{
  static kLanguage Language();
  static void Language(kLanguage language);
  ///@}
  /// Whether Language() is that one value.
  ///@{
  static bool English();
  static bool Japanese();
  static bool Korean();
  static bool Unicode();
  ///@}

  // ===== Encoding (initially kNotEncoded) =====
  /// The text encoding; kUTF8 switches the text functions to UTF-8 at once.
  ///@{
  static kEncoding Encoding();
  static void Encoding(kEncoding encoding);
  ///@}
  /// Whether Encoding() is kNotEncoded, or kUTF8.
  ///@{
  static bool NotEncoded();
  static bool Utf8();
  ///@}

  // ===== Flags (initially false) =====
  /// Double-byte (DBCS) processing of text, which applies only while the
  /// encoding is not UTF-8; the lead bytes follow the language.
  ///@{
  static bool MultiByte();
  static void MultiByte(bool on);
  ///@}
  /// On: str_cmp_intl and str_cmpu_intl compare by the collation locale;
  /// off: byte by byte (DBCS-aware).
  ///@{
  static bool IntlStrings();
  static void IntlStrings(bool on);
  ///@}

  // ===== Font character set (initially 0) =====
  /// The character-set number fonts should use (kDefaultCharSet and
  /// following); stored for callers, not used by the library.
  ///@{
  static unsigned char FontCharSet();
  static void FontCharSet(unsigned char charSet);
  ///@}

  // ===== Default locale (initially en_US) =====
  /// Sets the three components (null gives empty).
  static void DefaultLocale(const char* language, const char* country, const char* variant);
  /// Parses a suffix such as "en_US" or "de-DE-EURO" into the default locale;
  /// a suffix with nothing but separators leaves it unchanged.
  static void DefaultLocale(const char* suffix);
  /// The default locale's resource suffix, for example "_en_US".
  static KString DefaultLocaleResourceSuffix();

  /// The debug level (initially 0), for trace messages.
  static int32_t Debug();

  /// Returns s unchanged; kept for callers that used to repair high-bit text.
  static KString FixHighBitString(const KString& s);

  // ===== Character tables =====
  /// 256 bytes each: fCharTable the identity, fUpper and fLower the standard
  /// library's toupper/tolower of every byte in the locale current when the
  /// tables were filled. They hold zeros until start-up initialises the
  /// settings from the configuration or the system language.
  ///@{
  static unsigned char fCharTable[256];
  static unsigned char fUpper[256];
  static unsigned char fLower[256];
  ///@}

  /// The table's upper- or lower-case form of the low byte of c (0 before
  /// the tables are filled).
  ///@{
  static int ToUpper(int c) { return fUpper[c & 0xFF]; }
  static int ToLower(int c) { return fLower[c & 0xFF]; }
  ///@}

 private:
  /// The language, multi-byte, encoding and international-strings settings
  /// from the keys of section in prefs (null: none), else from the system's
  /// language; then the character tables.
  static void SysInitialize(const KString& section, KFilePrefs* prefs);
};

#endif  // VXKERNEL_LOCALE_KINTL_H_
