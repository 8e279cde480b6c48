// A small valid PDF made in the test: one Helvetica line per page, an info
// dictionary with the title and author, and an exact cross-reference
// table, so that Poppler (and pdftotext, the oracle) read it.
#ifndef VXKERNEL_TESTS_SUPPORT_MINI_PDF_H_
#define VXKERNEL_TESTS_SUPPORT_MINI_PDF_H_

#include <cstdio>
#include <string>
#include <vector>

// lines: one page each, ASCII without parentheses or backslashes.
inline std::string MiniPdf(const std::vector<std::string>& lines, const std::string& title,
                           const std::string& author) {
  std::vector<std::string> objects;
  std::string kids;
  int pages = static_cast<int>(lines.size());
  // 1 catalog, 2 pages, 3 font, 4 info, then a page and its content each.
  for (int i = 0; i < pages; ++i) kids += std::to_string(5 + 2 * i) + " 0 R ";
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  objects.push_back("<< /Title (" + title + ") /Author (" + author + ") >>");
  for (int i = 0; i < pages; ++i) {
    std::string content = "BT /F1 12 Tf 72 720 Td (" + lines[static_cast<size_t>(i)] + ") Tj ET";
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                      "/Contents " + std::to_string(6 + 2 * i) + " 0 R >>");
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  }
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t at : offsets) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", at);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R /Info 4 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

#endif  // VXKERNEL_TESTS_SUPPORT_MINI_PDF_H_
