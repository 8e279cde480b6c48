// Dynamic modules through the system loader.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "port/port.h"

namespace port {

void* DlOpen(const char* name, std::string* error) {
  if (name == nullptr || *name == '\0') {
    if (error != nullptr) *error = "no module name";
    return nullptr;
  }
  // The loader's own open would wait forever on a FIFO. Only a path can be
  // checked; a bare name is searched for by the loader.
  struct stat st;
  if (std::strchr(name, '/') != nullptr && stat(name, &st) == 0 && !S_ISREG(st.st_mode)) {
    if (error != nullptr) *error = std::string(name) + ": not a regular file";
    return nullptr;
  }
  void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr && error != nullptr) {
    const char* message = dlerror();
    *error = message != nullptr ? message : "unknown loader error";
  }
  return handle;
}

void DlClose(void* handle) {
  if (handle != nullptr) dlclose(handle);
}

void* DlSymbol(void* handle, const char* symbol) {
  if (handle != nullptr) return dlsym(handle, symbol);
  // The main program's handle searches the executable first, then the
  // objects loaded into the global scope.
  void* self = dlopen(nullptr, RTLD_NOW);
  if (self == nullptr) return nullptr;
  void* address = dlsym(self, symbol);
  dlclose(self);
  return address;
}

bool DlUnload(void* handle, std::string* error) {
  if (dlclose(handle) == 0) return true;
  if (error != nullptr) {
    const char* message = dlerror();
    *error = message != nullptr ? message : "";
  }
  return false;
}

void* DlFind(void* handle, const char* symbol, std::string* error) {
  dlerror();  // a stale message must not be taken for this look-up's
  void* address = dlsym(handle, symbol);
  if (address == nullptr && error != nullptr) {
    const char* message = dlerror();
    *error = message != nullptr ? message : "";
  }
  return address;
}

void* DlSelfHandle() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&DlSelfHandle), &info) == 0 || info.dli_fname == nullptr)
    return nullptr;
  // RTLD_NOLOAD only finds the object that is already there (it is: this
  // code runs from it) and takes one reference that is never dropped.
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}

}  // namespace port
