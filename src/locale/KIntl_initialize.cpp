// Start-up of the text settings from the configuration file.
#include <clocale>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/debug_line.h"
#include "locale/intl_internal.h"
#include "vxkernel/files/KConfigFile.h"
#include "vxkernel/files/KFilePrefs.h"
#include "vxkernel/files/env.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/locale/KLocale.h"

using vxk_internal::DebugText;

namespace {

// The value of section/name, whole; nullopt when absent. Values are read
// through a buffer of their own length, so none is cut.
std::optional<std::string> Value(KFilePrefs* prefs, const char* section, const char* name) {
  long length = 0;
  if (prefs == nullptr || prefs->GetPrefLength(section, name, &length) != 0) return std::nullopt;
  std::vector<char> buf(static_cast<size_t>(length) + 1);
  if (prefs->GetPref(section, name, buf.data(), static_cast<long>(buf.size())) != 0)
    return std::nullopt;
  return std::string(buf.data());
}

// Whether key starts with "ENV_" in any case.
bool IsEnvKey(const char* key) {
  static const char kPrefix[] = "ENV_";
  for (size_t i = 0; i < 4; ++i) {
    char c = key[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kPrefix[i]) return false;
  }
  return true;
}

}  // namespace

void KIntl::SysInitialize(const KString& section, KFilePrefs* prefs) {
  if (prefs == nullptr) {
    vxk_internal::IntlSysInitialize(nullptr);
    return;
  }
  vxk_internal::IntlLangPrefs lang;
  lang.language = Value(prefs, section, "VX_LANGUAGE");
  lang.intlStrings = Value(prefs, section, "VX_INTLSTRINGS");
  lang.multiByte = Value(prefs, section, "VX_MULTIBYTE");
  lang.encoding = Value(prefs, section, "VX_ENCODING");
  vxk_internal::IntlSysInitialize(&lang);
}

void KIntl::Initialize(long debugLevel) {
  if (debugLevel > 0) vxk_internal::IntlSetDebugLevel(static_cast<int32_t>(debugLevel));

  // A configuration file that was named but cannot be read counts as none.
  KFilePrefs* prefs = nullptr;
  if (KConfigFile* config = KConfigFile::TheConfigFile())
    prefs = KFilePrefs::GetKFilePrefs(config->FilePath());
  if (prefs == nullptr) DebugText("KIntl::Initialize - no config file");

  if (auto locale = Value(prefs, "Locale", "Default")) DefaultLocale(locale->c_str());

  const KString suffix = DefaultLocaleResourceSuffix();
  KLocale::CurrentLocale(static_cast<const char*>(suffix));
  DebugText("KIntl::Initialize - default Locale Suffix: ", static_cast<const char*>(suffix));

  if (auto collate = Value(prefs, "Lang", "VX_LC_COLLATE")) {
    const char* set = std::setlocale(LC_COLLATE, collate->c_str());
    if (set == nullptr) {
      DebugText("KIntl::Initialize - Could not set collate Locale: ", *collate);
    } else {
      DebugText("KIntl::Initialize - collate Locale set: ", set);
      IntlStrings(true);
    }
  }

  SysInitialize("Lang", prefs);

  if (prefs == nullptr) return;
  char** keys = prefs->ListValues("Lang");
  for (char** key = keys; key != nullptr && *key != nullptr; ++key) {
    if (!IsEnvKey(*key)) continue;
    auto value = Value(prefs, "Lang", *key);
    if (!value || value->empty()) continue;
    const std::string text = std::string(*key + 4) + "=" + *value;
    if (env_putenv(text.c_str()))
      DebugText("KIntl::Initialize - added key to environment: ", text);
    else
      DebugText("KIntl::Initialize - could not add key to environment: ", text);
  }
  KFilePrefs::ListRelease(keys);
}
