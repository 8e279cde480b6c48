#include "vxkernel/files/KLoadLib.h"

#include <string>

#include "base/debug_line.h"
#include "port/port.h"

using vxk_internal::DebugText;

KLoadLib::KLoadLib() = default;
KLoadLib::KLoadLib(const KLoadLib& other) = default;
KLoadLib& KLoadLib::operator=(const KLoadLib& other) = default;
// Leaves the library loaded: copies may still use it.
KLoadLib::~KLoadLib() = default;

const char* KLoadLib::LibSuffix() { return ".so"; }

void KLoadLib::SetLastError(const char* text) {
  // Loader texts too short to say anything are replaced by a fixed one.
  fLastError = (text != nullptr && text[0] != '\0' && text[1] != '\0' && text[2] != '\0')
                   ? KString(text)
                   : KString("Unknown error loading library");
}

bool KLoadLib::Open(const char* fileName, long /*flags*/) {
  std::string error;
  fModule = port::DlOpen(fileName, &error);
  if (fModule != nullptr) return true;
  SetLastError(error.c_str());
  DebugText("KLoadLib::Open could not load: ", fileName != nullptr ? fileName : "", " (",
            static_cast<const char*>(fLastError), ")\n");
  return false;
}

bool KLoadLib::OpenWithProperSuffix(const char* name, long flags) {
  if (name == nullptr || *name == '\0') return false;
  KString full(name);
  full += LibSuffix();
  return Open(full, flags);
}

void* KLoadLib::GetFunctionAddress(const char* name) {
  if (fModule == nullptr || name == nullptr) return nullptr;
  std::string error;
  void* address = port::DlFind(fModule, name, &error);
  if (address != nullptr) return address;
  SetLastError(error.c_str());
  DebugText("KLoadLib::GetFunctionAddress could not find address ", name, " (",
            static_cast<const char*>(fLastError), ")\n");
  return nullptr;
}

bool KLoadLib::Close() {
  if (fModule == nullptr) return false;
  std::string error;
  bool unloaded = port::DlUnload(fModule, &error);
  fModule = nullptr;
  if (!unloaded) {
    SetLastError(error.c_str());
    DebugText("KLoadLib::Close could not unload library (", static_cast<const char*>(fLastError), ")\n");
  }
  return unloaded;
}
