// Code-page conversions between byte texts and wide strings, over the
// platform's iconv converters.
#include "vxkernel/text/codepage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "base/debug_line.h"
#include "port/port.h"
#include "text/text_settings.h"

namespace {

static_assert(sizeof(wchar_t) == 4, "wide strings hold UTF-32 code points");

// The converter names of the code pages the library knows by number. Any
// other number is tried as "CP<n>", which covers the rest of the system's
// numbered code pages.
struct CodePageName {
  unsigned fCodePage;
  const char* fName;
};

constexpr CodePageName kNames[] = {
    {437, "CP437"},         {850, "CP850"},         {852, "CP852"},         {866, "CP866"},
    {874, "CP874"},         {932, "CP932"},         {936, "CP936"},         {949, "CP949"},
    {950, "CP950"},         {1200, "UTF-16LE"},     {1201, "UTF-16BE"},     {1250, "CP1250"},
    {1251, "CP1251"},       {1252, "CP1252"},       {1253, "CP1253"},       {1254, "CP1254"},
    {1255, "CP1255"},       {1256, "CP1256"},       {1257, "CP1257"},       {1258, "CP1258"},
    {1361, "JOHAB"},        {12000, "UTF-32LE"},    {12001, "UTF-32BE"},    {20127, "ASCII"},
    {20866, "KOI8-R"},      {20932, "EUC-JP"},      {21866, "KOI8-U"},      {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},  {28595, "ISO-8859-5"},  {28597, "ISO-8859-7"},  {28605, "ISO-8859-15"},
    {50220, "ISO-2022-JP"}, {50221, "ISO-2022-JP"}, {50222, "ISO-2022-JP"}, {51932, "EUC-JP"},
    {51949, "EUC-KR"},      {54936, "GB18030"},     {65000, "UTF-7"},       {65001, "UTF-8"},
};

// The iconv name of a code page (0: the active one).
std::string IconvName(unsigned codePage) {
  if (codePage == 0) codePage = vxk_internal::ActiveCodePage();
  for (const CodePageName& n : kNames) {
    if (n.fCodePage == codePage) return n.fName;
  }
  return "CP" + std::to_string(codePage);
}

// The wide side: wchar_t is UTF-32 in host order.
constexpr const char* kWide = "WCHAR_T";

// U+FFFD, the character the system puts for invalid input.
constexpr wchar_t kReplacement = 0xFFFD;

const std::string& WideReplacement() {
  static const std::string r(reinterpret_cast<const char*>(&kReplacement), sizeof kReplacement);
  return r;
}

// Whether c is a Unicode code point (wchar_t is signed here).
bool IsCodePoint(wchar_t c) { return static_cast<uint32_t>(c) <= 0x10FFFF; }

}  // namespace

std::wstring mbtow(unsigned codePage, const char* s, long len) {
  if (s == nullptr) return std::wstring();
  const size_t n = len < 0 ? std::strlen(s) : static_cast<size_t>(len);
  if (n == 0) return std::wstring();
  std::string bytes;
  const std::string name = IconvName(codePage);
  if (port::IconvConvert(name.c_str(), kWide, s, n, 1, WideReplacement(), &bytes) ==
      port::IconvResult::kUnknown) {
    vxk_internal::DebugLine("mbtow", "unsupported code page ", codePage);
    return std::wstring();
  }
  std::wstring w(bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(w.data(), bytes.data(), w.size() * sizeof(wchar_t));
  // The system's UTF-8 decoder passes sequences above the last code point
  // through (F4 90 80 80 gives 0x110000); no code page holds such a value.
  for (wchar_t& c : w) {
    if (!IsCodePoint(c)) c = kReplacement;
  }
  return w;
}

std::wstring mbtow(unsigned codePage, const std::string& s) {
  return mbtow(codePage, s.data(), static_cast<long>(s.size()));
}

std::string wtomb(unsigned codePage, const wchar_t* w, long len) {
  if (w == nullptr) return std::string();
  const size_t n = len < 0 ? std::wcslen(w) : static_cast<size_t>(len);
  if (n == 0) return std::string();
  // A wide value above the last code point is no character: it becomes "?"
  // like any other the code page cannot hold, instead of the 5- and 6-byte
  // forms the system's UTF-8 encoder would make of it.
  std::wstring checked;
  for (size_t i = 0; i < n; ++i) {
    if (IsCodePoint(w[i])) continue;
    if (checked.empty()) checked.assign(w, n);
    checked[i] = L'?';
  }
  if (!checked.empty()) w = checked.data();
  std::string out;
  const std::string name = IconvName(codePage);
  if (port::IconvConvert(kWide, name.c_str(), w, n * sizeof(wchar_t), sizeof(wchar_t), "?", &out) ==
      port::IconvResult::kUnknown) {
    vxk_internal::DebugLine("wtomb", "unsupported code page ", codePage);
    return std::string();
  }
  return out;
}

std::string wtomb(unsigned codePage, const std::wstring& w) {
  return wtomb(codePage, w.data(), static_cast<long>(w.size()));
}

std::wstring atow(const char* s, long len) { return mbtow(0, s, len); }
std::wstring atow(const std::string& s) { return mbtow(0, s); }
std::string wtoa(const wchar_t* w, long len) { return wtomb(0, w, len); }
std::string wtoa(const std::wstring& w) { return wtomb(0, w); }

std::wstring utf8tow(const char* s, long len) { return mbtow(vxk_internal::kCodePageUtf8, s, len); }
std::wstring utf8tow(const std::string& s) { return mbtow(vxk_internal::kCodePageUtf8, s); }
std::string wtoutf8(const wchar_t* w, long len) {
  return wtomb(vxk_internal::kCodePageUtf8, w, len);
}
std::string wtoutf8(const std::wstring& w) { return wtomb(vxk_internal::kCodePageUtf8, w); }

std::wstring sjtow(const char* s, long len) {
  return mbtow(vxk_internal::kCodePageShiftJis, s, len);
}
std::wstring sjtow(const std::string& s) { return mbtow(vxk_internal::kCodePageShiftJis, s); }
std::string wtosj(const wchar_t* w, long len) {
  return wtomb(vxk_internal::kCodePageShiftJis, w, len);
}
std::string wtosj(const std::wstring& w) { return wtomb(vxk_internal::kCodePageShiftJis, w); }

bool WCodePage::IsMultiByte(unsigned codePage) { return codePage != 0; }

std::wstring WGetEnv(const wchar_t* name) {
  if (name == nullptr || *name == 0) return std::wstring();
  const std::string narrow = wtoutf8(name);
  const char* value = std::getenv(narrow.c_str());
  return value == nullptr ? std::wstring() : utf8tow(value);
}

std::wstring WGetEnv(const std::wstring& name) { return WGetEnv(name.c_str()); }
