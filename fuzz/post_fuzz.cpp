// libFuzzer target for POST bodies.
//
// The first byte picks the body type (even: urlencoded, odd: multipart with
// boundary "B"); the rest is the body, declared one byte shorter than the
// stream. Checked: nothing past the declared length is read; every upload
// lies in the temporary directory and its N_filelength is its size on
// disk; the directory is empty after CleanupPostFiles. Then the same body
// goes through the fed entry in pieces of random sizes (seeded by the
// input), each by FeedArgs or straight into FeedBuffer, and then by
// FeedArgs alone from copies of the pieces that are overwritten and freed
// as each call returns (the parse reads a piece in place only during its
// call): the result, the arguments and the part files must equal the
// one-shot parse's.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "vxkernel/web/KHTTPArgs.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Scratch {
  Scratch() {
    char name[] = "/tmp/vxk_post_fuzz_XXXXXX";
    Check(mkdtemp(name) != nullptr);
    dir = std::string(name) + "/";
  }
  ~Scratch() { rmdir(dir.c_str()); }
  std::string dir;
};

struct Request {
  std::map<std::string, std::string> env;
  std::vector<std::pair<std::string, std::string>> args;
};

bool Lookup(void* c, const char* name, KString& value) {
  auto& env = static_cast<Request*>(c)->env;
  auto it = env.find(name);
  if (it == env.end()) return false;
  value = KString(it->second.c_str());
  return true;
}

bool Sink(void* c, const char* name, const char* value) {
  static_cast<Request*>(c)->args.emplace_back(name, value ? value : "");
  return true;
}

// The files of the directory and their bytes.
std::map<std::string, std::string> Files(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files[e.path().string()] = bytes.str();
  }
  return files;
}

// Feeds body in pieces of 1 byte up to 4 KiB, or the whole rest, the sizes
// drawn from a generator seeded by the body; lent: every piece by FeedArgs
// from a copy that is overwritten and freed after the call.
int FedParse(KHTTPArgs& h, Request* r, const std::string& body, bool lent) {
  std::mt19937 rng(static_cast<uint32_t>(std::hash<std::string>()(body)));
  h.BeginArgs(Lookup, r, Sink, r, false);
  for (size_t at = 0; at < body.size();) {
    const size_t rest = body.size() - at;
    const size_t piece = rng() % 8 == 0 ? rest : std::min<size_t>(rest, 1 + rng() % (2u << (rng() % 12)));
    if (lent) {
      std::vector<char> copy(body.begin() + static_cast<long>(at), body.begin() + static_cast<long>(at + piece));
      const size_t taken = h.FeedArgs(copy.data(), copy.size());
      std::fill(copy.begin(), copy.end(), '#');
      if (taken == 0) break;
      at += piece;
      continue;
    }
    if (rng() % 2 != 0) {
      if (h.FeedArgs(body.data() + at, piece) == 0) break;
      at += piece;
      continue;
    }
    size_t room = 0;
    char* p = h.FeedBuffer(&room);
    if (p == nullptr) break;
    const size_t n = std::min(room, piece);
    std::memcpy(p, body.data() + at, n);
    h.FeedCommit(n);
    at += n;
  }
  return h.EndArgs();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  if (size < 2) return 0;
  Request r;
  r.env = {{"REQUEST_METHOD", "POST"},
           {"CONTENT_TYPE", data[0] % 2 ? "multipart/form-data; boundary=B"
                                        : "application/x-www-form-urlencoded"},
           {"CONTENT_LENGTH", std::to_string(size - 2)}};
  std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::FILE* in = fmemopen(body.data(), body.size(), "rb");
  Check(in != nullptr);
  KHTTPArgs h;
  h.TmpDirPath(scratch.dir.c_str());
  const int result = h.CrackArgs(in, Lookup, &r, Sink, &r, false);
  Check(std::ftell(in) <= static_cast<long>(size - 2));
  std::fclose(in);
  // Every file is an upload whose arguments name it: N_filelength (its size
  // on disk), N_content_type, then N (its path). Another argument may carry
  // the path as its value too (the fuzzer learns it and types it into a
  // header), so the upload is the one with that layout.
  for (const auto& e : std::filesystem::directory_iterator(scratch.dir)) {
    const std::string path = e.path().string();
    const std::string size_text = std::to_string(std::filesystem::file_size(path));
    bool named = false;
    for (size_t j = 2; j < r.args.size() && !named; ++j) {
      const std::string& name = r.args[j].first;
      named = r.args[j].second == path &&
              r.args[j - 1].first == name + "_content_type" &&
              r.args[j - 2].first == name + "_filelength" &&
              r.args[j - 2].second == size_text;
    }
    Check(named);
  }
  const std::map<std::string, std::string> files = Files(scratch.dir);
  h.CleanupPostFiles(false);
  Check(std::filesystem::is_empty(scratch.dir));

  for (bool lent : {false, true}) {
    Request fed;
    fed.env = r.env;
    Check(FedParse(h, &fed, body, lent) == result);
    Check(fed.args == r.args);
    Check(Files(scratch.dir) == files);
    h.CleanupPostFiles(false);
  }
  return 0;
}
