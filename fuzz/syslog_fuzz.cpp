// libFuzzer target for reading system log files.
//
// The input is a log file, torn, truncated or made up; the log believes it
// wrote a number of entries and an end offset taken from the input, which
// may lie past the file's real end or before it (bytes still being
// written). Checked: Head, Tail and a read from an iterator made of input
// bytes return at most as many entries as asked, numbered upward from the
// iterator and below the end (a message line or a damaged header never
// passes for an entry), each data line bytes of the file before the end
// (nothing read past it, nothing invented); the result follows the last
// entry returned, and a read from inside the log always moves on, to the
// end when nothing there can be read (a follower never spins).
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "log/KSysLog_internal.h"
#include "vxkernel/log/KSysLog.h"

void Check(bool condition) {
  if (!condition) std::abort();
}

namespace {

// The log every input is read through, on a file in a folder removed at exit.
struct Scratch {
  Scratch() {
    char name[] = "/tmp/vxk_syslog_fuzz_XXXXXX";
    Check(mkdtemp(name) != nullptr);
    dir = name;
    path = dir + "/sys.log";
    log = KSysLogInternal::New();
    Check(log->Create(path.c_str(), nullptr));
  }
  ~Scratch() {
    log.reset();
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  std::string dir, path;
  std::unique_ptr<KSysLog> log;
};

void CheckRead(const std::string& file, KSysLog_Iterator end, KSysLog_Iterator from,
               KSysLog_Iterator after, const KSysLog_EntryList& list, long max) {
  Check(list.Size() <= max);
  long last = from.Entry() - 1;
  for (long i = 0; i < list.Size(); ++i) {
    Check(list[i].SequenceNumber() > last && list[i].SequenceNumber() < end.Entry());
    last = list[i].SequenceNumber();
    Check(list[i].Size() >= 1);
    for (long j = 0; j < list[i].Size(); ++j) {
      const KString line = list[i][j];
      Check(file.find(std::string(line, line.Length())) != std::string::npos);
    }
  }
  if (list.Size() > 0) {
    Check(after.Entry() == last + 1 && after.Seek() <= static_cast<long>(file.size()));
  } else {
    Check(after.Entry() == from.Entry() ? after.Seek() == from.Seek() : after.Seek() == end.Seek());
  }
  if (from.Entry() >= 0 && from.Entry() < end.Entry()) Check(after.Entry() > from.Entry());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  if (size < 4) return 0;
  const long max = data[0] % 8 + 1;
  const long entries = data[1] % 16;
  const long written = static_cast<long>(size - 4);
  const long end = data[2] & 1 ? written + 100 : std::max(0L, written - (data[2] >> 1) % 8);
  const KSysLog_Iterator from(data[3] * 7 % static_cast<long>(size), data[2] >> 4);
  const std::string file(reinterpret_cast<const char*>(data) + 4, size - 4);
  // The log's own stream holds the file; a second one replaces the bytes.
  std::FILE* f = std::fopen(scratch.path.c_str(), "wb");
  Check(f != nullptr && std::fwrite(file.data(), 1, file.size(), f) == file.size() && std::fclose(f) == 0);
  KSysLog& log = *scratch.log;
  KSysLogInternal::Pretend(log, end, entries);

  KSysLog_EntryList head, tail, read;
  const std::string before = file.substr(0, static_cast<size_t>(end));
  const KSysLog_Iterator endAt = log.End();
  CheckRead(before, endAt, log.Begin(), log.Head(head, max), head, max);
  const KSysLog_Iterator tailFrom(0, entries > max ? entries - max : 0);
  CheckRead(before, endAt, tailFrom, log.Tail(tail, max), tail, max);
  CheckRead(before, endAt, from, log.ReadWithTimeout(read, from, max, 0), read, max);
  return 0;
}
