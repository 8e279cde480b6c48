/// \file
/// Conversions between texts in a code page and wide strings.
///
/// Narrow texts are std::string bytes in a code page; wide texts are
/// std::wstring, whose wchar_t holds one UTF-32 code point on Linux. Code
/// pages are given by number (932 Shift-JIS, 949 Hangul, 1252 Western,
/// 65001 UTF-8, ...; 0 is the process's active ANSI code page). A length of
/// -1 means "up to the terminating NUL". Bytes that are not valid in the code
/// page become U+FFFD; wide characters the code page cannot hold become "?".
/// An unknown code page or a null text gives an empty result (the former also
/// writes one debug line). All functions are reentrant and keep no state of
/// their own.
#ifndef VXKERNEL_TEXT_CODEPAGE_H_
#define VXKERNEL_TEXT_CODEPAGE_H_

#include <string>

#include "vxkernel/export.h"

// ===== Any code page =====

/// The wide text of len bytes at s (or all of s, embedded NULs included) in
/// code page codePage.
///@{
VXKERNEL_EXPORT std::wstring mbtow(unsigned codePage, const char* s, long len = -1);
VXKERNEL_EXPORT std::wstring mbtow(unsigned codePage, const std::string& s);
///@}
/// The bytes in code page codePage of len wide characters at w (or all of
/// w); values above U+10FFFF become "?" as well.
///@{
VXKERNEL_EXPORT std::string wtomb(unsigned codePage, const wchar_t* w, long len = -1);
VXKERNEL_EXPORT std::string wtomb(unsigned codePage, const std::wstring& w);
///@}

// ===== Named code pages =====

/// The active ANSI code page (code page 0): mbtow and wtomb with code page 0.
///@{
VXKERNEL_EXPORT std::wstring atow(const char* s, long len = -1);
VXKERNEL_EXPORT std::wstring atow(const std::string& s);
VXKERNEL_EXPORT std::string wtoa(const wchar_t* w, long len = -1);
VXKERNEL_EXPORT std::string wtoa(const std::wstring& w);
///@}

/// UTF-8 (code page 65001): mbtow and wtomb with code page 65001.
///@{
VXKERNEL_EXPORT std::wstring utf8tow(const char* s, long len = -1);
VXKERNEL_EXPORT std::wstring utf8tow(const std::string& s);
VXKERNEL_EXPORT std::string wtoutf8(const wchar_t* w, long len = -1);
VXKERNEL_EXPORT std::string wtoutf8(const std::wstring& w);
///@}

/// Shift-JIS (code page 932): mbtow and wtomb with code page 932.
///@{
VXKERNEL_EXPORT std::wstring sjtow(const char* s, long len = -1);
VXKERNEL_EXPORT std::wstring sjtow(const std::string& s);
VXKERNEL_EXPORT std::string wtosj(const wchar_t* w, long len = -1);
VXKERNEL_EXPORT std::string wtosj(const std::wstring& w);
///@}

/// Facts about code pages. Stateless.
class VXKERNEL_EXPORT WCodePage {
 public:
  /// True for every code page but 0.
  static bool IsMultiByte(unsigned codePage);
};

/// The value of the environment variable name, as a wide string (the
/// environment holds UTF-8 bytes); empty when the variable is unset or name
/// is null.
///@{
VXKERNEL_EXPORT std::wstring WGetEnv(const wchar_t* name);
VXKERNEL_EXPORT std::wstring WGetEnv(const std::wstring& name);
///@}

#endif  // VXKERNEL_TEXT_CODEPAGE_H_
