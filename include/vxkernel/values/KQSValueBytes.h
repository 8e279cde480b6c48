/// \file
/// KQSValueBytes: the storage of Bytes values.
#ifndef VXKERNEL_VALUES_KQSVALUEBYTES_H_
#define VXKERNEL_VALUES_KQSVALUEBYTES_H_

#include <cstddef>

#include "vxkernel/export.h"
#include "vxkernel/values/KQSValueBase.h"

/// A byte string, stored inline after its length in one allocation.
///
/// Owned jointly by the values that hold it (KQSValueBase); the payload never
/// changes after construction. Values sharing it are used by one thread at a
/// time.
class VXKERNEL_EXPORT KQSValueBytes : public KQSValueBase {
 public:
  /// Allocates the object together with room for length payload bytes.
  static void* operator new(size_t size, long length);
  static void operator delete(void* p, long length);
  static void operator delete(void* p);
  /// Copies length bytes from bytes (or zero-fills them for null bytes).
  KQSValueBytes(const void* bytes, long length);
  static KQSValueBytes* Make(const void* bytes, long length) {
    return new (length) KQSValueBytes(bytes, length);
  }

  long Length() const override { return fLength; }
  const unsigned char* Bytes() const { return fBytes; }
  unsigned char* Bytes() { return fBytes; }

 private:
  long fLength;
  unsigned char fBytes[1];
};

#endif  // VXKERNEL_VALUES_KQSVALUEBYTES_H_
