# Password hashing.
list(APPEND VXKERNEL_PUBLIC_HEADERS
  include/vxkernel/crypt/CryptCore.h
  include/vxkernel/crypt/KCrypt.h
)
list(APPEND VXKERNEL_SOURCES
  src/crypt/CryptCore.cpp
  src/crypt/des_tables.cpp
  src/crypt/KCrypt.cpp
)
