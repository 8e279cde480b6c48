/// \file
/// The names of the value types, for headers that pass values by reference
/// or pointer and need no more (the class headers among them): including
/// KQSValue.h would bring the class machinery a value's inline copy needs.
#ifndef VXKERNEL_VALUES_KQSVALUE_FWD_H_
#define VXKERNEL_VALUES_KQSVALUE_FWD_H_

class KQSValue;
class KQSValueBase;
class KQSValueList;
struct GEOM_point;

#endif  // VXKERNEL_VALUES_KQSVALUE_FWD_H_
