// vxhost classes: what start-up registered in the process class registry.
#include <cstdio>
#include <memory>

#include "commands.h"
#include "vxkernel/vxkernel.h"

namespace {

const char* YesNo(bool b) { return b ? "yes" : "-"; }

}  // namespace

int RunClasses() {
  KAt::ProcessStartup(1);
  std::unique_ptr<TArray<const KQSClass*>> classes(KOPPEnvironment::ProcessClasses());
  std::printf("%lu process classes\n\n", classes->Count());
  std::printf("%7s  %-18s %-8s %-10s %-7s %s\n", "number", "name", "pointer", "subscript", "invoke", "dot");
  for (unsigned long i = 1; i <= classes->Count(); ++i) {
    const KQSClass* c = classes->GetAt(i);
    std::printf("%7d  %-18s %-8s %-10s %-7s %d\n", c->ClassNumber(), c->ClassName(), YesNo(c->IsPointer()),
                YesNo(c->CanSubscript()), YesNo(c->CanInvoke()), c->CanDot());
  }
  KAt::ProcessShutdown(1);
  return 0;
}
