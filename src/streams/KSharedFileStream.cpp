#include "vxkernel/streams/KSharedFileStream.h"

#include <memory>

#include "vxkernel/streams/igstream.h"
#include "vxkernel/streams/ogstream.h"
#include "vxkernel/threads/KSharedFile.h"

long KSharedFileStream::SubclassFlush(char* buffer, long count) {
  if (count <= 0) return 0;
  size_t n = fMode == 1 ? std::fread(buffer, 1, static_cast<size_t>(count), fStream)
                        : std::fwrite(buffer, 1, static_cast<size_t>(count), fStream);
  if (n == 0 && std::ferror(fStream)) return -1;
  return static_cast<long>(n);
}

namespace {

// What KSharedFile::IStream/OStream make: each stream with its transfer.
// The stream is declared after its transfer, so it is destroyed first and
// writes what waits into a live transfer.
class SharedFileStreams : public KSharedFileStreams {
 public:
  explicit SharedFileStreams(std::FILE* f) : fFile(f) {}
  igstream& In() {
    if (!fIn) fIn = std::make_unique<Input>(fFile);
    return fIn->stream;
  }
  ogstream& Out() {
    if (!fOut) fOut = std::make_unique<Output>(fFile);
    return fOut->stream;
  }

 private:
  struct Input {
    explicit Input(std::FILE* f) : data(1, f), stream(1, &data) {}
    KSharedFileStream data;
    igstream stream;
  };
  struct Output {
    explicit Output(std::FILE* f) : data(2, f), stream(2, &data) {}
    KSharedFileStream data;
    ogstream stream;
  };
  std::FILE* fFile;
  std::unique_ptr<Input> fIn;
  std::unique_ptr<Output> fOut;
};

SharedFileStreams& StreamsOf(KSharedFileStreams*& slot, std::FILE* f) {
  if (slot == nullptr) slot = new SharedFileStreams(f);
  return *static_cast<SharedFileStreams*>(slot);
}

}  // namespace

igstream& KSharedFile::IStream() { return StreamsOf(fStreams, fStream).In(); }

ogstream& KSharedFile::OStream() { return StreamsOf(fStreams, fStream).Out(); }
