// Code-page conversion over glibc iconv.
#include <errno.h>
#include <iconv.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "port/port.h"

namespace port {

namespace {

// Opening a converter loads and parses a gconv module, which costs far more
// than converting a short text; idle converters are therefore kept per
// (from, to) pair and handed to one caller at a time. A converter carries
// shift state, so two threads never share one.
class ConverterPool {
 public:
  iconv_t Take(const std::string& key, const char* from, const char* to) {
    {
      std::lock_guard<std::mutex> g(fMutex);
      for (auto& e : fIdle) {
        if (e.first == key && !e.second.empty()) {
          iconv_t cd = e.second.back();
          e.second.pop_back();
          return cd;
        }
      }
    }
    return iconv_open(to, from);
  }

  void Give(const std::string& key, iconv_t cd) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
    std::lock_guard<std::mutex> g(fMutex);
    for (auto& e : fIdle) {
      if (e.first == key) {
        e.second.push_back(cd);
        return;
      }
    }
    fIdle.emplace_back(key, std::vector<iconv_t>{cd});
  }

 private:
  std::mutex fMutex;
  std::vector<std::pair<std::string, std::vector<iconv_t>>> fIdle;  // few pairs: a list is enough
};

// Never destroyed: conversions may run from static destructors of other
// modules, and the process exit closes the converters anyway.
ConverterPool& Pool() {
  static ConverterPool* pool = new ConverterPool;
  return *pool;
}

}  // namespace

IconvResult IconvConvert(const char* from, const char* to, const void* in, size_t n, size_t inUnit,
                         const std::string& replacement, std::string* out) {
  std::string key(from);
  key += '\n';
  key += to;
  iconv_t cd = Pool().Take(key, from, to);
  if (cd == reinterpret_cast<iconv_t>(-1)) return IconvResult::kUnknown;
  if (inUnit == 0) inUnit = 1;

  IconvResult result = IconvResult::kOk;
  char* src = const_cast<char*>(static_cast<const char*>(in));
  size_t srcLeft = n;
  size_t used = out->size();
  // Most texts fit at once: a byte encoding to wide characters takes at most
  // 4 bytes per byte, and the reverse rarely more than one byte per input byte.
  out->resize(used + n * (inUnit == 1 ? 4 : 1) + 16);
  bool flushed = false;
  for (;;) {
    char* dst = out->data() + used;
    size_t dstLeft = out->size() - used;
    size_t r;
    if (srcLeft > 0) {
      r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    } else {
      r = iconv(cd, nullptr, nullptr, &dst, &dstLeft);  // flush any shift sequence
    }
    const int err = (r == static_cast<size_t>(-1)) ? errno : 0;
    used = static_cast<size_t>(dst - out->data());
    if (err == E2BIG) {
      out->resize(out->size() * 2 + 16);
      continue;
    }
    if (err == EILSEQ || err == EINVAL) {
      // EILSEQ: an invalid or unconvertible unit; EINVAL: an incomplete
      // sequence at the end. Either way one unit is replaced and skipped.
      result = IconvResult::kReplaced;
      if (out->size() - used < replacement.size()) out->resize(used + replacement.size() + n + 16);
      out->replace(used, replacement.size(), replacement);
      used += replacement.size();
      const size_t skip = srcLeft < inUnit ? srcLeft : inUnit;
      src += skip;
      srcLeft -= skip;
      continue;
    }
    if (err != 0) {
      result = IconvResult::kReplaced;  // anything else: stop with what we have
      break;
    }
    if (srcLeft == 0) {
      if (flushed) break;
      flushed = true;
    }
  }
  out->resize(used);
  Pool().Give(key, cd);
  return result;
}

}  // namespace port
