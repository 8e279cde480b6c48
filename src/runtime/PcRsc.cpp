#include "vxkernel/runtime/PcRsc.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "base/coding.h"
#include "base/debug_line.h"
#include "base/run_reported.h"
#include "port/port.h"
#include "vxkernel/base/mem.h"

// Resource modules are built apart from the library: their tables keep the
// record's five word-sized fields in their declared order.
static_assert(std::is_standard_layout_v<VXResource> && sizeof(VXResource) == 5 * sizeof(void*) &&
              offsetof(VXResource, id) == 2 * sizeof(void*) &&
              offsetof(VXResource, size) == 4 * sizeof(void*));

std::vector<PcRsc::HINSTANCE>* PcRsc::gInstances = nullptr;
PcRsc::HINSTANCE PcRsc::gInstance = nullptr;

namespace {

KPcRscInit* gPcRscInit = nullptr;

// The resource module the chain loads after the host.
constexpr const char* kResourceModule = "libvxresources.so";

// The library's own resources: only the standard arrow cursor, which
// LoadCursorA falls back on.
const VXResource kLibraryResources[] = {
    {"CURSOR", "IDC_ARROW", 32512, nullptr, 0},
    {nullptr, nullptr, 0, nullptr, 0},
};

// The library's own module handle, registered at load (see LibraryEntry).
PcRsc::HINSTANCE gLibraryHandle = nullptr;
bool gLibraryRegistered = false;

// The table of module h: the library's own for its handle, otherwise the
// exported one (null when the module exports none).
const VXResource* TableOf(PcRsc::HINSTANCE h) {
  if (gLibraryRegistered && h == gLibraryHandle) return kLibraryResources;
  return static_cast<const VXResource*>(port::DlSymbol(h, VXK_RESOURCE_TABLE_SYMBOL));
}

bool Matches(const VXResource& r, const char* type, const char* name, long id) {
  if (std::strcmp(r.type, type) != 0) return false;
  if (name != nullptr) return r.name != nullptr && std::strcmp(r.name, name) == 0;
  return r.name == nullptr && r.id == id;
}

// Searches the thread's list from last to first, then the process list
// from last to first. name null means "by id".
const VXResource* Find(const char* type, const char* name, long id) {
  if (type == nullptr) return nullptr;
  const std::vector<PcRsc::HINSTANCE>* lists[2] = {KPcRscInit::Current(), &PcRsc::Instances()};
  for (const std::vector<PcRsc::HINSTANCE>* list : lists) {
    if (list == nullptr) continue;
    for (size_t i = list->size(); i-- > 0;) {
      const VXResource* table = TableOf((*list)[i]);
      if (table == nullptr) continue;
      for (const VXResource* r = table; r->type != nullptr; ++r)
        if (Matches(*r, type, name, id)) return r;
    }
  }
  return nullptr;
}

void RemoveFirst(std::vector<PcRsc::HINSTANCE>* list, PcRsc::HINSTANCE h, bool* found) {
  *found = false;
  for (auto it = list->begin(); it != list->end(); ++it) {
    if (*it == h) {
      list->erase(it);
      *found = true;
      return;
    }
  }
}

// The library's load-time entry: registers the library as a resource module
// at load and removes it at unload. Defined after the package table's
// objects of this file (none) and independent of their order.
struct LibraryEntry {
  LibraryEntry() {
    gLibraryHandle = port::DlSelfHandle();
    if (gLibraryHandle == nullptr) gLibraryHandle = const_cast<VXResource*>(kLibraryResources);
    gLibraryRegistered = true;
    PcRsc::Add(gLibraryHandle);
  }
  ~LibraryEntry() {
    PcRsc::Remove(gLibraryHandle);
    gLibraryRegistered = false;
  }
};

LibraryEntry gLibraryEntry;

}  // namespace

// ===== The process list =====

const std::vector<PcRsc::HINSTANCE>& PcRsc::Instances() {
  if (gInstances == nullptr) {
    gInstances = new std::vector<HINSTANCE>();
    gInstances->push_back(nullptr);  // the host executable
    std::string error;
    if (HINSTANCE h = port::DlOpen(kResourceModule, &error)) gInstances->push_back(h);
  }
  return *gInstances;
}

void PcRsc::Add(HINSTANCE h) {
  Instances();
  gInstances->push_back(h);
}

bool PcRsc::Remove(HINSTANCE h) {
  Instances();
  bool found = false;
  RemoveFirst(gInstances, h, &found);
  return found;
}

PcRsc::HINSTANCE PcRsc::Instance() { return gInstance; }

void PcRsc::Instance(HINSTANCE h) {
  if (h == gInstance) return;
  if (gInstance != nullptr) Remove(gInstance);
  gInstance = h;
  Add(h);
}

// ===== The thread's list =====

PcRsc::HINSTANCE PcRsc::OpenResourceFile(const char* file) {
  std::string error;
  HINSTANCE h = port::DlOpen(file, &error);
  if (h == nullptr) {
    vxk_internal::DebugLine("PcRsc::OpenResourceFile", "could not load ",
                            file != nullptr ? file : "(null)", ": ", error);
    return nullptr;
  }
  if (std::vector<HINSTANCE>* list = KPcRscInit::Current()) list->push_back(h);
  return h;
}

bool PcRsc::CloseResourceFile(HINSTANCE h) {
  bool found = false;
  if (std::vector<HINSTANCE>* list = KPcRscInit::Current()) RemoveFirst(list, h, &found);
  port::DlClose(h);
  return found;
}

// ===== Lookups =====

int PcRsc::LoadStringA(short id, char* buf, short size) {
  if (buf == nullptr || size <= 0) return 0;
  buf[0] = '\0';
  const VXResource* r = Find("STRING", nullptr, id);
  if (r == nullptr || r->data == nullptr) return 0;
  size_t n = std::strlen(static_cast<const char*>(r->data));
  if (n > static_cast<size_t>(size) - 1) n = static_cast<size_t>(size) - 1;
  std::memcpy(buf, r->data, n);
  buf[n] = '\0';
  return static_cast<int>(n);
}

const VXResource* PcRsc::LoadIconA(short id) {
  char name[32];
  // "%05.5ld" in effect: the precision alone gives five digits with leading
  // zeros (the '0' flag is ignored next to a precision).
  std::snprintf(name, sizeof name, "%s%.5ld", "ICO", static_cast<long>(id));
  const VXResource* r = Find("ICON", name, 0);
  return r != nullptr ? r : Find("ICON", nullptr, id);
}

const VXResource* PcRsc::LoadIconA(const char* name, unsigned char /*flag*/) {
  return name != nullptr ? Find("ICON", name, 0) : nullptr;
}

const VXResource* PcRsc::LoadCursorA(const char* name) {
  const VXResource* r = name != nullptr ? Find("CURSOR", name, 0) : nullptr;
  return r != nullptr ? r : &kLibraryResources[0];
}

const VXResource* PcRsc::LoadBitmapA(const char* name) {
  return name != nullptr ? Find("BITMAP", name, 0) : nullptr;
}

void* PcRsc::LoadResource(const char* type, const char* name, short mode) {
  if (name == nullptr) return nullptr;
  const VXResource* r = Find(type, name, 0);
  if (r == nullptr) return nullptr;
  if (mode == -1) return const_cast<VXResource*>(r);
  if (mode < 0 || mode > 2) return nullptr;
  if (r->data == nullptr) return nullptr;
  // The data: a 16-bit length n, then the n bytes.
  vxk_internal::ByteCursor data(r->data, r->size);
  uint16_t n = 0;
  if (!data.GetFixed16(&n)) return nullptr;
  const unsigned char* bytes = nullptr;
  if (!data.GetBytes(n, &bytes)) {
    vxk_internal::DebugLine("PcRsc::LoadResource", "resource ", type, " ", name, " claims ", n,
                            " bytes but holds ", data.Left());
    return nullptr;
  }
  switch (mode) {
    case 0: {
      mem_handle h = mem_newh(static_cast<long>(n));
      if (h == nullptr) return nullptr;
      if (n != 0) std::memcpy(mem_lock(h), bytes, n);
      mem_unlock(h);
      return h;
    }
    case 1: {
      void* p = mem_new_fixed(static_cast<long>(n));
      if (p != nullptr && n != 0) std::memcpy(p, bytes, n);
      return p;
    }
    default: {
      char* p = new char[n != 0 ? n : 1];
      std::memcpy(p, bytes, n);
      return p;
    }
  }
}

// ===== KPcRscInit =====

KPcRscInit::KPcRscInit() : KThreadGlobals(16, 1) { gPcRscInit = this; }

KPcRscInit::~KPcRscInit() {
  if (gPcRscInit == this) gPcRscInit = nullptr;
}

void KPcRscInit::Init() {
  vxk_internal::RunReported("KPcRscInit::Init",
                            [this] { User1(new std::vector<PcRsc::HINSTANCE>()); });
}

void KPcRscInit::Cleanup() {
  auto* list = static_cast<std::vector<PcRsc::HINSTANCE>*>(User1());
  if (list == nullptr) return;
  for (size_t i = list->size(); i-- > 0;) port::DlClose((*list)[i]);
  delete list;
  User1(nullptr);
}

std::vector<PcRsc::HINSTANCE>* KPcRscInit::Current() {
  return gPcRscInit != nullptr ? static_cast<std::vector<PcRsc::HINSTANCE>*>(gPcRscInit->User1())
                               : nullptr;
}
