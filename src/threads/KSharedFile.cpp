#include "vxkernel/threads/KSharedFile.h"

#include <istream>
#include <new>
#include <ostream>
#include <streambuf>

#include "base/check.h"
#include "base/debug_line.h"
#include "port/port.h"

// A stream buffer that reads and writes through a stdio stream, which does
// the buffering; so C++ and C access to the same KSharedFile stay in step.
class KSharedFileStreamBuf : public std::streambuf {
 public:
  explicit KSharedFileStreamBuf(std::FILE* stream) : fStream(stream) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return std::fputc(c, fStream) == EOF ? traits_type::eof() : c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<size_t>(n), fStream));
  }
  int_type underflow() override {
    int c = std::fgetc(fStream);
    if (c == EOF) return traits_type::eof();
    std::ungetc(c, fStream);
    return c;
  }
  int_type uflow() override {
    int c = std::fgetc(fStream);
    return c == EOF ? traits_type::eof() : c;
  }
  std::streamsize xsgetn(char* s, std::streamsize n) override {
    return static_cast<std::streamsize>(std::fread(s, 1, static_cast<size_t>(n), fStream));
  }
  int sync() override { return std::fflush(fStream) == 0 ? 0 : -1; }

 private:
  std::FILE* fStream;
};

// ===== KSharedFile =====

std::FILE* KSharedFile::Open(const char* name, const char* mode, KShareMode share) {
  if (name == nullptr || mode == nullptr || mode[0] == '\0') {
    vxk_internal::DebugLine("KSharedFile::Open",
                            "missing name or mode: ", name != nullptr ? name : "(null)");
    return nullptr;
  }
  bool refused = false;
  std::FILE* stream = port::OpenShared(name, mode, static_cast<unsigned>(share) & 3, &refused);
  if (stream == nullptr) {
    vxk_internal::DebugLine("KSharedFile::Open",
                            refused ? "sharing violation" : "could not open file", ": ", name);
    return nullptr;
  }
  return stream;
}

KSharedFile::KSharedFile(std::FILE* stream, bool owns)
    : fStream(stream),
      fOwns(owns),
      fBuffer(nullptr),
      fIn(nullptr),
      fOut(nullptr),
      fStreams(nullptr),
      fHandle(port::StreamDescriptor(stream)) {}

KSharedFile::KSharedFile(const char* name, const char* mode, KShareMode share)
    : KSharedFile(Open(name, mode, share), true) {}

KSharedFileStreams::~KSharedFileStreams() = default;

KSharedFile::~KSharedFile() {
  delete fStreams;  // writes waiting output before the stream closes
  if (fOut != nullptr) fOut->flush();
  delete fIn;
  delete fOut;
  delete fBuffer;
  if (fOwns && fStream != nullptr) std::fclose(fStream);
}

std::istream& KSharedFile::In() {
  VXK_DCHECK(fStream != nullptr);
  if (fBuffer == nullptr) fBuffer = new KSharedFileStreamBuf(fStream);
  if (fIn == nullptr) fIn = new std::istream(fBuffer);
  return *fIn;
}

std::ostream& KSharedFile::Out() {
  VXK_DCHECK(fStream != nullptr);
  if (fBuffer == nullptr) fBuffer = new KSharedFileStreamBuf(fStream);
  if (fOut == nullptr) fOut = new std::ostream(fBuffer);
  return *fOut;
}

// ===== KSharedFileLock =====

namespace {
enum RangeOp { kShared, kSharedTry, kExclusive, kExclusiveTry, kRelease };
}  // namespace

KSharedFileLock::KSharedFileLock(std::FILE* stream, bool owns)
    : fFile(stream, owns), fReader(*this), fWriter(*this), fStart(0), fLength(0) {}

KSharedFileLock::KSharedFileLock(const char* name, const char* mode, KShareMode share)
    : fFile(name, mode, share), fReader(*this), fWriter(*this), fStart(0), fLength(0) {}

// Fills the byte-range record. Finding the origin moves the stream there.
bool KSharedFileLock::Range(KSeekMode origin, long offset, long length) {
  std::FILE* stream = fFile.Stream();
  if (stream == nullptr || fFile._Handle() < 0) return false;
  if (origin != kSeekBegin && origin != kSeekCurrent && origin != kSeekEnd) return false;
  std::fflush(stream);
  if (std::fseek(stream, 0, static_cast<int>(origin)) != 0) return false;
  const long position = std::ftell(stream);
  if (position < 0) return false;
  fStart = (offset == 0 || origin == kSeekCurrent) ? 0 : static_cast<int64>(position) + offset;
  fLength = static_cast<int64>(static_cast<unsigned long>(length) & 0xFFFFFFFFUL);
  // Ranges stay below the bytes that carry the sharing modes.
  return fStart >= 0 && fLength > 0 && fStart + fLength <= port::kShareMarkerBase;
}

bool KSharedFileLock::Apply(KSeekMode origin, long offset, long length, int what) {
  if (!Range(origin, offset, length)) return false;
  const int fd = fFile._Handle();
  int error;
  switch (what) {
    case kShared:
    case kSharedTry:
      error = port::RangeLock(fd, fStart, fLength, false, what == kShared);
      break;
    case kExclusive:
    case kExclusiveTry:
      error = port::RangeLock(fd, fStart, fLength, true, what == kExclusive);
      break;
    default:
      error = port::RangeUnlock(fd, fStart, fLength);
      break;
  }
  return error == 0;
}

bool KSharedFileLock::ReadLock(KSeekMode o, long off, long len) { return Apply(o, off, len, kShared); }
bool KSharedFileLock::TryReadLock(KSeekMode o, long off, long len) { return Apply(o, off, len, kSharedTry); }
bool KSharedFileLock::WriteLock(KSeekMode o, long off, long len) { return Apply(o, off, len, kExclusive); }
bool KSharedFileLock::TryWriteLock(KSeekMode o, long off, long len) {
  return Apply(o, off, len, kExclusiveTry);
}
bool KSharedFileLock::Unlock(KSeekMode o, long off, long len) { return Apply(o, off, len, kRelease); }

bool KSharedFileReadLock::Lock(KSeekMode o, long off, long len) { return fLock->ReadLock(o, off, len); }
bool KSharedFileReadLock::TryLock(KSeekMode o, long off, long len) { return fLock->TryReadLock(o, off, len); }
bool KSharedFileReadLock::Unlock(KSeekMode o, long off, long len) { return fLock->Unlock(o, off, len); }
bool KSharedFileWriteLock::Lock(KSeekMode o, long off, long len) { return fLock->WriteLock(o, off, len); }
bool KSharedFileWriteLock::TryLock(KSeekMode o, long off, long len) { return fLock->TryWriteLock(o, off, len); }
bool KSharedFileWriteLock::Unlock(KSeekMode o, long off, long len) { return fLock->Unlock(o, off, len); }

// ===== Guards =====

KSharedFileRangeGuard::KSharedFileRangeGuard(bool exclusive, std::FILE* stream, KSeekMode origin,
                                             long offset, long length)
    : fLock(stream, false), fOrigin(origin), fOffset(offset), fLength(length), fLocked(false) {
  Take(exclusive);
}

KSharedFileRangeGuard::KSharedFileRangeGuard(bool exclusive, const char* name, const char* mode,
                                             KShareMode share, KSeekMode origin, long offset,
                                             long length)
    : fLock(name, mode, share), fOrigin(origin), fOffset(offset), fLength(length), fLocked(false) {
  Take(exclusive);
}

void KSharedFileRangeGuard::Take(bool exclusive) {
  fLocked = exclusive ? fLock.WriteLock(fOrigin, fOffset, fLength)
                      : fLock.ReadLock(fOrigin, fOffset, fLength);
}

KSharedFileRangeGuard::~KSharedFileRangeGuard() {
  if (fLocked) fLock.Unlock(fOrigin, fOffset, fLength);
}
