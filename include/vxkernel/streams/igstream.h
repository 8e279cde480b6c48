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
  igstream(short mode, KStreamData* data);
  ~igstream() override;

  void open(short mode, KStreamData* data);
  void close();
  KStreamData* StreamData() const { return fBuf.StreamData(); }
  gstreambuf* rdbuf() { return &fBuf; }

 private:
  gstreambuf fBuf;
};

#endif  // VXKERNEL_STREAMS_IGSTREAM_H_
