/// \file
/// KQSValueDate: the storage of Date values.
#ifndef VXKERNEL_VALUES_KQSVALUEDATE_H_
#define VXKERNEL_VALUES_KQSVALUEDATE_H_

#include "vxkernel/export.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/values/KQSValueBase.h"

class KQSValue;

/// A Date's broken-down date and time.
///
/// Owned jointly by the values that hold it (KQSValueBase); the payload never
/// changes after construction. Values sharing it are used by one thread at a
/// time.
class VXKERNEL_EXPORT KQSValueDate : public KQSValueBase {
 public:
  /// Stores a copy of d.
  explicit KQSValueDate(const KDateTime& d) : fDate(d) {}
  /// The stored date and time; valid while the storage lives.
  const KDateTime& Date() const { return fDate; }
  /// Undefined: a Date has no address form.
  KQSValue ReferenceDebugStr(short how) override;

 private:
  KDateTime fDate;
};

#endif  // VXKERNEL_VALUES_KQSVALUEDATE_H_
