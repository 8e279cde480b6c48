#include "vxkernel/files/pcfile.h"

#include <cstring>

#include "base/debug_line.h"
#include "files/files_internal.h"
#include "port/port.h"

namespace {

constexpr unsigned kShareNone = 0;
constexpr unsigned kShareRead = 1;

// The sharing bits for mode (see c_pc_fopen).
unsigned ShareFor(const char* mode) {
  const bool text = std::strchr(mode, 't') != nullptr || std::strchr(mode, 'b') == nullptr;
  if (text) return kShareRead;
  const bool writes = std::strpbrk(mode, "+wa") != nullptr;
  return writes ? kShareNone : kShareRead;
}

std::FILE* Open(const char* name, const char* mode, unsigned extraShare) {
  if (name == nullptr || mode == nullptr || name[0] == '\0') {
    vxk_internal::DebugLine("c_pc_fopen",
                            "missing name or mode: ", name != nullptr ? name : "(null)");
    return nullptr;
  }
  char clean[16];
  size_t n = 0;
  for (const char* p = mode; *p != '\0' && n + 1 < sizeof clean; ++p)
    if (*p != 't') clean[n++] = *p;
  clean[n] = '\0';
  bool refused = false;
  std::FILE* stream = port::OpenShared(name, clean, ShareFor(mode) | extraShare, &refused);
  if (stream == nullptr)
    vxk_internal::DebugLine("c_pc_fopen",
                            refused ? "sharing violation: " : "could not open file: ", name);
  return stream;
}

}  // namespace

extern "C" std::FILE* c_pc_fopen(const char* name, const char* mode) {
  try {
    return Open(name, mode, 0);
  } catch (...) {
    return nullptr;  // nothing here throws; the C boundary holds regardless
  }
}

std::FILE* vxk_internal::OpenRegularFile(const char* name, const char* mode) {
  return Open(name, mode, port::kShareRegularOnly);
}
