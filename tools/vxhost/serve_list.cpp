// The list's order and pages, one function for every answer that lists
// documents, so that a bookmarked view and an API agree on what is where.
#include <algorithm>
#include <cstdlib>

#include "search_index.h"
#include "serve.h"
#include "serve_auth.h"
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

}  // namespace

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
