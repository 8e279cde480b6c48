/// \file
/// A stream adapter that writes and reads a script value in its text form.
#ifndef VXKERNEL_WEB_KSGMLVALUES_H_
#define VXKERNEL_WEB_KSGMLVALUES_H_

#include <iosfwd>

#include "vxkernel/export.h"
#include "vxkernel/values/KQSValue.h"

/// Holds a pointer to a value it does not own; copies share the pointer.
/// Reading through an adapter made from a const pointer is the caller's
/// error. Used by one thread at a time, like the value.
class VXKERNEL_EXPORT KSGMLValues {
 public:
  ///@{
  /// Adapts *v, which may be null (the operators then do nothing); a const
  /// value may only be written.
  explicit KSGMLValues(KQSValue* v) : fValue(v) {}
  explicit KSGMLValues(const KQSValue* v) : fValue(const_cast<KQSValue*>(v)) {}
  ///@}

  /// The adapted value; not owned, may be null.
  KQSValue* Value() const { return fValue; }

 private:
  KQSValue* fValue;
};

/// The value's text form (nothing for a null pointer).
VXKERNEL_EXPORT std::ostream& operator<<(std::ostream& out, const KSGMLValues& v);
/// Reads one value in text form into the value (nothing for a null pointer).
VXKERNEL_EXPORT std::istream& operator>>(std::istream& in, const KSGMLValues& v);

#endif  // VXKERNEL_WEB_KSGMLVALUES_H_
