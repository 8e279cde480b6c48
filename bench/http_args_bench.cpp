// Request arguments: urlencoded POST bodies and GET query strings of many
// fields, KHTTPArgs against a plain split-and-decode loop and POCO's
// HTMLForm; 1 MiB query strings split at "&" or only at ";"; a 32 MiB
// multipart upload stored on tmpfs, read from a FILE, fed into the
// parser's buffer or read in place from memory, against POCO with a part
// handler and against one write() of the bytes.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "vxkernel/web/KHTTPArgs.h"

#ifdef VXK_HAVE_POCO
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/MessageHeader.h>
#include <Poco/Net/PartHandler.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>
#endif

namespace {

// Fields like "field17=value+17%21", one in ten with a Latin-1 "%E9".
std::string Fields(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i > 0) s += '&';
    s += "field" + std::to_string(i) + "=value+" + std::to_string(i) + (i % 10 ? "%21" : "%E9");
  }
  return s;
}

struct Request {
  std::string method, query, body;
};

bool Lookup(void* c, const char* name, KString& value) {
  auto* r = static_cast<Request*>(c);
  const std::string n = name;
  if (n == "REQUEST_METHOD") value = r->method.c_str();
  else if (n == "QUERY_STRING") value = r->query.c_str();
  else if (n == "CONTENT_TYPE") value = "application/x-www-form-urlencoded";
  else if (n == "CONTENT_LENGTH") value = std::to_string(r->body.size()).c_str();
  else return false;
  return true;
}

bool Count(void* c, const char*, const char*) {
  ++*static_cast<int*>(c);
  return true;
}

int Hex(char c) { return c >= 'A' ? (c & 0xDF) - 55 : c - 48; }

// The loop a handler would write by hand: split, decode, split at "=".
void PlainCrack(const std::string& text, int* count) {
  size_t start = 0;
  std::string item;
  while (start <= text.size()) {
    size_t end = text.find_first_of("&;", start);
    if (end == std::string::npos) end = text.size();
    item.clear();
    for (size_t i = start; i < end; ++i) {
      char c = text[i];
      if (c == '+') c = ' ';
      if (c == '%' && i + 2 < end) {
        c = static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
        i += 2;
      }
      item += c;
    }
    size_t eq = item.find('=');
    if (eq != std::string::npos) item[eq] = '\0';
    Count(count, item.c_str(), eq != std::string::npos ? item.c_str() + eq + 1 : nullptr);
    start = end + 1;
  }
}

void BM_KHTTPArgs_Post(benchmark::State& state) {
  Request r{"POST", "", Fields(static_cast<int>(state.range(0)))};
  KHTTPArgs h;
  int count = 0;
  for (auto _ : state) {
    std::istringstream in(r.body);
    h.CrackArgs(in, Lookup, &r, Count, &count, false);
  }
  benchmark::DoNotOptimize(count);
}
BENCHMARK(BM_KHTTPArgs_Post)->Arg(100)->Arg(1000);

void BM_Plain_Post(benchmark::State& state) {
  const std::string body = Fields(static_cast<int>(state.range(0)));
  int count = 0;
  for (auto _ : state) {
    std::istringstream in(body);
    std::string text(body.size(), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    PlainCrack(text, &count);
  }
  benchmark::DoNotOptimize(count);
}
BENCHMARK(BM_Plain_Post)->Arg(100)->Arg(1000);

void BM_KHTTPArgs_Get(benchmark::State& state) {
  Request r{"GET", Fields(static_cast<int>(state.range(0))), ""};
  KHTTPArgs h;
  std::istringstream none;
  int count = 0;
  for (auto _ : state) h.CrackArgs(none, Lookup, &r, Count, &count, false);
  benchmark::DoNotOptimize(count);
}
BENCHMARK(BM_KHTTPArgs_Get)->Arg(1000);

// A 1 MiB query string of short items "a=1", separated by "&" (0) or only
// by ";" (1): a ";" ends an item only where no "&" follows, so each item
// must not search the rest of the string for one.
void BM_KHTTPArgs_GetSeparator(benchmark::State& state) {
  const char separator = state.range(0) ? ';' : '&';
  Request r{"GET", "", ""};
  while (r.query.size() < (1u << 20)) r.query += std::string(r.query.empty() ? 0 : 1, separator) + "a=1";
  KHTTPArgs h;
  std::istringstream none;
  int count = 0;
  for (auto _ : state) h.CrackArgs(none, Lookup, &r, Count, &count, false);
  benchmark::DoNotOptimize(count);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(r.query.size()));
}
BENCHMARK(BM_KHTTPArgs_GetSeparator)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Plain_Get(benchmark::State& state) {
  const std::string query = Fields(static_cast<int>(state.range(0)));
  int count = 0;
  for (auto _ : state) {
    std::string copy = query;  // the lookup's copy
    PlainCrack(copy, &count);
  }
  benchmark::DoNotOptimize(count);
}
BENCHMARK(BM_Plain_Get)->Arg(1000);

#ifdef VXK_HAVE_POCO
void BM_Poco_Post(benchmark::State& state) {
  const std::string body = Fields(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_POST, "/");
    request.setContentType("application/x-www-form-urlencoded");
    request.setContentLength(static_cast<std::streamsize>(body.size()));
    std::istringstream in(body);
    Poco::Net::HTMLForm form;
    form.setFieldLimit(0);
    form.load(request, in);
    benchmark::DoNotOptimize(form.size());
  }
}
BENCHMARK(BM_Poco_Post)->Arg(100)->Arg(1000);

void BM_Poco_Get(benchmark::State& state) {
  const std::string uri = "/?" + Fields(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, uri);
    Poco::Net::HTMLForm form;
    form.setFieldLimit(0);
    form.load(request);
    benchmark::DoNotOptimize(form.size());
  }
}
BENCHMARK(BM_Poco_Get)->Arg(1000);
#endif

// The upload: one text field and one 32 MiB file part of random bytes.
constexpr size_t kUploadSize = 32u << 20;
const std::string kUploadDir = "/dev/shm/vxk_upload_bench";

const std::string& UploadData() {
  static const std::string data = [] {
    std::string d(kUploadSize, '\0');
    std::mt19937_64 rng(7);
    for (size_t i = 0; i + 8 <= d.size(); i += 8) {
      uint64_t v = rng();
      std::memcpy(&d[i], &v, 8);
    }
    return d;
  }();
  return data;
}

const std::string& UploadBody() {
  static const std::string body =
      "--XyZzy0123\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n"
      "--XyZzy0123\r\nContent-Disposition: form-data; name=\"file\"; filename=\"up.bin\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\n" +
      UploadData() + "\r\n--XyZzy0123--\r\n";
  return body;
}

bool UploadLookup(void*, const char* name, KString& value) {
  const std::string n = name;
  if (n == "REQUEST_METHOD") value = "POST";
  else if (n == "CONTENT_TYPE") value = "multipart/form-data; boundary=XyZzy0123";
  else if (n == "CONTENT_LENGTH") value = std::to_string(UploadBody().size()).c_str();
  else return false;
  return true;
}

// Both upload rows store their part in the same tmpfs folder.
void UploadParser(KHTTPArgs& h) {
  std::filesystem::create_directories(kUploadDir);
  h.TmpDirPath((kUploadDir + "/").c_str());
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kUploadSize));
}

// KHTTPArgs reads the body from a FILE over the bytes in memory and stores
// the file part in a temporary file on tmpfs, removed after each request.
void BM_KHTTPArgs_Upload(benchmark::State& state) {
  const std::string& body = UploadBody();
  KHTTPArgs h;
  UploadParser(h);
  int count = 0;
  for (auto _ : state) {
    std::FILE* in = fmemopen(const_cast<char*>(body.data()), body.size(), "rb");
    if (h.CrackArgs(in, UploadLookup, nullptr, Count, &count, true) != 0) state.SkipWithError("parse failed");
    std::fclose(in);
    h.CleanupPostFiles(false);
  }
  SetBytes(state);
}
BENCHMARK(BM_KHTTPArgs_Upload)->Unit(benchmark::kMillisecond)->UseRealTime();

// A parse through the fed entry per iteration, feed giving it the body;
// the part is stored in a temporary file on tmpfs, removed after each
// request.
template <class Feed>
void FedUpload(benchmark::State& state, Feed feed) {
  const std::string& body = UploadBody();
  KHTTPArgs h;
  UploadParser(h);
  int count = 0;
  for (auto _ : state) {
    h.BeginArgs(UploadLookup, nullptr, Count, &count, true);
    feed(h, body);
    if (h.EndArgs() != 0) state.SkipWithError("parse failed");
    h.CleanupPostFiles(false);
  }
  SetBytes(state);
}

// Each read copies the next bytes of the body from memory into the
// parser's own buffer, as a socket read would.
void BM_KHTTPArgs_UploadFed(benchmark::State& state) {
  FedUpload(state, [](KHTTPArgs& h, const std::string& body) {
    size_t at = 0;
    size_t room = 0;
    for (char* p; at < body.size() && (p = h.FeedBuffer(&room)) != nullptr; at += room) {
      room = std::min(room, body.size() - at);
      std::memcpy(p, body.data() + at, room);
      h.FeedCommit(room);
    }
  });
}
BENCHMARK(BM_KHTTPArgs_UploadFed)->Unit(benchmark::kMillisecond)->UseRealTime();

// As a caller holding the body in memory feeds it: FeedArgs in pieces of
// 1 MiB, which the parse reads in place where a piece holds a whole read.
void BM_KHTTPArgs_UploadInPlace(benchmark::State& state) {
  FedUpload(state, [](KHTTPArgs& h, const std::string& body) {
    for (size_t at = 0; at < body.size(); at += 1u << 20)
      h.FeedArgs(body.data() + at, std::min<size_t>(1u << 20, body.size() - at));
  });
}
BENCHMARK(BM_KHTTPArgs_UploadInPlace)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: one write() of the file's bytes to a new file on tmpfs.
void BM_RawWrite_Upload(benchmark::State& state) {
  std::filesystem::create_directories(kUploadDir);
  const std::string& data = UploadData();
  const std::string path = kUploadDir + "/raw";
  for (auto _ : state) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = write(fd, data.data() + done, data.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    unlink(path.c_str());
  }
  SetBytes(state);
}
BENCHMARK(BM_RawWrite_Upload)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef VXK_HAVE_POCO
// Reads the bytes in place, so that POCO's side does not pay for a copy.
struct MemoryBuf : std::streambuf {
  explicit MemoryBuf(const std::string& s) {
    char* p = const_cast<char*>(s.data());
    setg(p, p, p + s.size());
  }
};

// A part handler as POCO's documentation shows it: copy the part's stream
// into a file.
class FileHandler : public Poco::Net::PartHandler {
 public:
  explicit FileHandler(std::string path) : fPath(std::move(path)) {}
  void handlePart(const Poco::Net::MessageHeader&, std::istream& stream) override {
    Poco::FileOutputStream out(fPath);
    Poco::StreamCopier::copyStream(stream, out);
  }

 private:
  std::string fPath;
};

void BM_Poco_Upload(benchmark::State& state) {
  std::filesystem::create_directories(kUploadDir);
  const std::string& body = UploadBody();
  const std::string path = kUploadDir + "/poco";
  for (auto _ : state) {
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_POST, "/upload");
    request.setContentType("multipart/form-data; boundary=XyZzy0123");
    request.setContentLength(static_cast<std::streamsize>(body.size()));
    MemoryBuf buf(body);
    std::istream in(&buf);
    FileHandler handler(path);
    Poco::Net::HTMLForm form(request, in, handler);
    benchmark::DoNotOptimize(form.size());
    unlink(path.c_str());
  }
  SetBytes(state);
}
BENCHMARK(BM_Poco_Upload)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
