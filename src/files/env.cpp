#include "vxkernel/files/env.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/debug_line.h"
#include "files/profile.h"
#include "port/port.h"
#include "text/text_walk.h"
#include "vxkernel/runtime/PcRsc.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

namespace {

// Variable names longer than this are never looked up: no variable of the
// interface's name buffers could have them.
constexpr size_t kMaxName = 254;

// "Not found" when reading a profile file.
constexpr char kNotFound[] = "%%%";

// The lock of every environment read and write made here. Made on first use
// and never destroyed, so a call during exit still finds it.
KLock& EnvLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return *lock;
}

// The variable's value, copied under the lock; false when it is not set.
bool Lookup(const std::string& name, std::string* value) {
  if (name.empty() || name.size() > kMaxName) return false;
  KLockGuard guard(EnvLock());
  const char* v = std::getenv(name.c_str());
  if (v == nullptr) return false;
  value->assign(v);
  return true;
}

// Copies text into buffer, cut to size - 1 bytes at a character boundary
// of the process encoding, and terminates it.
void CopyOut(const std::string& text, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  if (n < text.size()) {
    const vxk_internal::TextEnv env = vxk_internal::CurrentTextEnv();
    const auto* p = reinterpret_cast<const unsigned char*>(text.c_str());
    if (env.Dbcs()) {
      size_t i = 0;
      while (i < n) {
        const size_t width = env.PairAt(p + i) ? 2 : 1;
        if (i + width > n) break;
        i += width;
      }
      n = i;
    } else if (env.Utf8()) {
      while (n > 0 && (p[n] & 0xC0) == 0x80) --n;  // p[n] would start the cut-off part
    }
  }
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

bool IsAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The value of name in section of the profile file at path, or kNotFound.
std::string ProfileValue(const std::string& path, const char* section, const char* name) {
  std::string value;
  return vxk_internal::ReadProfileString(path, section, name, &value) ? value : kNotFound;
}

// Steps 1 and 2 of env_getenv_default: the profile files named by the
// resource strings. False when they do not answer.
bool FromProfiles(const char* name, std::string* value) {
  char section[32];
  char privateFile[254];
  const bool haveSection = PcRsc::LoadStringA(1, section, sizeof section) > 0;
  const bool haveFile = PcRsc::LoadStringA(2, privateFile, sizeof privateFile) > 0;
  if (!haveSection) return false;
  const std::string profile = vxk_internal::ProfilePath();
  std::string found;
  if (haveFile) {
    std::string file = ProfileValue(profile, section, "INIFILE");
    if (file == kNotFound) file = privateFile;
    found = ProfileValue(vxk_internal::ProfileRelative(profile, file), section, name);
  } else {
    found = ProfileValue(profile, section, name);
  }
  if (found == kNotFound) return false;
  *value = std::move(found);
  return true;
}

}  // namespace

extern "C" {

char* env_getenv(const char* name) {
  if (name == nullptr) return nullptr;
  KLockGuard guard(EnvLock());
  const char* v = std::getenv(name);
  if (v == nullptr) return nullptr;
  char* copy = static_cast<char*>(std::malloc(std::strlen(v) + 1));
  if (copy == nullptr) {
    vxk_internal::DebugLine("env_getenv", "out of memory copying ", name);
    return nullptr;
  }
  return std::strcpy(copy, v);
}

bool env_putenv(const char* assignment) {
  if (assignment == nullptr || assignment[0] == '\0') return false;
  const char* equals = std::strchr(assignment, '=');
  if (equals == nullptr || equals == assignment) {
    vxk_internal::DebugLine("env_putenv", "not of the form NAME=value: ", assignment);
    return false;
  }
  try {
    const std::string name(assignment, equals);
    KLockGuard guard(EnvLock());
    if (!port::SetEnvironmentVariable(name.c_str(), equals + 1)) {
      vxk_internal::DebugLine("env_putenv", "the environment refused ", assignment);
      return false;
    }
    return true;
  } catch (...) {
    vxk_internal::DebugLine("env_putenv", "out of memory setting ", assignment);
    return false;
  }
}

char* env_getenv_default(const char* name, const char* dflt, char* buffer, size_t size) {
  try {
    std::string value;
    if (name == nullptr || !(FromProfiles(name, &value) || Lookup(name, &value)))
      value = dflt != nullptr ? dflt : "";
    CopyOut(value, buffer, size);
  } catch (...) {
    vxk_internal::DebugLine("env_getenv_default", "out of memory looking up ",
                            name != nullptr ? name : "(null)");
    CopyOut(std::string(), buffer, size);
  }
  return buffer;
}

char* env_xlate(const char* source, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return buffer;
  try {
    std::string out;
    std::string value;
    const char* p = source != nullptr ? source : "";
    // Work stops once the result is longer than the buffer: the rest would
    // be cut anyway.
    while (*p != '\0' && out.size() <= size) {
      const char* dollar = std::strchr(p, '$');
      if (dollar == nullptr) {
        out.append(p);
        break;
      }
      out.append(p, dollar);
      const char* q = dollar + 1;
      if (*q == '(') {
        const char* close = std::strchr(q + 1, ')');
        if (close == nullptr) {  // no reference after all: the rest stays as it is
          out.append(dollar);
          break;
        }
        if (Lookup(std::string(q + 1, close), &value)) out += value;
        p = close + 1;
      } else if (IsAsciiLetter(static_cast<unsigned char>(*q))) {
        const char* end = q;
        while (IsAsciiLetter(static_cast<unsigned char>(*end)) || *end == '_') ++end;
        if (Lookup(std::string(q, end), &value)) out += value;
        p = end;
      } else {
        out += '$';
        p = *q == '$' ? q + 1 : q;
      }
    }
    CopyOut(out, buffer, size);
  } catch (...) {
    vxk_internal::DebugLine("env_xlate", "out of memory expanding ",
                            source != nullptr ? source : "(null)");
    buffer[0] = '\0';
  }
  return buffer;
}

}  // extern "C"
