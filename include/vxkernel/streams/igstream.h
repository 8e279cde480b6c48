/// \file
/// igstream: an input stream over a gstreambuf.
#ifndef VXKERNEL_STREAMS_IGSTREAM_H_
#define VXKERNEL_STREAMS_IGSTREAM_H_

#include <istream>

#include "vxkernel/export.h"
#include "vxkernel/streams/gstreambuf.h"

/// Reads from a KStreamData (not owned) through its own gstreambuf.
/// open/close set the failure state when the buffer refuses and clear the
/// state otherwise. Not synchronized.
class VXKERNEL_EXPORT igstream : public std::istream {
 public:
  igstream();
  /// Opens at once, as open does.
  igstream(short mode, KStreamData* data);
  ~igstream() override;

  /// Opens the buffer over data (not owned) in mode (this stream reads: 1);
  /// failbit when the buffer is open already or mode is neither 1 nor 2.
  void open(short mode, KStreamData* data);
  /// Closes the buffer; failbit when it was not open.
  void close();
  /// The buffer's KStreamData (not owned); null before the first open.
  KStreamData* StreamData() const { return fBuf.StreamData(); }
  /// The stream's own buffer, which it owns (hides std::istream::rdbuf).
  gstreambuf* rdbuf() { return &fBuf; }

 private:
  gstreambuf fBuf;
};

#endif  // VXKERNEL_STREAMS_IGSTREAM_H_
