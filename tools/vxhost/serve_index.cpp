// Full-text search: extraction through KDor on the background thread, the
// extras it leaves, and the one index in memory (search_index.h) behind a
// lock. The index is rebuilt at every start from the extras, so it has no
// file of its own that a kill could leave out of step with the documents.
#include "serve_index.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>

#include "search_index.h"
#include "serve_app.h"
#include "serve_log.h"
#include "vxkernel/docconv/KDor.h"
#include "vxkernel/threads/KMutex.h"

namespace serve {

namespace {

// The search box (`H: the words, the view's sort and direction) and the
// note when nothing matches; {{key}}: page texts.
const char kSearchForm[] =
    "<form id=\"search\" method=\"get\" action=\"/\" role=\"search\">\n"
    "<label>{{search.label}} <input type=\"search\" name=\"q\" value=\"`H\"></label>\n"
    "<input type=\"hidden\" name=\"sort\" value=\"`H\">\n<input type=\"hidden\" name=\"dir\" value=\"`H\">\n"
    "<button type=\"submit\">{{search.button}}</button>\n</form>\n";
const char kNoMatch[] = "<p id=\"empty\">{{search.no_match}}</p>\n";

constexpr int64_t kTextInputMax = int64_t{8} << 20;   // text documents, as for titles
constexpr int64_t kPdfInputMax = int64_t{256} << 20;  // PDFs: the client bounds pages and text
constexpr size_t kIndexTextMax = size_t{4} << 20;     // of a "text" extra read into the index

bool Convertible(const App& app, const DocInfo& doc) {
  if (app.config.dcsHome.empty()) return false;
  if (doc.type == "application/pdf") return doc.size <= kPdfInputMax;
  return doc.type.compare(0, 5, "text/") == 0 && doc.size <= kTextInputMax;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The document's bytes without the item header, in a temporary the
// conversion client can read; false when they cannot be copied.
bool CopyOut(App& app, const std::string& key, const std::string& to) {
  int from = -1;
  int64_t offset = 0, length = 0;
  if (!app.store.OpenData(key, &from, &offset, &length)) return false;
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  off_t at = static_cast<off_t>(offset);
  while (out >= 0 && length > 0) {
    ssize_t n = sendfile(out, from, &at, static_cast<size_t>(std::min<int64_t>(length, 1 << 30)));
    if (n <= 0) break;
    length -= n;
  }
  close(from);
  bool ok = out >= 0 && length == 0;
  if (out >= 0 && close(out) != 0) ok = false;
  return ok;
}

// The value of a "name=value" line of facts; "" when there is none.
std::string Fact(const std::string& facts, const std::string& name) {
  std::string line = "\n" + name + "=";
  size_t at = ("\n" + facts).find(line);
  if (at == std::string::npos) return "";
  size_t from = at + line.size() - 1;
  return facts.substr(from, facts.find('\n', from) - from);
}

// Converts the document and keeps its "text" (empty when the client
// cannot read it, so the next start does not try again) and, for a PDF,
// its "facts": "title=", "author=" and "pages=" lines. The copy and the
// client's outputs are made in the document's own extra folder, not among
// the temporaries: a kill leaves them where the next start's conversion
// of the same document (no "text" yet) overwrites and removes them, and a
// final delete removes the folder.
void Extract(App& app, const DocInfo& doc, std::string* text, std::string* facts) {
  std::filesystem::path copy = app.store.ExtraPath(doc.key, "text.source." + app.config.instance);
  std::error_code ec;
  std::filesystem::create_directories(copy.parent_path(), ec);
  bool converted = false;
  if (CopyOut(app, doc.key, copy.string())) {
    KDor dor(copy.c_str(), app.config.iniPath.c_str(), 1);
    std::string outdir = copy.parent_path().string();
    converted = dor.Convert(outdir.c_str(), "text") && dor.GetOutputFiles().size() >= 2;
    if (converted) {
      *text = ReadFile(std::string(dor.GetOutputFiles()[0].FullName()));
      std::string title = ReadFile(std::string(dor.GetOutputFiles()[1].FullName()));
      if (dor.GetOutputFiles().size() >= 3)
        *facts = "title=" + title.substr(0, title.find('\n')) + "\n" +
                 ReadFile(std::string(dor.GetOutputFiles()[2].FullName()));
    }
  }
  std::filesystem::remove(copy, ec);
  if (!converted) LogEvent("no text from " + doc.key + " (" + doc.type + ")");
  int err = 0;
  if (!app.store.WriteExtra(doc.key, "text", *text, &err) ||
      (!facts->empty() && !app.store.WriteExtra(doc.key, "facts", *facts, &err)))
    LogEvent("could not keep the text of " + doc.key + ": " + std::strerror(err));
}

}  // namespace

class TextIndex {
 public:
  void Put(const std::string& key, const std::string& words) {
    KLockGuard g(fLock);
    fIndex.Put(key, words);
  }
  void Remove(const std::string& key) {
    KLockGuard g(fLock);
    fIndex.Remove(key);
  }
  std::vector<std::string> Match(const std::vector<std::string>& words) const {
    KLockGuard g(fLock);
    return fIndex.Match(words);
  }

 private:
  mutable KMutex fLock;
  SearchIndex fIndex VXK_GUARDED_BY(fLock);
};

std::shared_ptr<TextIndex> MakeTextIndex() { return std::make_shared<TextIndex>(); }

namespace {

std::string Words(const DocInfo& doc, const std::string& text) {
  return doc.name + "\n" + doc.note + "\n" + doc.title + "\n" + text.substr(0, kIndexTextMax);
}

// Reads (or first makes, when convert) the document's extras and puts its
// words in the index; a PDF's title from its facts is shown when the header
// has none. The other servers are told once the text is made.
void Index(App& app, DocInfo doc, bool convert = true) {
  std::string text, facts;
  bool extract = !app.store.ReadExtra(doc.key, "text", &text) && convert && Convertible(app, doc);
  if (extract) Extract(app, doc, &text, &facts);
  else app.store.ReadExtra(doc.key, "facts", &facts);
  std::string title = Fact(facts, "title");
  if (doc.title.empty() && !title.empty() && app.store.ShowTitle(doc.key, title)) doc.title = title;
  app.text->Put(doc.key, Words(doc, text));
  if (!extract) return;
  Announce("text " + doc.key);
  LogEvent("took the text of " + doc.key + " (" + std::to_string(text.size()) + " bytes)");
}

// The document's name, note and title into the index; false when it is
// not listed.
bool PutNames(App& app, const std::string& key, DocInfo* doc) {
  if (!app.store.Find(key, doc)) return false;
  app.text->Put(doc->key, Words(*doc, ""));
  return true;
}

}  // namespace

void IndexLater(App& app, const std::string& key) {
  DocInfo doc;
  if (PutNames(app, key, &doc)) InBackground(app, [&app, doc] { Index(app, doc); });
}

void IndexNames(App& app, const std::string& key) {
  DocInfo doc;
  PutNames(app, key, &doc);
}

void IndexKnown(App& app, const std::string& key) {
  DocInfo doc;
  if (app.store.Find(key, &doc)) Index(app, doc, false);
}

void IndexAtStart(App& app) {
  InBackground(app, [&app] {
    std::vector<DocInfo> docs = app.store.List();
    for (const TrashInfo& t : app.store.TrashList()) docs.push_back(t.doc);
    for (const DocInfo& doc : docs) {
      if (app.stopping) return;  // the next start goes on from the extras made so far
      Index(app, doc);
    }
  });
}

void ForgetText(App& app, const std::string& key) { app.text->Remove(key); }

std::vector<DocInfo> ListFor(App& app, const ListQuery& query) {
  std::vector<std::string> words = QueryWords(query.words);
  if (words.empty()) return app.store.List();
  std::vector<std::string> hits = app.text->Match(words);
  std::unordered_set<std::string> found(hits.begin(), hits.end());
  return app.store.List(&found);
}

std::string SearchBox(const ListQuery& query) {
  std::string sort, dir;
  std::string view = ListQueryString(query.key, query.ascending, 1);
  QueryValue(view, "sort", &sort);
  QueryValue(view, "dir", &dir);
  return Fill(kSearchForm, {query.words, sort, dir});
}

std::string NoMatchNote() { return Localize(kNoMatch); }

}  // namespace serve
