// Text, title, author and page count of a PDF through Poppler.
#ifndef DCSCLIENT_PDF_TEXT_H_
#define DCSCLIENT_PDF_TEXT_H_

#include <string>

#include "html_text.h"

namespace dcs {

// At most this many bytes of text and this many pages are read, so a
// hostile document costs bounded output and bounded page walks.
constexpr size_t kPdfTextMax = size_t{4} << 20;
constexpr int kPdfPageMax = 5000;

struct PdfDocument {
  Document doc;        // the text of the pages in order; the title from the document info
  std::string author;  // from the document info; one line, may be empty
  int pages = 0;       // all pages, also those past kPdfPageMax
};

// Reads the PDF at path into *out; false when Poppler cannot open it or it
// needs a password.
bool PdfToText(const std::string& path, PdfDocument* out);

}  // namespace dcs

#endif  // DCSCLIENT_PDF_TEXT_H_
