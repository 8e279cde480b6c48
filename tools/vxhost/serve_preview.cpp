// Thumbnails, page images and the preview page. The server never decodes
// an image or a PDF itself: the child `vxhost derive-preview` does, with
// the document on its standard input, and a child that fails, crashes or
// runs out of time is "no preview" and one log line.
#include "serve_preview.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "serve_app.h"
#include "serve_log.h"
#include "serve_auth.h"
#include "vxkernel/threads/KMutex.h"

extern char** environ;

namespace serve {

namespace {

// The preview page: {{key}} is a page text; a constant holding a key
// ("preview.title") names one.
const char kPreviewTitle[] = "preview.title";
const char kDownloadLink[] = "<p><a class=\"download\" href=\"/doc/`U\">{{button.download}}</a></p>\n";
const char kNoPreviewText[] = "<p id=\"nopreview\">{{preview.none}}</p>\n";
const char kPageImage[] = "<p><img class=\"page\" loading=\"lazy\" alt=\"`H\" src=\"/doc/`U/page/`H\"></p>\n";
const char kPageAlt[] = "preview.page";
const char kImageAlt[] = "preview.image";
// `H: the text of the count of pages not shown.
const char kMorePages[] = "<p class=\"more\">`H</p>\n";
const char kMorePagesKey[] = "preview.more_pages";
const char kTextBlock[] = "<pre id=\"text\">`H</pre>\n";
const char kTextCut[] = "<p class=\"more\">{{preview.cut}}</p>\n";

constexpr size_t kMaxPreviewText = 64 * 1024;  // text shown on a preview page

enum class Kind { kNone, kImage, kPdf };

// What the document's first bytes are. The detected type is not trusted
// for this: only these signatures ever reach a decoder, so an SVG (text)
// or an HTML page never does.
Kind Sniff(int fd, int64_t offset, int64_t length) {
  char head[12] = {};
  if (length < 8 || pread(fd, head, sizeof head, offset) < 8) return Kind::kNone;
  auto is = [&head](const char* sig, size_t n, size_t at = 0) { return std::memcmp(head + at, sig, n) == 0; };
  if (is("%PDF-", 5)) return Kind::kPdf;
  if (is("\x89PNG\r\n\x1a\n", 8) || is("\xff\xd8\xff", 3) || is("GIF87a", 6) || is("GIF89a", 6) ||
      (is("RIFF", 4) && is("WEBP", 4, 8)) || is("II*\0", 4) || is("MM\0*", 4))
    return Kind::kImage;
  return Kind::kNone;
}

Kind KindOf(App& app, const std::string& key) {
  int fd = -1;
  int64_t offset = 0, length = 0;
  if (!app.store.OpenData(key, &fd, &offset, &length)) return Kind::kNone;
  Kind kind = Sniff(fd, offset, length);
  close(fd);
  return kind;
}

// The width and height a PNG's header gives; false when it is none.
bool PngSize(const std::string& png, int* width, int* height) {
  if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || png.compare(12, 4, "IHDR") != 0) return false;
  auto be = [&png](size_t at) {
    return static_cast<int>((static_cast<unsigned char>(png[at]) << 24) |
                            (static_cast<unsigned char>(png[at + 1]) << 16) |
                            (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]));
  };
  *width = be(16);
  *height = be(20);
  return *width > 0 && *height > 0;
}

std::atomic<int> gChildren{0};  // derive-preview children running

// Waits for pid at most ms; kills it when it is not done by then. The
// status, and whether it was killed for time.
int WaitWithin(pid_t pid, int ms, bool* late) {
  *late = false;
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      int r = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
      if (r > 0) break;
      if (r == 0) {
        *late = true;
        kill(pid, SIGKILL);
        break;
      }
      if (errno != EINTR) break;
    }
    close(pidfd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Runs the child on the document for what ("thumb", "view", "page") and
// page n; fills *png, else *why (one line). On success *why is what the
// child said ("pages N" for a PDF's thumbnail).
bool Derive(App& app, const std::string& key, const std::string& what, int n, std::string* png, std::string* why) {
  int fd = -1;
  int64_t offset = 0, length = 0;
  if (!app.store.OpenData(key, &fd, &offset, &length)) {
    *why = "the document is gone";
    return false;
  }
  static std::atomic<long> serial{0};
  std::string base = app.store.TempDir() + "preview-" + key + "-" + std::to_string(++serial);
  std::string out = base + ".png", said = base + ".why";
  std::string count = std::to_string(n), bytes = std::to_string(length);
  const char* argv[] = {"vxhost", "derive-preview", what.c_str(), count.c_str(), bytes.c_str(), out.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fd, 0);
  posix_spawn_file_actions_addopen(&actions, 1, said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = -1;
  int spawned = lseek(fd, offset, SEEK_SET) == offset
                    ? posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, const_cast<char**>(argv), environ)
                    : errno;
  posix_spawn_file_actions_destroy(&actions);
  close(fd);
  if (spawned != 0) {
    *why = std::string("the decoder could not be started: ") + std::strerror(spawned);
    return false;
  }
  bool late = false;
  int status = WaitWithin(pid, kPreviewWallMs, &late);
  std::ifstream in(out, std::ios::binary);
  png->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::ifstream reason(said);
  std::getline(reason, *why);
  std::remove(out.c_str());
  std::remove(said.c_str());
  int w = 0, h = 0;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && PngSize(*png, &w, &h)) return true;
  if (late) *why = "the decoder ran longer than " + std::to_string(kPreviewWallMs / 1000) + " s";
  else if (WIFSIGNALED(status)) *why = "the decoder ended by signal " + std::to_string(WTERMSIG(status));
  else if (why->empty()) *why = "the decoder made no image";
  why->resize(std::min<size_t>(why->size(), 200));
  return false;
}

// Holds one of the kMaxPreviewChildren places, when one is free.
class ChildPlace {
 public:
  ChildPlace() : fHeld(gChildren.fetch_add(1) < kMaxPreviewChildren) {
    if (!fHeld) gChildren.fetch_sub(1);
  }
  ~ChildPlace() {
    if (fHeld) gChildren.fetch_sub(1);
  }
  bool Held() const { return fHeld; }

 private:
  bool fHeld;
};

KMutex gThumbsMutex;
// key: width, height of its thumbnail
std::map<std::string, std::pair<int, int>> gThumbs VXK_GUARDED_BY(gThumbsMutex);

void NoteThumb(const std::string& key, const std::string& png) {
  int w = 0, h = 0;
  if (!PngSize(png, &w, &h)) return;
  KLockGuard g(gThumbsMutex);
  gThumbs[key] = {w, h};
}

// Makes and keeps the extra kind (what for page n); an empty extra marks
// a refusal, so that it is not tried again. True when there is an image.
bool Make(App& app, const std::string& key, const std::string& what, int n, const std::string& kind,
          std::string* png, std::string* said) {
  std::string& why = *said;
  bool made = Derive(app, key, what, n, png, &why);
  if (!made) {
    png->clear();
    LogEvent("no " + kind + " of " + key + ": " + why);
  }
  int error = 0;
  if (!app.store.WriteExtra(key, kind, *png, &error))
    LogEvent("could not keep the " + kind + " of " + key + ": " + std::strerror(error));
  return made;
}

void MakeThumb(App& app, const std::string& key) {
  std::string png, said;
  int error = 0;
  if (app.stopping || KindOf(app, key) == Kind::kNone || !Make(app, key, "thumb", 1, "thumb", &png, &said)) return;
  NoteThumb(key, png);
  // A PDF's page count, for the preview page.
  if (said.compare(0, 6, "pages ") == 0 && !app.store.WriteExtra(key, "pages", said.substr(6), &error))
    LogEvent("could not keep the pages of " + key + ": " + std::strerror(error));
  Announce("thumb " + key);
  LogEvent("made the thumbnail of " + key);
}

void SendPng(Exchange& ex, const std::string& png, const std::string& key, const std::string& kind) {
  // A document's bytes never change, so neither does what is made of them.
  std::string etag = "\"" + key + "-" + kind + "-" + std::to_string(png.size()) + "\"";
  std::string headers = "ETag: " + etag + "\r\nCache-Control: private, max-age=86400\r\n";
  std::string match = ex.head.Header("if-none-match");
  if (!match.empty() && EtagListMatches(match, etag)) {
    ex.status = 304;
    ex.response.bytes = ResponseHead(304, "", static_cast<int64_t>(png.size()), ex.keepAlive, headers);
    return;
  }
  Send(ex, 200, "image/png", png, headers);
}

// GET /doc/<key>/page/<n>: made on demand and kept.
void PageImage(Exchange& ex, const std::string& key, const std::string& number) {
  char* stop = nullptr;
  long n = std::strtol(number.c_str(), &stop, 10);
  bool valid = !number.empty() && *stop == '\0' && number[0] != '0' && number.size() <= 3;
  Kind kind = KindOf(ex.app, key);
  if (!valid || n > kMaxPreviewPages || kind == Kind::kNone || (kind == Kind::kImage && n != 1))
    return SendError(ex, 404, Text(kNoPreview, key));
  std::string extra = "page-" + std::to_string(n), png;
  if (!ex.app.store.ReadExtra(key, extra, &png)) {
    ChildPlace place;
    if (!place.Held()) return SendError(ex, 503, Text(kPreviewBusy), "Retry-After: 1\r\n");
    std::string said;
    Make(ex.app, key, kind == Kind::kPdf ? "page" : "view", static_cast<int>(n), extra, &png, &said);
  }
  if (png.empty()) return SendError(ex, 404, Text(kNoPreview, key));
  SendPng(ex, png, key, extra);
}

// The text shown of a document: a text document's own beginning (HTML and
// SVG as their source, escaped by the page), else the "text" extra the
// search made; *cut when there is more.
bool PreviewText(App& app, const DocInfo& doc, std::string* text, bool* cut) {
  bool textType = doc.type.compare(0, 5, "text/") == 0 || doc.type == "application/json" ||
                  doc.type == "application/xml" || doc.type == "image/svg+xml";
  if (!textType && !app.store.ReadExtra(doc.key, "text", text)) return false;
  if (textType) {
    int fd = -1;
    int64_t offset = 0, length = 0;
    if (!app.store.OpenData(doc.key, &fd, &offset, &length)) return false;
    text->assign(static_cast<size_t>(std::min<int64_t>(length, kMaxPreviewText + 1)), '\0');
    ssize_t got = pread(fd, text->data(), text->size(), offset);
    close(fd);
    text->resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  *cut = text->size() > kMaxPreviewText;
  if (*cut) {
    // Not in the middle of a UTF-8 sequence.
    size_t end = kMaxPreviewText;
    while (end > 0 && (static_cast<unsigned char>((*text)[end]) & 0xc0) == 0x80) --end;
    text->resize(end);
  }
  return true;
}

void Preview(Exchange& ex, const DocInfo& doc, const Caller& who) {
  std::string body, text, pages;
  bool cut = false;
  Kind kind = KindOf(ex.app, doc.key);
  if (kind == Kind::kImage) {
    body = Fill(kPageImage, {PageText(kImageAlt), doc.key, "1"});
  } else if (kind == Kind::kPdf) {
    // The page count the thumbnail's child reported; page 1 until then.
    long count = ex.app.store.ReadExtra(doc.key, "pages", &pages) ? std::atol(pages.c_str()) : 1;
    for (long n = 1; n <= std::min<long>(count, kMaxPreviewPages); ++n)
      body += Fill(kPageImage, {PageText(kPageAlt, {std::to_string(n)}), doc.key, std::to_string(n)});
    long more = count - kMaxPreviewPages;
    if (more > 0) body += Fill(kMorePages, {PageText(CountKey(kMorePagesKey, more), {std::to_string(more)})});
  } else if (PreviewText(ex.app, doc, &text, &cut)) {
    body = Fill(kTextBlock, {text}) + (cut ? Localize(kTextCut) : "");
  } else {
    body = Localize(kNoPreviewText);
  }
  body += Fill(kDownloadLink, {doc.key});
  Send(ex, 200, "text/html; charset=utf-8", Page(PageText(kPreviewTitle, {doc.name}), body, &who));
}

}  // namespace

void PreviewLater(App& app, const std::string& key) {
  InBackground(app, [&app, key] { MakeThumb(app, key); });
}

void PreviewMissing(App& app) {
  InBackground(app, [&app] {
    for (const DocInfo& doc : app.store.List()) {
      std::string png;
      if (app.store.ReadExtra(doc.key, "thumb", &png)) NoteThumb(doc.key, png);
      else PreviewLater(app, doc.key);
    }
  });
}

void KnowThumb(App& app, const std::string& key) {
  std::string png;
  if (app.store.ReadExtra(key, "thumb", &png)) NoteThumb(key, png);
}

bool ThumbSize(const std::string& key, int* width, int* height) {
  KLockGuard g(gThumbsMutex);
  auto it = gThumbs.find(key);
  if (it == gThumbs.end()) return false;
  *width = it->second.first;
  *height = it->second.second;
  return true;
}

void HandlePreview(Exchange& ex, const std::string& key, const std::string& action, const Caller& who) {
  DocInfo doc;
  if (!ex.app.store.Find(key, &doc)) return SendError(ex, 404, Text(kNoDocument, key));
  if (action == "/preview") return Preview(ex, doc, who);
  if (action.compare(0, 6, "/page/") == 0) return PageImage(ex, key, action.substr(6));
  // A thumbnail is served once it is noted, as the list shows it: its file
  // is kept before it is noted, so a client that got the image is given a
  // list with it.
  std::string png;
  int w = 0, h = 0;
  if (!ThumbSize(key, &w, &h) || !ex.app.store.ReadExtra(key, "thumb", &png) || png.empty())
    return SendError(ex, 404, Text(kNoPreview, key));
  SendPng(ex, png, key, "thumb");
}

}  // namespace serve
