/// \file
/// KQSValueLong: the storage of Long values.
#ifndef VXKERNEL_VALUES_KQSVALUELONG_H_
#define VXKERNEL_VALUES_KQSVALUELONG_H_

#include "vxkernel/export.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/vxtypes.h"

/// A Long's 64-bit integer.
///
/// Owned jointly by the values that hold it (KQSValueBase); the payload never
/// changes after construction. Values sharing it are used by one thread at a
/// time.
class VXKERNEL_EXPORT KQSValueLong : public KQSValueBase {
 public:
  ///@{
  /// The stored integer, fixed at construction.
  explicit KQSValueLong(int64 v) : fValue(v) {}
  int64 Value() const { return fValue; }
  ///@}

 private:
  int64 fValue;
};

#endif  // VXKERNEL_VALUES_KQSVALUELONG_H_
