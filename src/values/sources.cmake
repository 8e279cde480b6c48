list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/values/KQSValue.h
  include/vxkernel/values/KAssocVal.h
  include/vxkernel/values/KQSValueBase.h
  include/vxkernel/values/KQSValueBytes.h
  include/vxkernel/values/KQSValueDate.h
  include/vxkernel/values/KQSValueLong.h
  include/vxkernel/values/KQSValueReal.h
  include/vxkernel/values/KQSValueString.h
  include/vxkernel/values/KRZRow.h
  include/vxkernel/values/KRZTable.h
  include/vxkernel/values/KQSValueList.h
  include/vxkernel/values/KQSValue_fwd.h
  include/vxkernel/values/type_numbers.h
  include/vxkernel/values/internal/list_storage.h
)
list(APPEND VXKERNEL_SOURCES
  src/values/KQSValue.cpp
  src/values/KQSValueBase.cpp
  src/values/KAssocVal.cpp
  src/values/KAssocVal_record.cpp
  src/values/values_package.cpp
  src/values/KRZRow.cpp
  src/values/KRZTable.cpp
  src/values/list_storage.cpp
  src/values/list_value.cpp
  src/values/list_window.cpp
  src/values/nesting.cpp
  src/values/value_binary.cpp
  src/values/value_text_crackers.cpp
  src/values/value_text_reader.cpp
  src/values/value_text_writer.cpp
)
# Every new List clears its storage and first segment (about 250 bytes);
# GCC clears such blocks with `rep stos`, whose start-up costs more than the
# rest of making a short list, where plain vector stores take a few cycles.
set_source_files_properties(src/values/list_storage.cpp PROPERTIES COMPILE_OPTIONS
  "$<$<CXX_COMPILER_ID:GNU>:-mmemset-strategy=vector_loop:256:noalign,libcall:-1:noalign>")
