#include "vxkernel/files/KDir.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/debug_line.h"
#include "files/files_internal.h"
#include "port/port.h"
#include "vxkernel/text/KArray.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

KDir* KDir::gStartupDir = nullptr;

namespace {

// Made on first use and never freed, so the start-up directory can be read
// at any time, also while static objects are destroyed.
KLock* StartupLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return lock;
}

// The directory's entries whose full names fit, in the system's order.
// dirName is the directory's full name; op names the caller in the debug
// lines about a directory that cannot be read and entries left out.
std::vector<port::DirEntry> Entries(const std::string& dirName, const char* op) {
  std::vector<port::DirEntry> entries;
  if (dirName.empty()) return entries;
  if (!port::ListDirectory(dirName.c_str(), &entries))
    vxk_internal::DebugLine(op, "could not read ", dirName);
  size_t tooLong = 0;
  std::erase_if(entries, [&](const port::DirEntry& e) {
    const bool drop = dirName.size() + e.name.size() + (e.isDirectory ? 1 : 0) >= KFile::kMaxName;
    tooLong += drop ? 1 : 0;
    return drop;
  });
  if (tooLong > 0) vxk_internal::DebugLine(op, tooLong, " names too long left out of ", dirName);
  return entries;
}

bool ByName(const port::DirEntry& a, const port::DirEntry& b) { return a.name < b.name; }

char* NewText(const std::string& s) {
  char* p = new (std::nothrow) char[s.size() + 1];
  if (p != nullptr) std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

}  // namespace

namespace vxk_internal {

std::string StartupDirName() {
  KLockGuard guard(StartupLock());
  if (KDir::gStartupDir == nullptr) return std::string();
  const KString name = KDir::gStartupDir->FullName();
  return std::string(name, name.Length());
}

}  // namespace vxk_internal

KDir::KDir(const char* path) {
  if (path == nullptr || path[0] == '\0') return;
  KString name(path);
  if (name[static_cast<int>(name.Length()) - 1] != '/') name += '/';
  FullName(name);
}

KDir::~KDir() = default;

// ===== Listing =====

unsigned short KDir::NFiles() const {
  const KString dir = FullName();
  const size_t n = Entries(std::string(dir, dir.Length()), "KDir::NFiles").size();
  return static_cast<unsigned short>(std::min<size_t>(n, 0xFFFF));
}

KFile* KDir::GetFile(unsigned short n) const {
  const KString dir = FullName();
  std::vector<port::DirEntry> entries = Entries(std::string(dir, dir.Length()), "KDir::GetFile");
  if (n == 0 || n > entries.size()) return nullptr;
  // Only the n-th in name order is needed, not the whole order.
  std::nth_element(entries.begin(), entries.begin() + (n - 1), entries.end(), ByName);
  const std::string full = std::string(dir, dir.Length()) + entries[n - 1].name;
  if (entries[n - 1].isDirectory) return new KDir(full.c_str());
  return new KFile(full.c_str());
}

KArray* KDir::GetFileNames(KArray* names) const {
  if (names == nullptr) {
    vxk_internal::DebugLine("KDir::GetFileNames", "no array");
    return nullptr;
  }
  if (names->NumElements() > 0) names->DeleteElementsBetween(1, names->NumElements());
  const KString dirText = FullName();
  const std::string dir(dirText, dirText.Length());
  std::vector<port::DirEntry> entries = Entries(dir, "KDir::GetFileNames");
  std::sort(entries.begin(), entries.end(), ByName);
  for (const port::DirEntry& e : entries) {
    char* p = NewText(dir + e.name + (e.isDirectory ? "/" : ""));
    if (p == nullptr || !names->AddSelement(static_cast<void*>(p))) {
      delete[] p;
      vxk_internal::DebugLine("KDir::GetFileNames", "out of memory after ", names->NumElements(),
                              " names");
      break;
    }
  }
  return names;
}

void KDir::FreeFileNames(KArray* names) {
  if (names == nullptr) return;
  for (unsigned long i = 1; i <= names->NumElements(); ++i)
    delete[] static_cast<char*>(names->GetSelementAt(i));
  if (names->NumElements() > 0) names->DeleteElementsBetween(1, names->NumElements());
}

void KDir::ForEachFile(ForEachFunc fn, void* datum) {
  if (fn == nullptr) return;
  const unsigned short count = NFiles();
  for (unsigned short n = 1; n <= count && n != 0; ++n) {
    KFile* file = GetFile(n);
    fn(datum, this, file, n);
    delete file;
  }
}

// ===== Well-known directories =====

KDir* KDir::CurrDir() {
  std::string dir;
  if (!port::ProcessCurrentDirectory(&dir) || dir.empty()) {
    vxk_internal::DebugLine("KDir::CurrDir", "could not read the current directory");
    return nullptr;
  }
  return new KDir(dir.c_str());
}

bool KDir::CurrDir(KDir* dir) {
  const KString name = dir != nullptr ? dir->SystemName() : KString();
  if (name.Length() > 0 && port::ChangeDirectory(name)) return true;
  vxk_internal::DebugLine("KDir::CurrDir", "could not change to ", static_cast<const char*>(name));
  return false;
}

KDir* KDir::SystemDir() { return new KDir("/usr/lib/"); }

KArray* KDir::RootDirs() {
  auto* roots = new KArray();
  roots->AddSelement(static_cast<void*>(NewText("/")));
  return roots;
}

KDir* KDir::StartupDir() {
  KLockGuard guard(StartupLock());
  return gStartupDir != nullptr ? new KDir(*gStartupDir) : nullptr;
}

void KDir::StartupDir(KDir* dir) {
  KDir* copy = dir != nullptr ? new KDir(*dir) : nullptr;
  KDir* old;
  {
    KLockGuard guard(StartupLock());
    old = gStartupDir;
    gStartupDir = copy;
  }
  delete old;
}

// ===== Free space =====

uint64_t KDir::FreeSpaceBytes() const {
  uint64_t bytes = 0;
  const KString name = SystemName();
  if (name.Length() == 0 || !port::FreeSpace(name, &bytes)) return ~uint64_t{0};
  return bytes;
}

long KDir::FreeSpaceMegabytes() const {
  const uint64_t bytes = FreeSpaceBytes();
  return bytes == ~uint64_t{0} ? -1L : static_cast<long>(bytes / 1048576);
}
