/// \file
/// KSharedFileStream: the transfer of a shared file's buffered streams.
#ifndef VXKERNEL_STREAMS_KSHAREDFILESTREAM_H_
#define VXKERNEL_STREAMS_KSHAREDFILESTREAM_H_

#include <cstdio>

#include "vxkernel/export.h"
#include "vxkernel/streams/KStreamData.h"

/// Reads (mode 1) or writes (mode 2) blocks of a stdio stream that it does
/// not own. Not synchronized.
class VXKERNEL_EXPORT KSharedFileStream : public KStreamData {
 public:
  /// Mode 1 reads stream, any other mode writes it; stream is not owned
  /// and must outlive this.
  KSharedFileStream(short mode, std::FILE* stream) : fMode(mode), fStream(stream) {}

 protected:
  /// Mode 1: fread (bytes read; 0 at the end; -1 when the stream failed
  /// before giving any). Otherwise fwrite (bytes written; -1 when none).
  long SubclassFlush(char* buffer, long count) override;

 private:
  short fMode;
  std::FILE* fStream;
};

#endif  // VXKERNEL_STREAMS_KSHAREDFILESTREAM_H_
