#include "vxkernel/runtime/dbgutils.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "vxkernel/runtime/dbgstrm.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/threads/KSharedFile.h"

namespace {

// Serialises roll-overs of the whole process; made on first use and kept.
KLock& RollLock() {
  static KLock* lock = new KLock(KLock::kCriticalSection);
  return *lock;
}

// Every setup installs only under the compatibility printer.
bool CompatibilityInForce() {
  dbgstrm_set_compatiblity_mode();
  return dbgstrm_is_compatiblity_mode();
}

// "%s_%ld%s" into a 255-byte buffer, as the roll-over names are built.
std::string Numbered(const std::string& base, long i, const std::string& ext) {
  char buf[255];
  std::snprintf(buf, sizeof buf, "%s_%ld%s", base.c_str(), i, ext.c_str());
  return buf;
}

// fopen modes of the library may carry 't' (text); the shared open takes
// the plain fopen letters.
std::string PlainMode(const char* mode, bool* text) {
  std::string plain;
  *text = true;
  for (const char* p = mode; *p != '\0'; ++p) {
    if (*p == 't') continue;
    if (*p == 'b') *text = false;
    plain += *p;
  }
  return plain;
}

}  // namespace

void dbgutils_batch_output_routine(DBG_output kind, long, void*, const char* text) {
  if (kind == DBG_write && text != nullptr) std::fprintf(stderr, "%s", text);
}

void dbgutils_cout_output_routine(DBG_output kind, long, void*, const char* text) {
  if (kind == DBG_write && text != nullptr) std::cout << text << std::flush;
}

void dbgutils_file_output_routine(DBG_output kind, long, void* datum, const char* text) {
  auto* file = static_cast<std::FILE*>(datum);
  if (file == nullptr) return;
  if (kind == DBG_write && text != nullptr) {
    std::fputs(text, file);
    std::fflush(file);
  } else if (kind == DBG_close) {
    std::fclose(file);
  }
}

void dbgutils_batch_setup() {
  if (!CompatibilityInForce()) return;
  dbg_init();
  dbg_set_output(&dbgutils_batch_output_routine, nullptr);
}

void dbgutils_cout_setup() {
  if (!CompatibilityInForce()) return;
  dbg_init();
  dbg_set_output(&dbgutils_cout_output_routine, nullptr);
}

void dbgutils_file_setup(const char* name, const char* mode, unsigned keep) {
  dbgutils_file_setup_file(nullptr, name, mode, keep);
}

void dbgutils_file_setup_file(std::FILE** out, const char* name, const char* mode, unsigned keep) {
  if (out != nullptr) *out = nullptr;
  if (!CompatibilityInForce()) return;
  if (name == nullptr) name = "debug.out";
  if (mode == nullptr) mode = "wt";
  dbg_init();
  dbgutils_file_roll_logs(name, keep);
  bool text = true;
  std::string plain = PlainMode(mode, &text);
  // Text files are for people: others may read them while we write.
  std::FILE* file = KSharedFile::Open(name, plain.c_str(), text ? kShareRead : kShareNone);
  if (file != nullptr) dbg_set_output(&dbgutils_file_output_routine, file);
  if (out != nullptr) *out = file;
}

unsigned char dbgutils_file_roll_logs(std::string name, unsigned keep) {
  KLockGuard guard(RollLock());
  bool ok = true;
  if (keep != 0) {
    std::string::size_type dot = name.rfind('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    for (unsigned long i = keep; i >= 1; --i) {
      std::string target = Numbered(base, static_cast<long>(i), ext);
      std::string source = i == 1 ? name : Numbered(base, static_cast<long>(i - 1), ext);
      errno = 0;
      if (std::remove(target.c_str()) != 0 && errno != ENOENT) ok = false;
      errno = 0;
      if (std::rename(source.c_str(), target.c_str()) != 0 && errno != ENOENT) ok = false;
    }
  }
  return ok ? 1 : 0;
}
