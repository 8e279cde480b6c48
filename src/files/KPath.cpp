#include "vxkernel/files/KPath.h"

#include <string>

#include "base/debug_line.h"
#include "files/files_internal.h"
#include "port/port.h"

namespace {

// Candidates are searched for as long as they fit a 255-byte buffer.
constexpr size_t kMaxCandidate = 254;

// The search of KPath::Access, without its debug lines.
std::string Find(const std::string& name) {
  std::string candidate;
  if (port::AbsolutePath(name, &candidate) && candidate.size() <= kMaxCandidate &&
      port::FileNameExists(candidate.c_str()))
    return candidate;
  if (name.find('/') != std::string::npos) return std::string();
  auto inDir = [&name](std::string dir) {
    if (dir.empty()) return std::string();
    if (dir.back() != '/') dir += '/';
    dir += name;
    return dir.size() <= kMaxCandidate && port::FileNameExists(dir.c_str()) ? dir : std::string();
  };
  if (std::string found = inDir(vxk_internal::StartupDirName()); !found.empty()) return found;
  std::string module;
  if (port::ModuleFileName(&module)) {
    module.erase(module.rfind('/') + 1);
    if (std::string found = inDir(module); !found.empty()) return found;
  }
  if (port::SearchPathFor(name, &candidate) && candidate.size() <= kMaxCandidate) return candidate;
  if (std::string found = inDir("/etc/"); !found.empty()) return found;
  return inDir("/usr/lib/");
}

}  // namespace

KString KPath::Access(const KString& name, unsigned char log) {
  const std::string found =
      name.Length() > 0 ? Find(std::string(name, name.Length())) : std::string();
  if (log) {
    if (found.empty())
      vxk_internal::DebugText("KPath::Access( '", static_cast<const char*>(name), "' ) failed.");
    else
      vxk_internal::DebugText("KPath::Access( '", static_cast<const char*>(name),
                              "' ) located at '", found, "'");
  }
  return KString(found.data(), static_cast<unsigned>(found.size()));
}
