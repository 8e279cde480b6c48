list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/values/KQSValue.h
  include/vxkernel/values/KAssocVal.h
  include/vxkernel/values/KQSValueBase.h
  include/vxkernel/values/KRZTable.h
  include/vxkernel/values/KQSValueList.h
)
list(APPEND VXKERNEL_SOURCES
  src/values/KQSValue.cpp
  src/values/KQSValueBase.cpp
  src/values/KAssocVal.cpp
  src/values/KAssocVal_record.cpp
  src/values/KQSValuePkg.cpp
  src/values/KRZRow.cpp
  src/values/KRZTable.cpp
  src/values/list_storage.cpp
  src/values/list_value.cpp
  src/values/list_window.cpp
  src/values/value_binary.cpp
  src/values/value_text_crackers.cpp
  src/values/value_text_reader.cpp
  src/values/value_text_writer.cpp
)
