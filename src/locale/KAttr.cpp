#include "vxkernel/locale/KAttr.h"

#include <cstring>

#include "base/debug_line.h"
#include "port/port.h"

KAttr::KAttr() : fIconmap(nullptr) { Init(); }

KAttr::KAttr(const KAttr& other)
    : fPlatform(other.fPlatform),
      fName(other.fName),
      fDsize(other.fDsize),
      fRsize(other.fRsize),
      fFlags(other.fFlags),
      fType(other.fType),
      fCreator(other.fCreator),
      fCreateDate(other.fCreateDate),
      fModifyDate(other.fModifyDate),
      fReadOnly(other.fReadOnly),
      fIconmap(nullptr),
      fFinderFlags(other.fFinderFlags) {
  Iconmap(other.fIconmap);
}

KAttr& KAttr::operator=(const KAttr& other) {
  if (this == &other) return *this;
  fPlatform = other.fPlatform;
  fName = other.fName;
  fDsize = other.fDsize;
  fRsize = other.fRsize;
  fFlags = other.fFlags;
  fType = other.fType;
  fCreator = other.fCreator;
  fCreateDate = other.fCreateDate;
  fModifyDate = other.fModifyDate;
  fReadOnly = other.fReadOnly;
  Iconmap(other.fIconmap);
  fFinderFlags = other.fFinderFlags;
  return *this;
}

KAttr::~KAttr() { delete[] fIconmap; }

void KAttr::Init() {
  fPlatform = 0;
  fName = KString();
  fDsize = 0;
  fRsize = 0;
  fFlags = 0;
  fType = KString();
  fCreator = KString();
  fCreateDate = KDateTime();
  fModifyDate = KDateTime();
  fReadOnly = 0;
  Iconmap(nullptr);
  fFinderFlags = 0;
}

void KAttr::Iconmap(const void* map) {
  if (map == nullptr) {
    delete[] fIconmap;
    fIconmap = nullptr;
    return;
  }
  if (fIconmap == nullptr) fIconmap = new unsigned char[kIconmapSize];
  std::memmove(fIconmap, map, kIconmapSize);  // map may be our own block
}

long KAttr::GetAttrFromFile(const KFile& file) {
  KString path = file.FullName();
  if (path.Length() > 1 && path[static_cast<int>(path.Length()) - 1] == '/')
    path = KString(path, path.Length() - 1);
  port::FileInfo info;
  if (path.Length() == 0 || !port::FileStat(path, &info)) {
    vxk_internal::DebugText("KAttrGetAttrFromFile( ", static_cast<const char*>(path),
                            " )...Error from GetFileAttributes\n");
    return -1;
  }
  fPlatform = kPlatform;
  const KString name = file.FileName();
  fName = name;
  const char* dot = std::strrchr(name, '.');
  fType = dot != nullptr ? KString(dot + 1).Upper() : KString();
  fDsize = info.isDirectory ? 0 : static_cast<int64_t>(info.size);
  fCreateDate.Systime(info.birthSeconds, false);
  fModifyDate.Systime(info.modifySeconds, false);
  fReadOnly = (info.mode & 0222) == 0 ? 1 : 0;
  return 0;
}

long KAttr::SetAttrToFile(const KFile& file) const {
  KString path = file.FullName();
  if (path.Length() > 1 && path[static_cast<int>(path.Length()) - 1] == '/')
    path = KString(path, path.Length() - 1);
  if (path.Length() == 0 || !port::SetReadOnly(path, fReadOnly != 0)) {
    vxk_internal::DebugText("KAttrSetAttrToFile( ", static_cast<const char*>(path),
                            " )...Error from GetFileAttributes\n");
    return -1;
  }
  return 0;
}
