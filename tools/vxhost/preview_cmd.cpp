// vxhost derive-preview: decodes one untrusted image or PDF into a PNG made
// here. The server runs it as a child process (serve_preview.cpp), so that a
// decoder that crashes, loops or eats memory costs only this process: its
// limits are set before the first byte of the document is read.
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vips/vips8>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "serve_preview.h"

namespace {

// Sanitizers reserve terabytes of address space: no address-space limit
// under them (the CPU and wall-clock limits still hold).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void Limit(int resource, rlim_t value) {
  rlimit r{value, value};
  setrlimit(resource, &r);
}

// The libvips loaders allowed: plain raster formats only. SVG (and every
// loader that renders a document: PDF, the ImageMagick bridge) is refused
// whatever the bytes claim.
bool AllowedLoader(const char* name) {
  static const char* const kAllowed[] = {"VipsForeignLoadPngBuffer", "VipsForeignLoadJpegBuffer",
                                         "VipsForeignLoadNsgifBuffer", "VipsForeignLoadGifBuffer",
                                         "VipsForeignLoadWebpBuffer", "VipsForeignLoadTiffBuffer"};
  for (const char* a : kAllowed)
    if (name != nullptr && std::strcmp(name, a) == 0) return true;
  return false;
}

// Exit codes: 0 made, 1 refused or failed (the reason on standard output),
// 2 usage.
int Refuse(const std::string& why) {
  std::printf("%s\n", why.c_str());
  std::fflush(stdout);
  _exit(1);
}

void FromImage(const std::string& bytes, int box, const std::string& out) {
  const char* loader = vips_foreign_find_load_buffer(bytes.data(), bytes.size());
  if (!AllowedLoader(loader)) Refuse("not an image type previews are made of");
  // The header alone first: its dimensions decide before any pixel is decoded.
  vips::VImage head = vips::VImage::new_from_buffer(bytes.data(), bytes.size(), "");
  if (static_cast<double>(head.width()) * head.height() > serve::kMaxPreviewPixels)
    Refuse("the image is " + std::to_string(head.width()) + "x" + std::to_string(head.height()) +
           " pixels, more than a preview is made of");
  VipsBlob* blob = vips_blob_new(nullptr, bytes.data(), bytes.size());
  vips::VImage small = vips::VImage::thumbnail_buffer(
      blob, box, vips::VImage::option()->set("height", box)->set("size", VIPS_SIZE_DOWN));
  vips_area_unref(VIPS_AREA(blob));
  small.pngsave(out.c_str(), vips::VImage::option()->set("strip", true));
}

// Page n (from 1) scaled into a box x box square, at most kMaxPdfDpi.
void FromPdf(const std::string& bytes, int n, int box, const std::string& out) {
  poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
  if (!doc || doc->is_locked()) Refuse("not a readable PDF");
  if (n < 1 || n > doc->pages()) Refuse("the PDF has no page " + std::to_string(n));
  std::unique_ptr<poppler::page> page(doc->create_page(n - 1));
  if (!page) Refuse("page " + std::to_string(n) + " cannot be read");
  poppler::rectf r = page->page_rect();
  double w = r.width(), h = r.height();
  if (page->orientation() == poppler::page::landscape || page->orientation() == poppler::page::seascape)
    std::swap(w, h);
  if (!(w >= 1 && h >= 1 && w < 1e6 && h < 1e6)) Refuse("the page has no usable size");
  double dpi = std::min(serve::kMaxPdfDpi, 72.0 * box / std::max(w, h));
  poppler::page_renderer renderer;
  renderer.set_render_hints(poppler::page_renderer::antialiasing | poppler::page_renderer::text_antialiasing);
  renderer.set_image_format(poppler::image::format_rgb24);
  poppler::image img = renderer.render_page(page.get(), dpi, dpi);
  if (!img.is_valid() || !img.save(out, "png")) Refuse("the page could not be rendered");
  std::printf("pages %d\n", doc->pages());
}

}  // namespace

int RunDerivePreview(int argc, char** argv) {
  // vxhost derive-preview thumb|view|page N LENGTH OUT, the document on
  // standard input.
  if (argc != 4) {
    std::fprintf(stderr, "usage: vxhost derive-preview thumb|view|page N LENGTH OUT < DOCUMENT\n");
    return 2;
  }
  std::string what = argv[0], out = argv[3];
  int n = std::atoi(argv[1]);
  long long length = std::atoll(argv[2]);
  Limit(RLIMIT_CORE, 0);
  Limit(RLIMIT_CPU, serve::kPreviewCpuSeconds);
  Limit(RLIMIT_FSIZE, serve::kMaxPreviewOutput);
  if (!kSanitized) Limit(RLIMIT_AS, serve::kPreviewAddressSpace);
  if (length < 0 || length > serve::kMaxPreviewInput) Refuse("the document is larger than previews are made of");
  std::string bytes(static_cast<size_t>(length), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t k = read(0, bytes.data() + got, bytes.size() - got);
    if (k <= 0) Refuse("the document could not be read");
    got += static_cast<size_t>(k);
  }
  if (VIPS_INIT("vxhost")) Refuse("libvips did not start");
  vips_concurrency_set(1);
  vips_cache_set_max(0);
  int box = what == "thumb" ? serve::kThumbBox : serve::kViewBox;
  bool pdf = bytes.compare(0, 5, "%PDF-") == 0;
  try {
    if (pdf) FromPdf(bytes, what == "page" ? n : 1, box, out);
    else if (what == "page") Refuse("not a PDF");
    else FromImage(bytes, box, out);
  } catch (const vips::VError& e) {
    Refuse(std::string("libvips: ") + e.what());
  }
  // Quick exit: the decoders' caches and threads need no tidying in a
  // process that ends here.
  std::fflush(stdout);
  _exit(0);
}
