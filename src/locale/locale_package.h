// The per-thread current locale: its object and its thread-ring participant.
// Included by the package table.
#ifndef VXKERNEL_LOCALE_LOCALE_PACKAGE_H_
#define VXKERNEL_LOCALE_LOCALE_PACKAGE_H_

#include "vxkernel/locale/KLocale.h"
#include "vxkernel/runtime/KThreadGlobals.h"

// One thread's locale state. Owned by the thread's context slot of
// KLocaleInit; touched only by its own thread, so it needs no lock.
struct KLocaleGlobals {
  explicit KLocaleGlobals(const char* suffix) : fLocale(suffix) {}
  KLocale fLocale;
};

// Thread-ring participant (priority 16, one slot): Init creates the thread's
// KLocaleGlobals from the default locale's suffix, Cleanup deletes it. The
// package table holds the one instance.
class KLocaleInit : public KThreadGlobals {
 public:
  KLocaleInit();
  ~KLocaleInit() override;

  // The calling thread's locale state, or null when the thread has none (it
  // never started, or the participant is gone).
  static KLocaleGlobals* ThreadGlobals();

 protected:
  void Init() override;
  void Cleanup() override;

 private:
  static KLocaleInit* gInstance;  // the package table's instance, or null
};

#endif  // VXKERNEL_LOCALE_LOCALE_PACKAGE_H_
