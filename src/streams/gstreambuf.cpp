#include "vxkernel/streams/gstreambuf.h"

#include <cstring>

#include "vxkernel/streams/KStreamData.h"

KStreamData::~KStreamData() = default;

gstreambuf::gstreambuf()
    : fBuffer(new char[kBufferSize]), fData(nullptr), fMode(0), fOpen(0), fEverOpened(false) {
  setg(Data(), Data(), Data());
  setp(nullptr, nullptr);
}

gstreambuf::~gstreambuf() {
  if (fEverOpened) close();
  delete[] fBuffer;
}

gstreambuf* gstreambuf::open(short mode, KStreamData* data) {
  if (fOpen || (mode != kInput && mode != kOutput)) return nullptr;
  fData = data;
  fMode = mode;
  fOpen = 1;
  fEverOpened = true;
  setg(Data(), Data(), Data());
  setp(nullptr, nullptr);
  return this;
}

gstreambuf* gstreambuf::close() {
  if (!fOpen) return nullptr;
  bool ok = out_waiting() == 0 || sync() == 0;
  fOpen = 0;
  setg(Data(), Data(), Data());
  setp(nullptr, nullptr);
  return ok ? this : nullptr;
}

gstreambuf::int_type gstreambuf::underflow() {
  if (!fOpen || fMode != kInput) return traits_type::eof();
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (sync() != 0) return traits_type::eof();
  long n = fData->Flush(Data(), kDataSize);
  if (n <= 0) return traits_type::eof();
  if (n > kDataSize) n = kDataSize;  // a source that claims more than it had room for
  setg(Data(), Data(), Data() + n);
  return traits_type::to_int_type(*gptr());
}

gstreambuf::int_type gstreambuf::overflow(int_type c) {
  if (!fOpen || fMode != kOutput || sync() != 0) return traits_type::eof();
  setp(Data(), Data() + kDataSize);
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int gstreambuf::sync() {
  if (!fOpen) return -1;
  long waiting = out_waiting();
  if (waiting == 0) return 0;
  const long moved = fData->Flush(pbase(), waiting);
  if (moved >= waiting) {
    setg(Data(), Data(), Data());
    setp(nullptr, nullptr);
    return 0;
  }
  // What the sink did not take waits at the front for the next sync, so
  // nothing is lost and nothing reaches the sink twice.
  if (moved > 0) {
    std::memmove(Data(), pbase() + moved, static_cast<size_t>(waiting - moved));
    setp(Data(), Data() + kDataSize);
    pbump(static_cast<int>(waiting - moved));
  }
  return -1;
}
