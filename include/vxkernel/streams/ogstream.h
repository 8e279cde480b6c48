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
  ogstream(short mode, KStreamData* data);
  ~ogstream() override;

  void open(short mode, KStreamData* data);
  void close();
  KStreamData* StreamData() const { return fBuf.StreamData(); }
  gstreambuf* rdbuf() { return &fBuf; }

 private:
  gstreambuf fBuf;
};

#endif  // VXKERNEL_STREAMS_OGSTREAM_H_
