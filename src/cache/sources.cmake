# The file cache and client document cache items.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/cache/KCache.h
  include/vxkernel/cache/KFileCache.h
  include/vxkernel/cache/KFileCacheDesc.h
  include/vxkernel/cache/KVXClientCacheItem.h
)
list(APPEND VXKERNEL_SOURCES
  src/cache/KCache.cpp
  src/cache/KFileCache.cpp
  src/cache/KFileCache_adopt.cpp
  src/cache/KFileCache_data.cpp
  src/cache/KFileCache_sweep.cpp
  src/cache/KFileCacheDesc.cpp
  src/cache/KVXClientCacheItem.cpp
  src/cache/KVXClientCacheItem_header.cpp
)
