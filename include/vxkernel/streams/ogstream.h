/// \file
/// ogstream: an output stream over a gstreambuf.
#ifndef VXKERNEL_STREAMS_OGSTREAM_H_
#define VXKERNEL_STREAMS_OGSTREAM_H_

#include <ostream>

#include "vxkernel/export.h"
#include "vxkernel/streams/gstreambuf.h"

/// Writes to a KStreamData (not owned) through its own gstreambuf.
/// open/close set the failure state when the buffer refuses and clear the
/// state otherwise. Not synchronized.
class VXKERNEL_EXPORT ogstream : public std::ostream {
 public:
  ogstream();
  /// Opens at once, as open does.
  ogstream(short mode, KStreamData* data);
  ~ogstream() override;

  /// Opens the buffer over data (not owned) in mode (this stream writes: 2);
  /// failbit when the buffer is open already or mode is neither 1 nor 2.
  void open(short mode, KStreamData* data);
  /// Closes the buffer; failbit when it was not open or writing the
  /// waiting output failed.
  void close();
  /// The buffer's KStreamData (not owned); null before the first open.
  KStreamData* StreamData() const { return fBuf.StreamData(); }
  /// The stream's own buffer, which it owns (hides std::ostream::rdbuf).
  gstreambuf* rdbuf() { return &fBuf; }

 private:
  gstreambuf fBuf;
};

#endif  // VXKERNEL_STREAMS_OGSTREAM_H_
