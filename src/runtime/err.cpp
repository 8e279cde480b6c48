#include "vxkernel/runtime/err.h"

#include <atomic>
#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/debug_line.h"
#include "base/run_reported.h"
#include "port/port.h"
#include "runtime/err_bundle_lookup.h"
#include "runtime/startup_dir.h"
#include "vxkernel/base/mem.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

namespace {

// The instances of the package table; null before their construction.
ErrProcessGlobals* gErrProcess = nullptr;
KErrInit* gErrInit = nullptr;

// A copy of the error properties path for the message lookup, which reads
// it on every catalogue message without the lock. Each copy is published
// once and kept until exit (a reader may hold it); there is one per
// err_properties_path_set that chose a path, so at most one per start-up.
std::atomic<const std::string*> gPathView{nullptr};
std::vector<std::unique_ptr<std::string>>* gPathViews = nullptr;  // guarded by the path lock

// Templates and messages are worked on in 255 bytes, terminator included.
constexpr size_t kWorkSize = 255;
// Local codes are signed 16-bit slot numbers counted from 1.
constexpr size_t kMaxLocal = 0x7FFF;

// ===== The bundle seam =====

// The lookup in force until the bundles layer installs its own.
vxk_internal::ErrBundleResult NoBundles(std::string_view, std::string_view, std::string_view, char*,
                                        size_t, size_t*) {
  return vxk_internal::ErrBundleResult::kNoBundle;
}

std::atomic<vxk_internal::ErrBundleLookup> gLookup{&NoBundles};

// ===== Helpers =====

// Only the low 32 bits of a code count, as on the platform codes come from.
int32_t Code32(long code) { return static_cast<int32_t>(static_cast<uint32_t>(code)); }

// Copies text into buf with the bound size (at most size - 1 bytes).
char* CopyOut(char* buf, long size, const char* text, size_t n) {
  if (buf == nullptr || size <= 0) return buf;
  size_t room = static_cast<size_t>(size) - 1;
  if (n > room) n = room;
  std::memcpy(buf, text, n);
  buf[n] = '\0';
  return buf;
}

// A message: at most kWorkSize - 1 bytes and a terminator. Messages are
// looked up often, so they are built on the stack.
struct Msg {
  char text[kWorkSize];
  size_t n;
};

// The error properties path; empty while unset.
std::string_view PropertiesDir();

// The message of code.
void Message(long code, Msg* msg) {
  int32_t c = Code32(code);
  int16_t catalogue = static_cast<int16_t>(static_cast<uint32_t>(c) >> 16);
  int16_t number = static_cast<int16_t>(c & 0xFFFF);
  msg->text[0] = '\0';
  msg->n = 0;
  if (catalogue == 0) {
    KErrGlobals* g = KErrInit::Current();
    if (g != nullptr && g->fLocal != nullptr && number >= 1 &&
        static_cast<size_t>(number) <= g->fLocal->size()) {
      const std::optional<std::string>& slot = (*g->fLocal)[static_cast<size_t>(number) - 1];
      if (slot) msg->n = std::strlen(CopyOut(msg->text, kWorkSize, slot->data(), slot->size()));
    }
  } else {
    char bundle[8];
    char key[16];
    const char* bundleEnd =
        std::to_chars(bundle, bundle + sizeof bundle, static_cast<long>(catalogue)).ptr;
    const char* keyEnd = std::to_chars(key, key + sizeof key, static_cast<long>(c)).ptr;
    size_t n = 0;
    vxk_internal::ErrBundleResult r =
        gLookup.load()(std::string_view(bundle, static_cast<size_t>(bundleEnd - bundle)),
                       PropertiesDir(), std::string_view(key, static_cast<size_t>(keyEnd - key)),
                       msg->text, kWorkSize, &n);
    if (r == vxk_internal::ErrBundleResult::kNoBundle)
      vxk_internal::DebugLine("Err:err_get_msg", "Could not load ", catalogue);
    if (r == vxk_internal::ErrBundleResult::kFound && n < kWorkSize) msg->n = n;
    msg->text[msg->n] = '\0';
  }
}

// ===== Template filling =====
// Works in fixed buffers: a template is at most a few hundred bytes and a
// message is cut at 254, so nothing here needs the heap; the only real work
// is one snprintf per marker.

enum class ArgKind { kInt, kLong, kLongLong, kDouble, kPointer };

// One printf conversion found in a segment: [begin, end) of its text.
// Trivial, so the marker array below costs nothing to set up.
struct Conversion {
  size_t begin;
  size_t end;
  ArgKind kind;
  bool string;
};

// Longest conversion specification formatted ("%-+ #0'123.45ll" and so on);
// longer ones stay text.
constexpr size_t kMaxSpec = 31;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses the conversion starting at seg[i] == '%'. Only what can be formatted
// safely with one argument counts: no '*' widths, no %n, no long double.
bool ParseConversion(std::string_view seg, size_t i, Conversion* c) {
  size_t j = i + 1;
  while (j < seg.size() && std::strchr("-+ #0'", seg[j]) != nullptr && seg[j] != '\0') ++j;
  while (j < seg.size() && IsDigit(seg[j])) ++j;
  if (j < seg.size() && seg[j] == '.') {
    ++j;
    while (j < seg.size() && IsDigit(seg[j])) ++j;
  }
  int longs = 0;
  bool sizeT = false;
  while (j < seg.size() && seg[j] != '\0' && std::strchr("hlqjzt", seg[j]) != nullptr) {
    if (seg[j] == 'l') ++longs;
    if (seg[j] == 'q' || seg[j] == 'j') longs = 2;
    if (seg[j] == 'z' || seg[j] == 't') sizeT = true;
    ++j;
  }
  if (j >= seg.size() || j + 1 - i > kMaxSpec) return false;
  char conv = seg[j];
  c->begin = i;
  c->end = j + 1;
  c->string = false;
  if (conv != '\0' && std::strchr("diouxXc", conv) != nullptr) {
    if (conv == 'c' && (longs != 0 || sizeT)) return false;
    c->kind = longs >= 2 ? ArgKind::kLongLong : (longs == 1 || sizeT) ? ArgKind::kLong : ArgKind::kInt;
  } else if (conv == 's' || conv == 'p') {
    if (longs != 0 || sizeT) return false;
    c->kind = ArgKind::kPointer;
    c->string = conv == 's';
  } else if (conv != '\0' && std::strchr("fFeEgGaA", conv) != nullptr) {
    c->kind = ArgKind::kDouble;
  } else {
    return false;
  }
  return true;
}

// The last valid conversion of seg, which the marker after seg fills.
bool LastConversion(std::string_view seg, Conversion* last) {
  bool found = false;
  for (size_t i = 0; i < seg.size(); ++i) {
    if (seg[i] != '%') continue;
    if (i + 1 < seg.size() && seg[i + 1] == '%') {
      ++i;
      continue;
    }
    Conversion c{};
    if (ParseConversion(seg, i, &c)) {
      *last = c;
      found = true;
      i = c.end - 1;
    }
  }
  return found;
}

union ArgValue {
  int i;
  long l;
  long long ll;
  double d;
  const void* p;
};

// A marker: the segment before it and the argument number after it.
struct Marker {
  const char* begin;  // the segment (plain pointers: the array stays trivial)
  size_t size;
  int arg;
  Conversion conv;
  bool hasConv;
};

// The work buffer: at most kWorkSize - 1 characters, always terminated.
struct Work {
  char text[kWorkSize];
  size_t n;
  bool Full() const { return n >= kWorkSize - 1; }
  void Add(char c) {
    if (!Full()) text[n++] = c;
  }
  void Add(const char* p, size_t len) {
    size_t room = kWorkSize - 1 - n;
    if (len > room) len = room;
    std::memcpy(text + n, p, len);
    n += len;
  }
};

// Formats m's segment with value: "%%" becomes '%', the segment's last
// conversion takes the value (when it was read as that kind), every other
// conversion stays as it is written.
void FormatSegment(const Marker& m, const ArgValue* value, ArgKind kind, Work* out) {
  std::string_view seg(m.begin, m.size);
  bool has = value != nullptr && m.hasConv && m.conv.kind == kind;
  for (size_t i = 0; i < seg.size() && !out->Full(); ++i) {
    if (has && i == m.conv.begin) {
      size_t len = m.conv.end - m.conv.begin;
      // The plain "%s", "%d" and "%ld" of most messages skip printf.
      if (len == 2 && seg[i + 1] == 's' && kind == ArgKind::kPointer) {
        const char* text = value->p != nullptr ? static_cast<const char*>(value->p) : "(null)";
        out->Add(text, std::strlen(text));
        i = m.conv.end - 1;
        continue;
      }
      if ((len == 2 && seg[i + 1] == 'd' && kind == ArgKind::kInt) ||
          (len == 3 && seg[i + 1] == 'l' && seg[i + 2] == 'd' && kind == ArgKind::kLong)) {
        char digits[24];
        long v = kind == ArgKind::kInt ? value->i : value->l;
        std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, v);
        out->Add(digits, static_cast<size_t>(r.ptr - digits));
        i = m.conv.end - 1;
        continue;
      }
      char spec[kMaxSpec + 1];
      std::memcpy(spec, seg.data() + m.conv.begin, len);
      spec[len] = '\0';
      char* at = out->text + out->n;
      size_t room = kWorkSize - out->n;
      int w = 0;
      switch (kind) {
        case ArgKind::kInt: w = std::snprintf(at, room, spec, value->i); break;
        case ArgKind::kLong: w = std::snprintf(at, room, spec, value->l); break;
        case ArgKind::kLongLong: w = std::snprintf(at, room, spec, value->ll); break;
        case ArgKind::kDouble: w = std::snprintf(at, room, spec, value->d); break;
        case ArgKind::kPointer: {
          const void* p = value->p;
          if (m.conv.string && p == nullptr) p = "(null)";
          w = std::snprintf(at, room, spec, p);
          break;
        }
      }
      if (w > 0) out->n += static_cast<size_t>(w) < room ? static_cast<size_t>(w) : room - 1;
      i = m.conv.end - 1;
      continue;
    }
    if (seg[i] == '%' && i + 1 < seg.size() && seg[i + 1] == '%') {
      out->Add('%');
      ++i;
      continue;
    }
    out->Add(seg[i]);
  }
}

// Fills templ from args into out (at most kWorkSize - 1 bytes, terminated).
// A '#' not followed by 1..9 is ordinary text.
void Fill(const char* templ, va_list args, Work* out) {
  // Every marker takes two characters of the template; past 128 of them the
  // rest of the template is copied as text.
  constexpr size_t kMaxMarkers = 128;
  Marker markers[kMaxMarkers];
  size_t count = 0;
  const char* segment = templ;
  const char* p = templ;
  for (; *p != '\0'; ++p) {
    if (*p == '#' && p[1] >= '1' && p[1] <= '9') {
      if (count == kMaxMarkers) break;
      Marker& m = markers[count++];
      m.begin = segment;
      m.size = static_cast<size_t>(p - segment);
      m.arg = p[1] - '0';
      m.hasConv = LastConversion(std::string_view(m.begin, m.size), &m.conv);
      ++p;
      segment = p + 1;
    }
  }
  // Each argument is read as the first marker that uses it says; arguments
  // below the highest marker that no marker uses are read as a long.
  int highest = 0;
  ArgKind kinds[10];
  bool known[10] = {};
  for (int d = 0; d < 10; ++d) kinds[d] = ArgKind::kLong;
  for (size_t k = 0; k < count; ++k) {
    const Marker& m = markers[k];
    if (m.arg > highest) highest = m.arg;
    if (!known[m.arg] && m.hasConv) {
      kinds[m.arg] = m.conv.kind;
      known[m.arg] = true;
    }
  }
  ArgValue values[10];
  for (int d = 1; d <= highest; ++d) {
    switch (kinds[d]) {
      case ArgKind::kInt: values[d].i = va_arg(args, int); break;
      case ArgKind::kLong: values[d].l = va_arg(args, long); break;
      case ArgKind::kLongLong: values[d].ll = va_arg(args, long long); break;
      case ArgKind::kDouble: values[d].d = va_arg(args, double); break;
      case ArgKind::kPointer: values[d].p = va_arg(args, const void*); break;
    }
  }
  for (size_t k = 0; k < count && !out->Full(); ++k)
    FormatSegment(markers[k], known[markers[k].arg] ? &values[markers[k].arg] : nullptr,
                  kinds[markers[k].arg], out);
  out->Add(segment, std::strlen(segment));
  out->text[out->n] = '\0';
}

KLock* NewLock() { return new KLock(KLock::kCriticalSection); }

}  // namespace

// ===== Participants =====

ErrProcessGlobals::ErrProcessGlobals() : KAtProcess(24), fPath(nullptr), fLock(NewLock()) {
  gErrProcess = this;
}

ErrProcessGlobals::~ErrProcessGlobals() {
  if (gErrProcess == this) gErrProcess = nullptr;
  delete[] fPath;
  delete fLock;
}

void ErrProcessGlobals::Startup() {
  vxk_internal::RunReported("ErrProcessGlobals::Startup", [] {
    std::string dir;
    const bool haveDir = vxk_internal::ReadStartupDir(&dir) && !dir.empty();
    mem_initialize();
    if (haveDir) {
      if (dir.back() != '/') dir += '/';
      err_properties_path_set(dir.c_str());
    }
  });
}

void ErrProcessGlobals::Shutdown() {
  KLockGuard guard(fLock);
  gPathView.store(nullptr, std::memory_order_release);
  delete[] fPath;
  fPath = nullptr;
}

KErrInit::KErrInit() : KThreadGlobals(16, 1) { gErrInit = this; }

KErrInit::~KErrInit() {
  if (gErrInit == this) gErrInit = nullptr;
}

void KErrInit::Init() {
  vxk_internal::RunReported("KErrInit::Init", [this] { User1(new KErrGlobals()); });
}

void KErrInit::Cleanup() {
  auto* g = static_cast<KErrGlobals*>(User1());
  if (g == nullptr) return;
  delete g->fLocal;
  delete g;
  User1(nullptr);
}

KErrGlobals* KErrInit::Current() {
  return gErrInit != nullptr ? static_cast<KErrGlobals*>(gErrInit->User1()) : nullptr;
}

// ===== Messages =====

char* err_get_msg(long code, char* buf, long size) {
  Msg msg;
  Message(code, &msg);
  return CopyOut(buf, size, msg.text, msg.n);
}

KString err_get_msg(long code) {
  Msg msg;
  Message(code, &msg);
  return KString(msg.text, static_cast<unsigned>(msg.n));
}

char err_escape_char() { return '#'; }

char* err_sprintf_utility(char* buf, long size, long code, va_list args) {
  Msg templ;
  Message(code, &templ);
  Work work;
  work.n = 0;
  work.text[0] = '\0';
  if (templ.n != 0) Fill(templ.text, args, &work);
  return CopyOut(buf, size, work.text, work.n);
}

char* err_sprintf(char* buf, long size, long code, ...) {
  va_list args;
  va_start(args, code);
  err_sprintf_utility(buf, size, code, args);
  va_end(args);
  return buf;
}

KString err_sprintf(long code, ...) {
  char buf[kWorkSize];
  va_list args;
  va_start(args, code);
  err_sprintf_utility(buf, sizeof buf, code, args);
  va_end(args);
  return KString(buf);
}

char* err_sprintf_buffer(char* buf, long size, const char* templ, ...) {
  if (templ == nullptr) return CopyOut(buf, size, "", 0);
  va_list args;
  va_start(args, templ);
  Work work;
  work.n = 0;
  Fill(templ, args, &work);
  va_end(args);
  return CopyOut(buf, size, work.text, work.n);
}

char* err_strcpy(char* buf, long size, long code) { return err_get_msg(code, buf, size); }

char* err_strncpy(char* buf, long size, long code, unsigned n) {
  Msg msg;
  Message(code, &msg);
  return CopyOut(buf, size, msg.text, msg.n < n ? msg.n : n);
}

// ===== Local messages =====

long err_add_local_msg(const char* text) {
  KErrGlobals* g = KErrInit::Current();
  if (g == nullptr || text == nullptr) {
    vxk_internal::DebugLine("err_add_local_msg",
                            g == nullptr ? "the calling thread has not started" : "no text");
    return 0;
  }
  if (g->fLocal == nullptr) g->fLocal = new std::vector<std::optional<std::string>>();
  std::vector<std::optional<std::string>>& table = *g->fLocal;
  size_t slot = 0;
  while (slot < table.size() && table[slot]) ++slot;
  if (slot == table.size()) {
    if (table.size() >= kMaxLocal) {
      vxk_internal::DebugLine("err_add_local_msg", "the local table is full (", kMaxLocal,
                              " messages)");
      return 0;
    }
    table.emplace_back();
  }
  table[slot] = std::string(text);
  return static_cast<long>(slot + 1);
}

void err_delete_local_msg(long code) {
  KErrGlobals* g = KErrInit::Current();
  int32_t c = Code32(code);
  if (g == nullptr || g->fLocal == nullptr || (static_cast<uint32_t>(c) >> 16) != 0) return;
  int16_t number = static_cast<int16_t>(c & 0xFFFF);
  if (number < 1 || static_cast<size_t>(number) > g->fLocal->size()) return;
  (*g->fLocal)[static_cast<size_t>(number) - 1].reset();
  while (!g->fLocal->empty() && !g->fLocal->back()) g->fLocal->pop_back();
}

// ===== The error properties directory =====

KString err_properties_path() {
  ErrProcessGlobals* e = gErrProcess;
  if (e == nullptr) return KString();
  KLockGuard guard(e->fLock);
  return KString(e->fPath != nullptr ? e->fPath : "");
}

namespace {

std::string_view PropertiesDir() {
  const std::string* path = gPathView.load(std::memory_order_acquire);
  return path != nullptr ? std::string_view(*path) : std::string_view();
}

}  // namespace

void err_properties_path_set(const char* dir) {
  ErrProcessGlobals* e = gErrProcess;
  if (e == nullptr || dir == nullptr) return;
  KLockGuard guard(e->fLock);
  if (e->fPath == nullptr) {
    std::string candidate = std::string(dir) + "res/";
    if (!port::FileNameExists(candidate.c_str())) candidate = std::string(dir) + "../res/";
    if (port::FileNameExists(candidate.c_str())) {
      e->fPath = new char[candidate.size() + 1];
      std::memcpy(e->fPath, candidate.c_str(), candidate.size() + 1);
      if (gPathViews == nullptr) gPathViews = new std::vector<std::unique_ptr<std::string>>();
      gPathViews->push_back(std::make_unique<std::string>(candidate));
      gPathView.store(gPathViews->back().get(), std::memory_order_release);
    }
  }
}

namespace vxk_internal {

ErrBundleLookup ErrSetBundleLookup(ErrBundleLookup lookup) {
  return gLookup.exchange(lookup != nullptr ? lookup : &NoBundles);
}

}  // namespace vxk_internal
