// Month, day and period names of KDateTime, cached per locale.
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "locale/KDateTime_internal.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/locale/KLocale.h"
#include "vxkernel/runtime/err.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

namespace vxk_internal {

namespace {

// Message numbers of catalogue 0x3EE4.
constexpr uint32_t kCatalogue = 0x3EE40000u;
constexpr uint32_t kFullDayBase = 0x02;
constexpr uint32_t kShortDayBase = 0x0A;
constexpr uint32_t kFullMonthBase = 0x12;
constexpr uint32_t kShortMonthBase = 0x1F;
constexpr uint32_t kMidnight = 0x2B;
constexpr uint32_t kNoon = 0x2C;
constexpr uint32_t kAm = 0x2D;
constexpr uint32_t kPm = 0x2E;
constexpr uint32_t kBc = 0x2F;
constexpr uint32_t kAd = 0x30;

constexpr const char* kEnglishFullDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};
constexpr const char* kEnglishShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kEnglishFullMonths[12] = {"January",   "February", "March",    "April",
                                                "May",       "June",     "July",     "August",
                                                "September", "October",  "November", "December"};
constexpr const char* kEnglishShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string NameOrEnglish(uint32_t message, const std::string& locale, const char* english) {
  std::string text = DateCatalogueText(kCatalogue | message, locale);
  return text.empty() ? std::string(english) : text;
}

std::unique_ptr<DateNames> BuildNames(const std::string& locale) {
  auto names = std::make_unique<DateNames>();
  names->locale = locale;
  for (uint32_t i = 0; i < 7; ++i) {
    names->fullDay[i] = NameOrEnglish(kFullDayBase + i, locale, kEnglishFullDays[i]);
    names->shortDay[i] = NameOrEnglish(kShortDayBase + i, locale, kEnglishShortDays[i]);
  }
  for (uint32_t i = 0; i < 12; ++i) {
    names->fullMonth[i] = NameOrEnglish(kFullMonthBase + i, locale, kEnglishFullMonths[i]);
    names->shortMonth[i] = NameOrEnglish(kShortMonthBase + i, locale, kEnglishShortMonths[i]);
  }
  names->midnight = NameOrEnglish(kMidnight, locale, "AM");
  names->noon = NameOrEnglish(kNoon, locale, "PM");
  names->am = NameOrEnglish(kAm, locale, "AM");
  names->pm = NameOrEnglish(kPm, locale, "PM");
  names->bc = NameOrEnglish(kBc, locale, "BC");
  names->ad = NameOrEnglish(kAd, locale, "AD");
  return names;
}

// Every locale's names, built once and never freed (a formatting thread may
// hold a reference at process exit). gLast is the most recently used entry,
// so a run of calls in one locale finds its names without the lock. The
// lock, too, is made on first use and never destroyed.
KLock& NamesLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return *lock;
}
std::vector<std::unique_ptr<DateNames>>* gAllNames VXK_GUARDED_BY(NamesLock()) = nullptr;
std::atomic<const DateNames*> gLast{nullptr};

}  // namespace

// The one place that asks the catalogue. The message comes for the calling
// thread's current locale, which is the locale the names are built for.
std::string DateCatalogueText(uint32_t code, const std::string& /*locale*/) {
  char text[256];
  err_get_msg(static_cast<long>(static_cast<int32_t>(code)), text, sizeof text);
  return std::string(text);
}

const std::string& PeriodName(const DateNames& names, const KDateTime& t) {
  if (t.Minute() == 0 && t.Second() == 0 && t.Milliseconds() == 0) {
    if (t.Hour() == 0) return names.midnight;
    if (t.Hour() == 12) return names.noon;
  }
  return t.Hour() < 12 ? names.am : names.pm;
}

const DateNames& CurrentDateNames() {
  const KString suffix = KLocale::CurrentLocale().ResourceSuffix();
  const char* key = suffix;
  const DateNames* last = gLast.load(std::memory_order_acquire);
  if (last != nullptr && std::strcmp(last->locale.c_str(), key) == 0) return *last;

  KLockGuard guard(NamesLock());
  if (gAllNames == nullptr) gAllNames = new std::vector<std::unique_ptr<DateNames>>();
  const DateNames* found = nullptr;
  for (const auto& entry : *gAllNames) {
    if (entry->locale == key) found = entry.get();
  }
  if (found == nullptr) {
    gAllNames->push_back(BuildNames(key));
    found = gAllNames->back().get();
  }
  gLast.store(found, std::memory_order_release);
  return *found;
}

}  // namespace vxk_internal

// ===== KDateTime's name getters =====

KString KDateTime::FullDay() const {
  return KString(vxk_internal::CurrentDateNames().fullDay[DayOfWeek() - 1].c_str());
}

KString KDateTime::ShortDay() const {
  return KString(vxk_internal::CurrentDateNames().shortDay[DayOfWeek() - 1].c_str());
}

KString KDateTime::FullMonth() const {
  const unsigned m = static_cast<unsigned>(Month());
  if (m - 1 >= 12) return KString();
  return KString(vxk_internal::CurrentDateNames().fullMonth[m - 1].c_str());
}

KString KDateTime::ShortMonth() const {
  const unsigned m = static_cast<unsigned>(Month());
  if (m - 1 >= 12) return KString();
  return KString(vxk_internal::CurrentDateNames().shortMonth[m - 1].c_str());
}

KString KDateTime::AMPM() const {
  return KString(vxk_internal::PeriodName(vxk_internal::CurrentDateNames(), *this).c_str());
}

KString KDateTime::ADBC() const {
  const vxk_internal::DateNames& names = vxk_internal::CurrentDateNames();
  return KString((Year() < 1 ? names.bc : names.ad).c_str());
}
