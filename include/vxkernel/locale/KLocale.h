/// \file
/// A language/country/variant triple and the resource-file suffix it names.
#ifndef VXKERNEL_LOCALE_KLOCALE_H_
#define VXKERNEL_LOCALE_KLOCALE_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// A locale as resource lookup uses it: language, country and variant, and
/// the resource suffix they name ("_en_US", "_de_DE_EURO"), cached once
/// computed. A KLocale owns its four strings; the suffix is derived, so changing
/// a component clears it.
///
/// Suffix rule: empty without a language; else "_" + language in lower case,
/// then "_" + country in upper case when there is a country, then "_" +
/// variant unchanged when there are both a country and a variant. Case is
/// folded in ASCII only, whatever the C library locale.
///
/// Thread rule: a KLocale is not synchronized (callers lock one they share).
/// Each thread that ran its start-up ring has a current locale of its own;
/// CurrentLocale() reaches it without a lock.
class VXKERNEL_EXPORT KLocale {
 public:
  /// The components (null gives empty); the suffix is computed and cached.
  KLocale(const char* language, const char* country, const char* variant);
  /// Empty, then SetBySuffix(suffix).
  explicit KLocale(const char* suffix = nullptr);
  /// Copies the components and the cached suffix.
  ///@{
  KLocale(const KLocale& other);
  KLocale& operator=(const KLocale& other);
  ///@}
  virtual ~KLocale();

  /// A component as it was set (case unchanged); empty when not set.
  ///@{
  KString Language() const { return fLanguage; }
  KString Country() const { return fCountry; }
  KString Variant() const { return fVariant; }
  ///@}
  /// The cached suffix (empty when a component changed since it was cached).
  KString GetResourceSuffix() const { return fSuffix; }

  /// Each clears the cached suffix; null gives empty.
  ///@{
  void Language(const char* language);
  void Country(const char* country);
  void Variant(const char* variant);
  ///@}

  /// The cached suffix, or the suffix computed now when none is cached.
  KString ResourceSuffix() const;

  /// Parses "ll", "ll_CC", "ll_CC_variant", "ll-CC-variant" (with "_" or "-",
  /// whichever occurs first, as the one separator; leading separators are
  /// skipped); the variant keeps any later separators. Text with nothing
  /// but separators (or null) leaves the locale unchanged; otherwise the
  /// components are replaced and the suffix computed and cached.
  void SetBySuffix(const char* suffix);

  /// Drops the most specific component that is set (variant, then country,
  /// then language) and clears the cached suffix; false when the locale is
  /// empty already.
  bool Simplify();

  /// The resource suffixes, compared ignoring ASCII case.
  ///@{
  bool operator==(const KLocale& other) const;
  bool operator!=(const KLocale& other) const { return !(*this == other); }
  ///@}

  /// The calling thread's current locale, or, for a thread without one (it
  /// never ran its start-up ring), the process-wide locale created from the
  /// default locale on first use. The reference stays valid until the thread
  /// ends (its own locale) or the process exits (the shared one).
  static const KLocale& CurrentLocale();
  /// Replace the calling thread's current locale; a thread without one of
  /// its own changes nothing (the shared locale is never changed). The
  /// text forms build the locale as the matching constructor does.
  ///@{
  static void CurrentLocale(const KLocale& locale);
  static void CurrentLocale(const char* language, const char* country, const char* variant);
  static void CurrentLocale(const char* suffix);
  ///@}

 private:
  KString ComputeSuffix() const;

  KString fLanguage;
  KString fCountry;
  KString fVariant;
  KString fSuffix;  ///< cached ResourceSuffix(); empty when not cached
};

#endif  // VXKERNEL_LOCALE_KLOCALE_H_
