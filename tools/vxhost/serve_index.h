// Full-text search of the server: each document's text (and a PDF's
// title, author and pages) taken through the conversion client in the
// background and kept as its "text" and "facts" extras, and one index in
// memory over names, notes, titles and texts that the list filters by.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_INDEX_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_INDEX_H_

#include <memory>
#include <string>
#include <vector>

#include "serve.h"

namespace serve {

struct App;
class TextIndex;  // the index and its lock (serve_index.cpp)
std::shared_ptr<TextIndex> MakeTextIndex();

// After the upload of the document key: its name, note and title are found
// at once; its text, and for a PDF without a title in its header the title
// from its facts, follow from the background thread.
void IndexLater(App& app, const std::string& key);
// After another server made the text of the document key: its words from
// the extras there are, on the calling thread; nothing is converted here.
void IndexKnown(App& app, const std::string& key);
// After another server stored the document key: its name, note and title.
void IndexNames(App& app, const std::string& key);
// At start, in the background: every listed or trashed document into the
// index from its extras; one of a convertible type without a "text" extra
// is converted first.
void IndexAtStart(App& app);
// A document removed for good leaves the index.
void ForgetText(App& app, const std::string& key);
// The listed documents that match the view's words; all when it has none.
// Trashed documents are never in it (the index keeps them for a restore).
std::vector<DocInfo> ListFor(App& app, const ListQuery& query);
// The search form of the list page, showing the view's words.
std::string SearchBox(const ListQuery& query);
// What the list page says when a search has no documents.
std::string NoMatchNote();

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_INDEX_H_
