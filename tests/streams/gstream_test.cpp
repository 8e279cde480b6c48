// Buffered streams over a transfer operation, and a shared file's streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "vxkernel/streams/igstream.h"
#include "vxkernel/streams/ogstream.h"
#include "vxkernel/threads/KSharedFile.h"

namespace {

// A sink that records each block and takes at most fTake bytes of one; or a
// source that hands out fSource in blocks.
class Recorder : public KStreamData {
 public:
  std::vector<std::string> fBlocks;
  long fTake = -1;  // -1: everything; -2: fail
  bool fInput = false;
  std::string fSource;
  size_t fRead = 0;

 protected:
  long SubclassFlush(char* buffer, long count) override {
    if (fInput) {
      long n = std::min<long>(count, static_cast<long>(fSource.size() - fRead));
      fSource.copy(buffer, static_cast<size_t>(n), fRead);
      fRead += static_cast<size_t>(n);
      fBlocks.emplace_back(buffer, static_cast<size_t>(n));
      return n;
    }
    if (fTake == -2) return -1;
    long n = fTake < 0 ? count : std::min(count, fTake);
    fBlocks.emplace_back(buffer, static_cast<size_t>(n));
    return n;
  }
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i * 7 % 26);
  return s;
}

TEST(ogstream, WritesInBlocksOfTheDataArea) {
  Recorder sink;
  const std::string data = Pattern(40000);
  {
    ogstream out(2, &sink);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    ASSERT_EQ(sink.fBlocks.size(), 1u);
    EXPECT_EQ(out.rdbuf()->out_waiting(), 8256);
    out.close();
    EXPECT_TRUE(out.good());
  }
  ASSERT_EQ(sink.fBlocks.size(), 2u);
  EXPECT_EQ(sink.fBlocks[0].size(), 31744u);
  EXPECT_EQ(sink.fBlocks[1].size(), 8256u);
  EXPECT_TRUE(sink.fBlocks[0] + sink.fBlocks[1] == data);
}

TEST(igstream, ReadsInBlocksAndEndsAtZero) {
  Recorder source;
  source.fInput = true;
  source.fSource = Pattern(70000);
  igstream in(1, &source);
  std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(got == source.fSource);
  std::vector<size_t> sizes;
  for (const std::string& b : source.fBlocks) sizes.push_back(b.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{31744, 31744, 6512, 0}));

  Recorder empty;
  empty.fInput = true;  // a source that is at its end at once
  igstream none(1, &empty);
  EXPECT_EQ(none.get(), std::char_traits<char>::eof());
  EXPECT_TRUE(none.eof());
}

TEST(gstreambuf, OpenAndCloseRules) {
  Recorder sink;
  gstreambuf b;
  EXPECT_EQ(b.open(3, &sink), nullptr);
  EXPECT_EQ(b.close(), nullptr);  // not open
  EXPECT_EQ(b.open(2, &sink), &b);
  EXPECT_EQ(b.open(2, &sink), nullptr);  // already open
  EXPECT_EQ(b.sputc('x'), 'x');
  EXPECT_EQ(b.sgetc(), std::char_traits<char>::eof());  // not an input buffer
  EXPECT_EQ(b.close(), &b);
  EXPECT_EQ(sink.fBlocks, std::vector<std::string>{"x"});

  ogstream refused(7, &sink);
  EXPECT_TRUE(refused.fail());
  refused.open(2, &sink);
  EXPECT_TRUE(refused.good());
}

// A sink that takes a part of the block (3 bytes) or fails (-1): what it did
// not take waits for the next sync, and nothing reaches it twice.
TEST(gstreambuf, FailedSyncKeepsWhatTheSinkDidNotTake) {
  const struct {
    long take;
    int waiting;
    std::vector<std::string> blocks;
  } rows[] = {
      {3, 3, {"abc", "defgh"}},
      {-2, 6, {"abcdefgh"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.take);
    Recorder sink;
    sink.fTake = r.take;
    ogstream out(2, &sink);
    out << "abcdef";
    out.flush();
    EXPECT_TRUE(out.bad());
    EXPECT_EQ(out.rdbuf()->out_waiting(), r.waiting);
    sink.fTake = -1;
    out.clear();
    out << "gh";
    out.close();
    EXPECT_TRUE(out.good());
    EXPECT_EQ(sink.fBlocks, r.blocks);
  }
}

TEST(ogstream, CloseFailsWhenTheSinkTakesNothing) {
  Recorder sink;
  sink.fTake = 0;
  ogstream out(2, &sink);
  out << "ab";
  out.close();
  EXPECT_TRUE(out.fail());
}

TEST(KSharedFile, BufferedStreamsRoundTrip) {
  TempDir dir;
  const std::string name = dir / "shared.bin";
  const std::string data = Pattern(40000);
  {
    KSharedFile f(name.c_str(), "w", kShareRead);
    ASSERT_NE(f.Stream(), nullptr);
    EXPECT_EQ(&f.OStream(), &f.OStream());
    f.OStream().write(data.data(), static_cast<std::streamsize>(data.size()));
  }  // the file writes the waiting 8256 bytes before it closes
  EXPECT_TRUE(TempDir::Read(name) == data);
  KSharedFile f(name.c_str(), "r", kShareRead);
  std::string got((std::istreambuf_iterator<char>(f.IStream())), std::istreambuf_iterator<char>());
  EXPECT_TRUE(got == data);
}

}  // namespace
