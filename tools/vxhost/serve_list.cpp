// The list's order and pages, one function for every answer that lists
// documents, so that a bookmarked view and an API agree on what is where.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <tuple>

#include "search_index.h"
#include "serve.h"
#include "serve_app.h"
#include "serve_auth.h"
#include "serve_preview.h"
#include "serve_sheet.h"
#include "vxkernel/threads/KMutex.h"
#include "vxkernel/web/KWebEscape.h"

namespace serve {

namespace {

// Index = ListQuery::Key.
const char* const kKeyNames[] = {"name", "size", "type", "date"};

// a before b in the view: by the chosen column, then by document key in
// either direction, so that documents of the same second (or size, name,
// type) never swap places between requests.
bool Before(const DocInfo& a, const DocInfo& b, const ListQuery& q) {
  int c = 0;
  switch (q.key) {
    case ListQuery::kName: c = a.name.compare(b.name); break;
    case ListQuery::kType: c = a.type.compare(b.type); break;
    case ListQuery::kSize: c = a.size < b.size ? -1 : a.size > b.size; break;
    case ListQuery::kDate: c = a.uploaded < b.uploaded ? -1 : a.uploaded > b.uploaded; break;
  }
  if (c != 0) return q.ascending ? c < 0 : c > 0;
  return a.key < b.key;
}

// A list page kept between requests: what it shows of the store at its
// generation.
struct Kept {
  uint64_t generation = 0;
  Sheet sheet;
  std::vector<std::string> thumbless;  // its rows' documents without a thumbnail when made
};
// Language, sort key, ascending, page asked for.
using View = std::tuple<std::string, int, bool, int>;

// At most a few views per language are asked for; a crawler walking the
// pages must not keep every one.
constexpr size_t kMaxKept = 32;

// The pages kept, all of gKeptGeneration. Held only to look up or swap an
// entry: a page is made and filled outside it.
KMutex gKeptMutex;
std::map<View, std::shared_ptr<const Kept>> gKept VXK_GUARDED_BY(gKeptMutex);
uint64_t gKeptGeneration VXK_GUARDED_BY(gKeptMutex) = 0;

std::shared_ptr<const Kept> FindKept(const View& view) {
  KLockGuard g(gKeptMutex);
  auto it = gKept.find(view);
  return it == gKept.end() ? nullptr : it->second;
}

void Keep(const View& view, std::shared_ptr<const Kept> kept) {
  KLockGuard g(gKeptMutex);
  // A page made from an older store than one already kept is not kept.
  if (kept->generation < gKeptGeneration) return;
  if (kept->generation > gKeptGeneration || gKept.size() >= kMaxKept) gKept.clear();
  gKeptGeneration = kept->generation;
  gKept[view] = std::move(kept);
}

// A thumbnail is made after its document is listed, without a change of
// the store.
bool ThumbAppeared(const std::vector<std::string>& thumbless) {
  int w = 0, h = 0;
  return std::any_of(thumbless.begin(), thumbless.end(),
                     [&](const std::string& key) { return ThumbSize(key, &w, &h); });
}

}  // namespace

std::string ListPage(App& app, const ListQuery& query, const Caller& who, const std::vector<TrashInfo>& undo,
                     const std::function<std::string(const std::string& key)>& shares) {
  if (!query.words.empty()) return ListPage(ListFor(app, query), query, who, undo, shares);
  // Read before the documents: a page is at least as new as its count.
  uint64_t generation = app.store.Generation();
  View view{RequestLanguage(), query.key, query.ascending, query.page};
  std::shared_ptr<const Kept> kept = FindKept(view);
  if (kept == nullptr || kept->generation != generation || ThumbAppeared(kept->thumbless)) {
    auto made = std::make_shared<Kept>();
    made->generation = generation;
    made->sheet = ListSheet(ListFor(app, query), query, &made->thumbless);
    Keep(view, made);
    kept = std::move(made);
  }
  return kept->sheet.Fill(&who, UndoOffers(undo, who), shares);
}

bool QueryValue(const std::string& query, const std::string& name, std::string* value) {
  size_t at = 0;
  while (at <= query.size()) {
    size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    if (query.compare(at, name.size() + 1, name + "=") == 0) {
      *value = query.substr(at + name.size() + 1, end - at - name.size() - 1);
      return true;
    }
    at = end + 1;
  }
  return false;
}

bool DefaultAscending(ListQuery::Key key) { return key == ListQuery::kName || key == ListQuery::kType; }

ListQuery ParseListQuery(const std::string& query) {
  ListQuery q;
  std::string v;
  if (QueryValue(query, "sort", &v))
    for (int k = 0; k < 4; ++k)
      if (v == kKeyNames[k]) q.key = static_cast<ListQuery::Key>(k);
  q.ascending = DefaultAscending(q.key);
  if (QueryValue(query, "dir", &v) && (v == "asc" || v == "desc")) q.ascending = v == "asc";
  // Digits only; a number past any end (strtoll saturates) means the last page.
  if (QueryValue(query, "page", &v) && !v.empty() && v.find_first_not_of("0123456789") == std::string::npos)
    q.page = static_cast<int>(std::clamp(std::strtoll(v.c_str(), nullptr, 10), 1LL, 1LL << 30));
  // A search is bounded before it is read; the cut keeps whole characters.
  q.words = FormValue(query, "q");
  if (q.words.size() > kMaxQueryBytes) {
    size_t end = kMaxQueryBytes;
    while (end > 0 && (static_cast<unsigned char>(q.words[end]) & 0xc0) == 0x80) --end;
    q.words.resize(end);
  }
  return q;
}

std::string ListQueryString(ListQuery::Key key, bool ascending, int page, const std::string& words) {
  std::string search = words.empty() ? "" : "&q=" + std::string(KWebEscape::Escape(words.c_str()));
  return std::string("sort=") + kKeyNames[key] + "&dir=" + (ascending ? "asc" : "desc") +
         "&page=" + std::to_string(page) + search;
}

std::vector<DocInfo> PageOf(std::vector<DocInfo> docs, const ListQuery& query, int* page, int* pages, int* total) {
  std::sort(docs.begin(), docs.end(), [&query](const DocInfo& a, const DocInfo& b) { return Before(a, b, query); });
  *total = static_cast<int>(docs.size());
  *pages = std::max(1, (*total + kListPageSize - 1) / kListPageSize);
  *page = std::min(query.page, *pages);
  size_t from = static_cast<size_t>(*page - 1) * kListPageSize;
  size_t to = std::min(docs.size(), from + kListPageSize);
  return std::vector<DocInfo>(std::make_move_iterator(docs.begin() + static_cast<long>(from)),
                              std::make_move_iterator(docs.begin() + static_cast<long>(to)));
}

}  // namespace serve
