// libFuzzer target for POST bodies.
//
// The first byte picks the body type (even: urlencoded, odd: multipart with
// boundary "B"); the rest is the body, declared one byte shorter than the
// stream. Checked: nothing past the declared length is read; every upload
// lies in the temporary directory and its N_filelength is its size on
// disk; the directory is empty after CleanupPostFiles.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

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
  std::map<std::string, std::string> env, args;
};

bool Lookup(void* c, const char* name, KString& value) {
  auto& env = static_cast<Request*>(c)->env;
  auto it = env.find(name);
  if (it == env.end()) return false;
  value = KString(it->second.c_str());
  return true;
}

bool Sink(void* c, const char* name, const char* value) {
  static_cast<Request*>(c)->args[name] = value ? value : "";
  return true;
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
  h.CrackArgs(in, Lookup, &r, Sink, &r, false);
  Check(std::ftell(in) <= static_cast<long>(size - 2));
  std::fclose(in);
  for (const auto& [name, value] : r.args) {
    auto length = r.args.find(name + "_filelength");
    if (length == r.args.end()) continue;
    Check(value.compare(0, scratch.dir.size(), scratch.dir) == 0);
    Check(value.find('/', scratch.dir.size()) == std::string::npos);
    struct stat st {};
    Check(stat(value.c_str(), &st) == 0 && std::to_string(st.st_size) == length->second);
  }
  h.CleanupPostFiles(false);
  Check(std::filesystem::is_empty(scratch.dir));
  return 0;
}
