/// \file
/// KStreamData: the one transfer operation behind a buffered stream.
#ifndef VXKERNEL_STREAMS_KSTREAMDATA_H_
#define VXKERNEL_STREAMS_KSTREAMDATA_H_

#include "vxkernel/export.h"

/// A byte source or sink that a gstreambuf fills from or drains into, one
/// block at a time. Subclasses implement SubclassFlush; the buffer calls
/// Flush. Not synchronized: used by the thread that uses its stream.
class VXKERNEL_EXPORT KStreamData {
 public:
  virtual ~KStreamData();

  /// Moves one block: reads up to count bytes into buffer (input) or writes
  /// count bytes from it (output). Returns the bytes moved, 0 at the end of
  /// the input, -1 on error.
  long Flush(char* buffer, long count) { return SubclassFlush(buffer, count); }

 protected:
  /// Flush's work, under Flush's contract.
  virtual long SubclassFlush(char* buffer, long count) = 0;
};

#endif  // VXKERNEL_STREAMS_KSTREAMDATA_H_
