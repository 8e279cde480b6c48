#include "vxkernel/web/KSGMLValues.h"

#include <istream>
#include <ostream>

std::ostream& operator<<(std::ostream& out, const KSGMLValues& v) {
  if (v.Value() != nullptr) out << *v.Value();
  return out;
}

std::istream& operator>>(std::istream& in, const KSGMLValues& v) {
  if (v.Value() != nullptr) in >> *v.Value();
  return in;
}
