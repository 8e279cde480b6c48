# Buffered data streams.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/streams/KSharedFileStream.h
  include/vxkernel/streams/KStreamData.h
  include/vxkernel/streams/gstreambuf.h
  include/vxkernel/streams/igstream.h
  include/vxkernel/streams/ogstream.h
)
list(APPEND VXKERNEL_SOURCES
  src/streams/KSharedFileStream.cpp
  src/streams/gstream.cpp
  src/streams/gstreambuf.cpp
)
