// Thumbnails and previews of documents. Images and PDF pages are decoded
// only by a child process (`vxhost derive-preview`, preview_cmd.cpp) under
// CPU, memory, file-size and wall-clock limits; what it makes is a PNG of
// this server's own, kept as the document's extras "thumb", "view" (an
// image's larger view) and "page-N" (a PDF's page N).
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_PREVIEW_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_PREVIEW_H_

#include <string>

#include "serve.h"

namespace serve {

struct App;
struct Caller;
struct Exchange;

// The limits of a preview, shared by the server and its child.
constexpr int kThumbBox = 128;            // a thumbnail fits a square this size (pixels)
constexpr int kViewBox = 1200;            // an image's view and a PDF's page images
constexpr double kMaxPreviewPixels = 100e6;  // larger images are refused before decoding
constexpr double kMaxPdfDpi = 300;        // a tiny page is not blown up further
constexpr long long kMaxPreviewInput = 64ll << 20;   // larger documents get none
constexpr long long kMaxPreviewOutput = 64ll << 20;  // RLIMIT_FSIZE of the child
constexpr long long kPreviewAddressSpace = 2ll << 30;  // RLIMIT_AS of the child
constexpr int kPreviewCpuSeconds = 10;    // RLIMIT_CPU of the child
constexpr int kPreviewWallMs = 20000;     // the parent kills a child that runs longer
constexpr int kMaxPreviewPages = 20;      // page images a preview page shows
constexpr int kMaxPreviewChildren = 2;    // children at once; more requests get 503

// Makes the document's thumbnail in the background, when its type has one.
void PreviewLater(App& app, const std::string& key);
// Queues PreviewLater for every listed document that has no thumbnail and
// none refused yet; the server calls it once at start.
void PreviewMissing(App& app);
// Takes note of the thumbnail another server on the folder made.
void KnowThumb(App& app, const std::string& key);
// The thumbnail's size in pixels when the document has one (made by this
// run of the server, found at its start or made by another server since):
// known in memory, so that a list costs no look at the folder per row.
bool ThumbSize(const std::string& key, int* width, int* height);

// GET /doc/<key>/thumb, /doc/<key>/preview, /doc/<key>/page/<n> (action is
// what follows the key).
void HandlePreview(Exchange& ex, const std::string& key, const std::string& action, const Caller& who);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_PREVIEW_H_
