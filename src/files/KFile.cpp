#include "vxkernel/files/KFile.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/debug_line.h"
#include "files/files_internal.h"
#include "port/port.h"
#include "vxkernel/files/KDir.h"
#include "vxkernel/files/pcfile.h"
#include "vxkernel/text/str.h"

namespace {

KString FromStd(const std::string& s) { return KString(s.data(), static_cast<unsigned>(s.size())); }

// Position of the last c in s, or -1.
long LastOf(const KString& s, char c) {
  const char* p = std::strrchr(s, c);
  return p != nullptr ? static_cast<long>(p - static_cast<const char*>(s)) : -1;
}

}  // namespace

namespace vxk_internal {

bool AbsoluteName(const std::string& name, std::string* out) {
  std::string absolute;
  if (!port::AbsolutePath(name, &absolute) || absolute.size() >= KFile::kMaxName) return false;
  *out = std::move(absolute);
  return true;
}

}  // namespace vxk_internal

const KString KFile::gTypeUnknown(".DAT");
const KString KFile::gTypeText(".TXT");
const KString KFile::gTypeProg(".EXE");
const KString KFile::gTypeExtension(".SYS");
const KString KFile::gTypeScript(".BAT");

KFile::KFile() : fValid(1), fLastError(0) {}

KFile::KFile(const char* fullName) : fValid(1), fLastError(0) { FullName(KString(fullName)); }

KFile::KFile(const KFile& other) = default;

KFile& KFile::operator=(const KFile& other) {
  if (this == &other) {
    vxk_internal::DebugText("(KFile) operator=( this, this )!");
    return *this;
  }
  fValid = other.fValid;
  fLastError = other.fLastError;
  fPathName = other.fPathName;
  fShortName = other.fShortName;
  fType = other.fType;
  return *this;
}

KFile::~KFile() = default;

KString KFile::DirSep() { return KString("/"); }

// ===== Names =====

void KFile::FullName(const KString& fullName) {
  if (fullName.Length() >= kMaxName) {
    vxk_internal::DebugText("KFile::FullName( ", static_cast<const char*>(fullName),
                            " name too long.\n");
    fValid = 0;
    return;
  }
  fValid = 1;
  std::string absolute;
  const bool made = vxk_internal::AbsoluteName(std::string(fullName, fullName.Length()), &absolute);
  const KString name = made ? FromStd(absolute) : fullName;
  const long sep = LastOf(name, '/');
  if (sep < 0) {
    fPathName = KString();
    FileName(name);
    return;
  }
  FileName(KString(static_cast<const char*>(name) + sep + 1,
                   name.Length() - static_cast<unsigned>(sep) - 1));
  const KString path(name, static_cast<unsigned>(sep) + 1);
  if (made)
    fPathName = path;  // already absolute: spare PathName the second pass
  else
    PathName(path);
}

KString KFile::FullName() const {
  if (!fValid) return KString();
  const KString whole = fPathName + FileName();
  std::string absolute;
  if (whole.Length() == 0 ||
      !vxk_internal::AbsoluteName(std::string(whole, whole.Length()), &absolute))
    return whole;
  return FromStd(absolute);
}

void KFile::FileName(const KString& fileName) {
  if (fileName.Length() >= kMaxName) {
    vxk_internal::DebugText("KFile::FileName( ", static_cast<const char*>(fileName),
                            " name too long.\n");
    fValid = 0;
    return;
  }
  const long dot = LastOf(fileName, '.');
  if (dot < 0) {
    fShortName = fileName;
    fType = KString();
  } else {
    fShortName = KString(fileName, static_cast<unsigned>(dot));
    fType = KString(static_cast<const char*>(fileName) + dot,
                    fileName.Length() - static_cast<unsigned>(dot));
  }
}

KString KFile::FileName() const { return fValid ? fShortName + fType : KString(); }

void KFile::PathName(const KString& path) {
  if (path.Length() >= kMaxName) {
    vxk_internal::DebugText("KFile::PathName( ", static_cast<const char*>(path),
                            " name too long.\n");
    fValid = 0;
    return;
  }
  KString withSep = path;
  if (withSep.Length() == 0 || withSep[static_cast<int>(withSep.Length()) - 1] != '/')
    withSep += '/';
  std::string absolute;
  fPathName = vxk_internal::AbsoluteName(std::string(withSep, withSep.Length()), &absolute)
                  ? FromStd(absolute)
                  : withSep;
}

KString KFile::PathName() const { return fValid ? fPathName : KString(); }

void KFile::ShortName(const KString& shortName) { fShortName = shortName; }

KString KFile::ShortName() const { return fValid ? fShortName : KString(); }

void KFile::Type(const KString& type) { fType = type; }

KString KFile::Type() const { return fValid ? fType.Upper() : KString(); }

KString KFile::ExtractName(const KString& fullName) {
  const long sep = LastOf(fullName, '/');
  if (sep < 0) return fullName;
  return KString(static_cast<const char*>(fullName) + sep + 1,
                 fullName.Length() - static_cast<unsigned>(sep) - 1);
}

KString KFile::ExtractPath(const KString& fullName) {
  const long sep = LastOf(fullName, '/');
  return sep < 0 ? KString() : KString(fullName, static_cast<unsigned>(sep) + 1);
}

// ===== The file itself =====

KString KFile::SystemName() const {
  KString name = FullName();
  const unsigned n = name.Length();
  if (n > 1 && name[static_cast<int>(n) - 1] == '/') name = KString(name, n - 1);
  return name;
}

bool KFile::Exists() const {
  if (!fValid) return false;
  const KString name = SystemName();
  return name.Length() > 0 && port::FileNameExists(name);
}

bool KFile::IsDir() const {
  port::FileInfo info;
  return fValid && port::FileStat(SystemName(), &info) && info.isDirectory;
}

bool KFile::IsDirSpec() const { return fValid && fShortName.Length() == 0 && fType.Length() == 0; }

int64_t KFile::Size() const {
  port::FileInfo info;
  if (!fValid || !port::FileStat(SystemName(), &info) || info.isDirectory) return 0;
  return static_cast<int64_t>(info.size);
}

bool KFile::Create() const {
  if (!fValid) return false;
  const KString name = SystemName();
  if (IsDirSpec()) {
    if (port::MakeDirectory(name)) return true;
    vxk_internal::DebugLine("KFile::Create",
                            "could not create directory: ", static_cast<const char*>(name));
    return false;
  }
  std::FILE* f = c_pc_fopen(name, "wt");
  if (f == nullptr) {
    vxk_internal::DebugLine("KFile::Create",
                            "could not create file: ", static_cast<const char*>(name));
    return false;
  }
  std::fclose(f);
  return true;
}

bool KFile::Delete() const {
  if (!fValid) return false;
  const KString name = SystemName();
  const bool dir = IsDirSpec();
  if (dir ? port::RemoveDirectory(name) : port::RemoveFile(name)) return true;
  vxk_internal::DebugLine("KFile::Delete",
                          dir ? "could not remove directory: " : "could not delete file: ",
                          static_cast<const char*>(name));
  return false;
}

KDir* KFile::Parent() const {
  if (!fValid) return nullptr;
  if (!IsDirSpec()) return new KDir(static_cast<const char*>(fPathName));
  const KString name = SystemName();  // "/a/b" for "/a/b/"
  const KString up = ExtractPath(name);
  return new KDir(up.Length() > 0 ? static_cast<const char*>(up) : "/");
}

bool KFile::IsText() const { return fValid && Type() == gTypeText; }

bool KFile::operator==(const KFile& other) const {
  return str_DBCS_cmp(FullName(), other.FullName(), true) == 0;
}
