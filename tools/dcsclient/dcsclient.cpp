// The document-conversion client library. A handle holds the parameters of
// one configuration section, a libmagic cookie opened on first use and the
// result files of the last conversion. PDFs are read through Poppler
// (pdf_text.cpp). Status codes: 0 success, 1 bad
// argument, 2 type name longer than the buffer, 3 file unreadable or type
// unknown, 4 unsupported output format, 5 unsupported document type, 6
// output not written. One thread at a time per handle.
#include <magic.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "html_text.h"
#include "pdf_text.h"
#include "vxkernel/docconv/dcsclient.h"

namespace {

struct Client {
  std::string config;
  std::string section;
  std::string outdir;     // "outdir": where conversions write; empty: beside the input
  std::string magicfile;  // "magicfile": libmagic database; empty: the system's
  magic_t cookie = nullptr;
  std::vector<std::string> results;
};

std::string Trim(std::string s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  size_t e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Reads "name=value" lines of the section of the initialisation file into
// *values; false when the file cannot be read or has no such section.
bool ReadSection(const std::string& path, const std::string& section,
                 std::vector<std::pair<std::string, std::string>>* values) {
  std::ifstream in(path);
  if (!in) return false;
  bool found = false;
  bool inside = false;
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      inside = SameNoCase(Trim(line.substr(1, line.size() - 2)), section);
      found = found || inside;
      continue;
    }
    size_t eq = line.find('=');
    if (inside && eq != std::string::npos)
      values->emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
  }
  return found;
}

long SetParam(Client* c, const std::string& name, const std::string& value) {
  if (SameNoCase(name, "outdir")) {
    c->outdir = value;
  } else if (SameNoCase(name, "magicfile")) {
    c->magicfile = value;
    if (c->cookie != nullptr) magic_close(c->cookie);
    c->cookie = nullptr;
  }
  return 0;  // other names belong to other parts of the service
}

// The MIME type of the file, or empty.
std::string Detect(Client* c, const char* file) {
  if (c->cookie == nullptr) {
    c->cookie = magic_open(MAGIC_MIME_TYPE | MAGIC_ERROR);
    if (c->cookie == nullptr) return {};
    if (magic_load(c->cookie, c->magicfile.empty() ? nullptr : c->magicfile.c_str()) != 0) {
      magic_close(c->cookie);
      c->cookie = nullptr;
      return {};
    }
  }
  const char* type = magic_file(c->cookie, file);
  return type != nullptr ? type : "";
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return static_cast<bool>(out);
}

// The document's text, title and (PDFs only) facts; a status other than 0
// when it has none.
long Read(const std::string& type, const char* file, dcs::PdfDocument* out, bool* paged) {
  *paged = type == "application/pdf";
  if (*paged) return dcs::PdfToText(file, out) ? 0 : 5;
  if (type.compare(0, 5, "text/") != 0) return 5;
  std::ifstream in(file, std::ios::binary);
  if (!in) return 3;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  out->doc = type == "text/html" ? dcs::HtmlToText(bytes) : dcs::PlainText(bytes);
  return 0;
}

long Convert(Client* c, const char* file, const char* outdir, const char* format) {
  c->results.clear();
  if (format != nullptr && *format != '\0' && std::string(format) != "text") return 4;
  std::string type = Detect(c, file);
  if (type.empty()) return 3;
  dcs::PdfDocument read;
  bool paged = false;
  if (long status = Read(type, file, &read, &paged); status != 0) return status;

  std::string in_path(file);
  size_t slash = in_path.rfind('/');
  std::string name = slash == std::string::npos ? in_path : in_path.substr(slash + 1);
  std::string dir = outdir != nullptr && *outdir != '\0' ? outdir : c->outdir;
  if (dir.empty()) dir = slash == std::string::npos ? "." : in_path.substr(0, slash);
  if (dir.back() != '/') dir += '/';
  std::vector<std::pair<std::string, std::string>> outputs = {{dir + name + ".txt", read.doc.text},
                                                              {dir + name + ".title", read.doc.title + "\n"}};
  if (paged)
    outputs.emplace_back(dir + name + ".facts",
                         "author=" + read.author + "\npages=" + std::to_string(read.pages) + "\n");
  for (const auto& [path, bytes] : outputs) {
    if (WriteFile(path, bytes)) continue;
    for (const auto& written : outputs) std::remove(written.first.c_str());
    return 6;
  }
  for (auto& output : outputs) c->results.push_back(std::move(output.first));
  return 0;
}

}  // namespace

#define DCS_EXPORT extern "C" __attribute__((visibility("default")))

// Every entry point checks its handle type, ZorvClientInit* included, so a
// compiler catches a drift from the agreed signatures.
DCS_EXPORT void* ZorvClientInit(const char* configPath, const char* section) {
  static_assert(std::is_same_v<decltype(&ZorvClientInit), ZorvClientInitFn>);
  if (configPath == nullptr || section == nullptr) return nullptr;
  std::vector<std::pair<std::string, std::string>> values;
  if (!ReadSection(configPath, section, &values)) return nullptr;
  Client* c = new (std::nothrow) Client;
  if (c == nullptr) return nullptr;
  c->config = configPath;
  c->section = section;
  return c;
}

DCS_EXPORT long ZorvClientInitParams(void* handle) {
  static_assert(std::is_same_v<decltype(&ZorvClientInitParams), ZorvClientInitParamsFn>);
  auto* c = static_cast<Client*>(handle);
  if (c == nullptr) return 1;
  std::vector<std::pair<std::string, std::string>> values;
  if (!ReadSection(c->config, c->section, &values)) return 3;
  for (const auto& [name, value] : values) SetParam(c, name, value);
  return 0;
}

DCS_EXPORT long ZorvClientSetParam(void* handle, const char* name, const char* value) {
  static_assert(std::is_same_v<decltype(&ZorvClientSetParam), ZorvClientSetParamFn>);
  if (handle == nullptr || name == nullptr || value == nullptr) return 1;
  return SetParam(static_cast<Client*>(handle), name, value);
}

DCS_EXPORT long ZorvClientMimeDetect(void* handle, const char* file, char* buf,
                                     unsigned long size) {
  static_assert(std::is_same_v<decltype(&ZorvClientMimeDetect), ZorvClientMimeDetectFn>);
  if (handle == nullptr || file == nullptr || buf == nullptr || size == 0) return 1;
  std::string type = Detect(static_cast<Client*>(handle), file);
  if (type.empty()) return 3;
  if (type.size() >= size) return 2;
  type.copy(buf, type.size());
  buf[type.size()] = '\0';
  return 0;
}

DCS_EXPORT long ZorvClientConvert(void* handle, const char* file, const char* arg1,
                                  const char* arg2) {
  static_assert(std::is_same_v<decltype(&ZorvClientConvert), ZorvClientConvertFn>);
  if (handle == nullptr || file == nullptr) return 1;
  try {
    return Convert(static_cast<Client*>(handle), file, arg1, arg2);
  } catch (...) {
    return 6;
  }
}

DCS_EXPORT long ZorvClientGetNumResults(void* handle) {
  static_assert(std::is_same_v<decltype(&ZorvClientGetNumResults), ZorvClientGetNumResultsFn>);
  return handle == nullptr ? 0 : static_cast<long>(static_cast<Client*>(handle)->results.size());
}

DCS_EXPORT const char* ZorvClientGetFilename(void* handle, long index) {
  static_assert(std::is_same_v<decltype(&ZorvClientGetFilename), ZorvClientGetFilenameFn>);
  auto* c = static_cast<Client*>(handle);
  if (c == nullptr || index < 0 || static_cast<size_t>(index) >= c->results.size()) return nullptr;
  return c->results[static_cast<size_t>(index)].c_str();
}

DCS_EXPORT long ZorvClientFree(void* handle) {
  static_assert(std::is_same_v<decltype(&ZorvClientFree), ZorvClientFreeFn>);
  auto* c = static_cast<Client*>(handle);
  if (c == nullptr) return 1;
  if (c->cookie != nullptr) magic_close(c->cookie);
  delete c;
  return 0;
}
