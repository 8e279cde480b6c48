// The input and output streams over a gstreambuf.
#include "vxkernel/streams/igstream.h"
#include "vxkernel/streams/ogstream.h"

igstream::igstream() : std::istream(&fBuf) {}

igstream::igstream(short mode, KStreamData* data) : std::istream(&fBuf) { open(mode, data); }

igstream::~igstream() = default;

void igstream::open(short mode, KStreamData* data) {
  if (fBuf.open(mode, data) == nullptr) {
    setstate(failbit);
  } else {
    clear();
  }
}

void igstream::close() {
  if (fBuf.close() == nullptr) {
    setstate(failbit);
  } else {
    clear();
  }
}

ogstream::ogstream() : std::ostream(&fBuf) {}

ogstream::ogstream(short mode, KStreamData* data) : std::ostream(&fBuf) { open(mode, data); }

ogstream::~ogstream() = default;

void ogstream::open(short mode, KStreamData* data) {
  if (fBuf.open(mode, data) == nullptr) {
    setstate(failbit);
  } else {
    clear();
  }
}

void ogstream::close() {
  if (fBuf.close() == nullptr) {
    setstate(failbit);
  } else {
    clear();
  }
}
