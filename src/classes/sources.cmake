list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/classes/KOPPEnvironment.h
  include/vxkernel/classes/KPtrClass.h
  include/vxkernel/classes/KQSBuiltinClasses.h
  include/vxkernel/classes/KQSClass.h
  include/vxkernel/classes/KQSClassFormatter.h
  include/vxkernel/classes/KQSClassSlot.h
  include/vxkernel/classes/KSignature.h
  include/vxkernel/classes/KQSValueBaseClass.h
)
list(APPEND VXKERNEL_SOURCES
  src/classes/KOPPEnvironment.cpp
  src/classes/KPtrClass.cpp
  src/classes/KQSClass.cpp
  src/classes/KQSClassFormatter.cpp
  src/classes/KQSClassPointer.cpp
  src/classes/KQSClassSlot.cpp
  src/classes/KQSClass_dispatch.cpp
  src/classes/KQSClass_features.cpp
  src/classes/KQSClass_image.cpp
  src/classes/KSignature.cpp
  src/classes/KQSValueBaseClass.cpp
  src/classes/builtin_forwarding.cpp
  src/classes/builtin_immediate.cpp
  src/classes/builtin_storage.cpp
)
