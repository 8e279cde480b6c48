#include "vxkernel/runtime/dbgstrm.h"

#include <atomic>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/dbgstrm_internal.h"

namespace {

// The printer and its datum change together; a small struct swapped as one
// pointer keeps readers from pairing a printer with another printer's datum.
struct Printer {
  vxk_internal::DbgstrmPrinter fn;
  void* datum;
};

std::atomic<Printer*> gPrinter{nullptr};

// Replaced printers stay alive (another thread may still be inside one) and
// reachable, so leak checkers do not count them.
std::mutex gRetiredMutex;
std::vector<Printer*>* gRetired = nullptr;  // guarded by gRetiredMutex

}  // namespace

void dbgstrm_print(std::ostream& s) {
  Printer* p = gPrinter.load(std::memory_order_acquire);
  if (p == nullptr || p->fn == nullptr) return;
  auto* buf = dynamic_cast<std::stringbuf*>(s.rdbuf());
  if (buf == nullptr) return;
  std::string text = buf->str();
  p->fn(text.data(), text.size(), p->datum);
}

namespace vxk_internal {

DbgstrmPrinter DbgstrmSetPrinter(DbgstrmPrinter printer, void* datum) {
  Printer* next = printer ? new Printer{printer, datum} : nullptr;
  Printer* old = gPrinter.exchange(next, std::memory_order_acq_rel);
  if (old == nullptr) return nullptr;
  std::lock_guard<std::mutex> g(gRetiredMutex);
  if (gRetired == nullptr) gRetired = new std::vector<Printer*>();
  gRetired->push_back(old);
  return old->fn;
}

}  // namespace vxk_internal
