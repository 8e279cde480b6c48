// Compiled into KQSValue_test: KQSValue.h stands alone, and a file that
// includes only it reads neither the list window classes nor the text,
// date and class-prototype headers (every value user would pay for them).
#include "vxkernel/values/KQSValue.h"

#ifdef VXKERNEL_VALUES_KQSVALUELIST_H_
#error "KQSValue.h brings the list window classes"
#endif
#ifdef VXKERNEL_TEXT_KSTRING_H_
#error "KQSValue.h brings KString.h"
#endif
#ifdef VXKERNEL_LOCALE_KDATETIME_H_
#error "KQSValue.h brings KDateTime.h"
#endif
#ifdef VXKERNEL_TEXT_T23TREE_H_
#error "KQSValue.h brings T23Tree.h"
#endif
#ifdef VXKERNEL_CLASSES_KQSCLASSREFLECTION_H_
#error "KQSValue.h brings KQSClassReflection.h"
#endif
#ifdef VXKERNEL_VALUES_KQSVALUESTRING_H_
#error "KQSValue.h brings the scalar storage headers"
#endif
