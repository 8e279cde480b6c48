/// \file
/// gstreambuf: a standard stream buffer over a KStreamData.
#ifndef VXKERNEL_STREAMS_GSTREAMBUF_H_
#define VXKERNEL_STREAMS_GSTREAMBUF_H_

#include <streambuf>

#include "vxkernel/export.h"
#include "vxkernel/streams/KStreamData.h"

/// Fills (mode 1, input) or drains (mode 2, output) one fixed buffer through
/// a KStreamData, so the source or sink sees blocks of up to kDataSize bytes.
/// Owns the buffer, not the KStreamData. A sync whose block the sink does not
/// take whole fails and keeps the bytes the sink did not take for the next
/// sync.
/// Not synchronized: one thread at a time.
class VXKERNEL_EXPORT gstreambuf : public std::streambuf {
 public:
  static constexpr long kFreeFront = 4;  ///< kept free before the data area
  /// The largest block: what a source is asked for, what a sink is handed.
  static constexpr long kDataSize = 31744;
  /// Bytes of the owned buffer.
  static constexpr long kBufferSize = kFreeFront + kDataSize;
  static_assert(kBufferSize == 31748);

  enum : short { kInput = 1, kOutput = 2 };

  gstreambuf();
  ~gstreambuf() override;
  gstreambuf(const gstreambuf&) = delete;
  gstreambuf& operator=(const gstreambuf&) = delete;

  /// Returns this, or null when already open or mode is not 1 or 2.
  gstreambuf* open(short mode, KStreamData* data);
  /// Writes waiting output and closes; null when not open or the write
  /// failed (the buffer is closed all the same).
  gstreambuf* close();

  /// 1 from a successful open to close.
  int is_open() const { return fOpen; }
  /// The KStreamData of the last open (not owned); null before the first.
  KStreamData* StreamData() const { return fData; }
  /// Bytes in the put area, not yet handed to the sink.
  int out_waiting() const { return static_cast<int>(pptr() - pbase()); }

 protected:
  /// Reads the next block from the source; eof at its end, on its error or
  /// when the buffer is not open for input.
  int_type underflow() override;
  /// Hands the waiting block to the sink, then puts c in a new one; eof
  /// when the buffer is not open for output or the sink did not take it all.
  int_type overflow(int_type c) override;
  /// Hands the waiting output to the sink: 0 when it took all, -1 when not
  /// (the rest waits for the next sync) or when the buffer is not open.
  int sync() override;

 private:
  char* Data() { return fBuffer + kFreeFront; }

  char* fBuffer;       ///< owned, kBufferSize bytes
  KStreamData* fData;  ///< not owned
  short fMode;
  unsigned char fOpen;
  bool fEverOpened;
};

#endif  // VXKERNEL_STREAMS_GSTREAMBUF_H_
