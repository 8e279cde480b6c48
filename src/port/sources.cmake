# The platform layer: the only place that includes Linux/POSIX headers.
list(APPEND VXKERNEL_SOURCES
  src/port/linux/port_tls.cpp
  src/port/linux/port_sync.cpp
  src/port/linux/port_thread.cpp
  src/port/linux/port_fiber.cpp
  src/port/linux/port_file_lock.cpp
  src/port/linux/port_time.cpp
  src/port/linux/port_dl.cpp
  src/port/linux/port_debug.cpp
  src/port/linux/port_path.cpp
  src/port/linux/port_replace.cpp
  src/port/linux/port_iconv.cpp
  src/port/linux/port_fs.cpp
  src/port/linux/port_web.cpp
  src/port/linux/port_log.cpp
  src/port/linux/port_cache.cpp
  src/port/linux/port_net.cpp
  src/port/linux/port_memory.cpp
)
