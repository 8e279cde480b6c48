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
  /// Allocates the object together with room for length payload bytes
  /// (none for a negative length); throws std::bad_alloc when the heap
  /// refuses.
  static void* operator new(size_t size, long length);
  ///@{
  /// Frees the block operator new made (the first form for a construction
  /// that threw).
  static void operator delete(void* p, long length);
  static void operator delete(void* p);
  ///@}
  /// Copies length bytes from bytes (or zero-fills them for null bytes); a
  /// negative length counts as 0.
  KQSValueBytes(const void* bytes, long length);
  /// New storage holding a copy of length bytes from bytes (zeros for null
  /// bytes), in one allocation; the first value that holds it owns it.
  static KQSValueBytes* Make(const void* bytes, long length) {
    return new (length) KQSValueBytes(bytes, length);
  }

  /// Payload bytes, 0 or more.
  long Length() const override { return fLength; }
  ///@{
  /// The first of the Length() payload bytes; valid while the storage lives.
  const unsigned char* Bytes() const { return fBytes; }
  unsigned char* Bytes() { return fBytes; }
  ///@}

 private:
  long fLength;
  unsigned char fBytes[1];
};

#endif  // VXKERNEL_VALUES_KQSVALUEBYTES_H_
