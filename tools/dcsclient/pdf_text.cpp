// PDF text through poppler-cpp. Poppler reports damage on its own error
// channel, which would otherwise go to the host's standard error; a broken
// file shows as a failed load instead.
#include "pdf_text.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <memory>
#include <mutex>

namespace dcs {

namespace {

void Quiet(const std::string&, void*) {}

std::string Utf8(const poppler::ustring& text) {
  poppler::byte_array bytes = text.to_utf8();
  return std::string(bytes.begin(), bytes.end());
}

// One line: line ends and other control characters become spaces.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return text;
}

// Cuts text to at most max bytes without splitting a UTF-8 sequence.
void CutUtf8(std::string* text, size_t max) {
  if (text->size() <= max) return;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>((*text)[end]) & 0xc0) == 0x80) --end;
  text->resize(end);
}

}  // namespace

bool PdfToText(const std::string& path, PdfDocument* out) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { poppler::set_debug_error_function(&Quiet, nullptr); });
  std::unique_ptr<poppler::document> pdf(poppler::document::load_from_file(path));
  if (pdf == nullptr || pdf->is_locked()) return false;
  out->pages = pdf->pages();
  out->doc.title = OneLine(Utf8(pdf->get_title()));
  out->author = OneLine(Utf8(pdf->get_author()));
  std::string& text = out->doc.text;
  for (int i = 0; i < out->pages && i < kPdfPageMax && text.size() < kPdfTextMax; ++i) {
    std::unique_ptr<poppler::page> page(pdf->create_page(i));
    if (page == nullptr) continue;
    text += Utf8(page->text());
    if (!text.empty() && text.back() != '\n') text += '\n';
  }
  CutUtf8(&text, kPdfTextMax);
  return true;
}

}  // namespace dcs
