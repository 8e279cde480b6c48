// The built-in Assoc reader, named so that the text reader can tell it is
// the registered "A" cracker and read Assocs itself, without a
// FormattedInput call per key and value.
#ifndef VXKERNEL_VALUES_VALUE_TEXT_CRACKERS_INTERNAL_H_
#define VXKERNEL_VALUES_VALUE_TEXT_CRACKERS_INTERNAL_H_

#include <iosfwd>

class KQSValue;
class KQSClassCracker;

namespace vxk_internal {

// "A<1," undefined value { "," key "=" value } ">".
void ReadAssocText(std::istream& in, char tag, KQSValue& out, KQSClassCracker* cracker);

}  // namespace vxk_internal

#endif  // VXKERNEL_VALUES_VALUE_TEXT_CRACKERS_INTERNAL_H_
