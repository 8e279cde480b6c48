// The conversion client's PDF and Markdown paths, driven through KDor:
// pdftotext and pdfinfo (poppler-utils) are the independent oracles.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/debug_capture.h"
#include "support/mini_pdf.h"
#include "support/temp_dir.h"
#include "vxkernel/docconv/KDor.h"

namespace {

const std::string kHome = VXK_DCS_HOME;

std::string Config(const TempDir& dir, const std::string& home) {
  return dir.Write("/server.ini", "[general]\nRZHome=" + home + "\n[DORView]\ndllpath=" + home + "filters\n");
}

// What a command prints, "" when it fails or is not installed.
std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    if (pclose(p) != 0) out.clear();
  }
  return out;
}

// Runs of white space (page breaks included) as one space, none at the ends.
std::string Words(const std::string& text) {
  std::string out;
  for (char c : text) {
    bool space = c == ' ' || c == '\n' || c == '\f' || c == '\r' || c == '\t';
    if (!space) out += c;
    else if (!out.empty() && out.back() != ' ') out += ' ';
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The value of a "Key:   value" line of pdfinfo.
std::string InfoField(const std::string& info, const std::string& key) {
  size_t at = info.find("\n" + key + ":");
  if (at == std::string::npos && info.compare(0, key.size() + 1, key + ":") == 0) at = 0;
  else if (at == std::string::npos) return "";
  else ++at;
  size_t from = info.find_first_not_of(' ', at + key.size() + 1);
  return info.substr(from, info.find('\n', from) - from);
}

// PDFs give a third result, <name>.facts; pdftotext and pdfinfo are the
// oracles for the text, title, author and pages.
TEST(DcsClient, ConvertsPdfToTextTitleAndFacts) {
  TempDir dir;
  std::string ini = Config(dir, kHome);
  struct Case {
    std::vector<std::string> pages;
    std::string title, author;
  };
  const Case cases[] = {
      {{"hello zebrafish world"}, "A Title", "Ann Author"},
      {{"first page", "second page", "third page words"}, "", ""},
  };
  for (const Case& c : cases) {
    std::string in = dir.Write("/in.pdf", MiniPdf(c.pages, c.title, c.author));
    std::string info = CommandOutput("pdfinfo '" + in + "'");
    std::string oracle = CommandOutput("pdftotext '" + in + "' -");
    if (info.empty() || oracle.empty()) GTEST_SKIP() << "poppler-utils are not installed";
    KDor dor(in.c_str(), ini.c_str(), 1);
    ASSERT_TRUE(dor.Convert(dir.Path().c_str(), "text"));
    ASSERT_EQ(dor.GetOutputFiles().size(), 3u);
    auto output = [&](size_t i) { return dir.Read(std::string(dor.GetOutputFiles()[i].FullName())); };
    EXPECT_EQ(Words(output(0)), Words(oracle));
    EXPECT_EQ(output(1), InfoField(info, "Title") + "\n");
    EXPECT_EQ(output(2), "author=" + InfoField(info, "Author") + "\npages=" + InfoField(info, "Pages") + "\n");
  }
}

// Markdown is plain text to libmagic: it takes the text path unchanged.
TEST(DcsClient, MarkdownTakesTheTextPath) {
  TempDir dir;
  std::string ini = Config(dir, kHome);
  std::string md = "# Notes\n\nSome *marked* words.\n";
  std::string in = dir.Write("/in.md", md);
  KDor dor(in.c_str(), ini.c_str(), 1);
  ASSERT_TRUE(dor.Convert(dir.Path().c_str(), "text"));
  ASSERT_EQ(dor.GetOutputFiles().size(), 2u);
  EXPECT_EQ(dir.Read(std::string(dor.GetOutputFiles()[0].FullName())), md);
}


TEST(DcsClient, ABrokenPdfIsRefused) {
  TempDir dir;
  std::string ini = Config(dir, kHome);
  // A PDF that Poppler cannot open, whole or cut short, is refused alike.
  std::string pdf = MiniPdf({"words"}, "T", "A");
  for (const std::string& broken : {std::string("%PDF-1.4\n1 0 obj\n<< >>\nendobj\n"), pdf.substr(0, 200)}) {
    std::string in = dir.Write("/broken.pdf", broken);
    ExpectDebug({"Error converting document: 5\n"},
                [&] { EXPECT_FALSE(KDor(in.c_str(), ini.c_str(), 1).Convert(dir.Path().c_str(), "text")); });
  }
}

}  // namespace
