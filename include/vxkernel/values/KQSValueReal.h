/// \file
/// KQSValueReal: the storage of Real values.
#ifndef VXKERNEL_VALUES_KQSVALUEREAL_H_
#define VXKERNEL_VALUES_KQSVALUEREAL_H_

#include "vxkernel/export.h"
#include "vxkernel/values/KQSValueBase.h"

/// A Real's double.
///
/// Owned jointly by the values that hold it (KQSValueBase); the payload never
/// changes after construction. Values sharing it are used by one thread at a
/// time.
class VXKERNEL_EXPORT KQSValueReal : public KQSValueBase {
 public:
  ///@{
  /// The stored double, fixed at construction.
  explicit KQSValueReal(double v) : fValue(v) {}
  double Value() const { return fValue; }
  ///@}

 private:
  double fValue;
};

#endif  // VXKERNEL_VALUES_KQSVALUEREAL_H_
