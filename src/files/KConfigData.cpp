// KConfigData: the configuration store read through the preference reader.
#include "vxkernel/files/KConfigData.h"

#include "base/debug_line.h"
#include "files/profile.h"
#include "port/port.h"
#include "vxkernel/files/fileprefs.h"

namespace {

constexpr unsigned long kValueBuffer = 1024;

}  // namespace

KConfigData::KConfigData(const char* key) : fKey(key != nullptr ? key : "") {}

void KConfigData::SetKey(const char* key) { fKey = key != nullptr ? key : ""; }

void KConfigData::AppendKey(const char* sub) {
  fKey += "\\";
  fKey += sub != nullptr ? sub : "";
}

KString KConfigData::StorePath() {
  return KString(vxk_internal::UserConfigFile("VXKERNEL_CONFIGDATA", "configdata.ini").c_str());
}

bool KConfigData::Get(const char* name, KString& out, const KString& def) const {
  if (name == nullptr) {
    vxk_internal::DebugLine("KConfigData::Get", "null name");
    out = def;
    return false;
  }
  try {
    const KString path = StorePath();
    // A store that does not exist holds no keys: that is an answer, not a
    // failure, so it writes no debug line.
    if (path.Length() > 0 && port::FileNameExists(path)) {
      if (void* h = fileprefs_open(path)) {
        char buf[kValueBuffer];
        long r = fileprefs_get_pref(h, fKey, name, buf, sizeof buf);
        fileprefs_close(h);
        if (r == 0) {
          out = buf;
          return true;
        }
      }
    }
  } catch (...) {
    vxk_internal::DebugLine("KConfigData::Get", "out of memory");
  }
  out = def;
  return false;
}

bool KConfigData::Exists(const char* name) const {
  KString ignored;
  return Get(name, ignored, KString());
}
