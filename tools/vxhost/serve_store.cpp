// Stand-in document store on plain files (<data>/docs/<key>.doc and
// <key>.meta, temporaries in <data>/tmp/) until the library's file cache is
// merged; the rest of the server sees serve_store.h.
#include "serve_store.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "vxkernel/threads/KLock.h"
#include "vxkernel/threads/KLockGuard.h"

namespace fs = std::filesystem;

namespace serve {

namespace {

std::string OneLine(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20) c = '_';
  return s;
}

bool WriteMeta(const std::string& path, const DocInfo& d) {
  std::ofstream out(path, std::ios::trunc);
  out << "name=" << OneLine(d.name) << "\ntype=" << OneLine(d.type) << "\ntitle=" << OneLine(d.title)
      << "\nnote=" << OneLine(d.note) << "\nsize=" << d.size << "\nuploaded=" << d.uploaded << "\n";
  out.flush();
  return static_cast<bool>(out);
}

bool ReadMeta(const fs::path& path, DocInfo* d) {
  std::ifstream in(path);
  std::string line;
  int fields = 0;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string k = line.substr(0, eq), v = line.substr(eq + 1);
    ++fields;
    if (k == "name") d->name = v;
    else if (k == "type") d->type = v;
    else if (k == "title") d->title = v;
    else if (k == "note") d->note = v;
    else if (k == "size") d->size = std::atoll(v.c_str());
    else if (k == "uploaded") d->uploaded = std::atoll(v.c_str());
    else --fields;
  }
  return fields == 6;
}

}  // namespace

struct Store::Impl {
  mutable KLock lock{KLock::kCriticalSection};
  fs::path docs, tmp;
  std::map<std::string, DocInfo> index;  // guarded by lock
  long swept = 0;
  std::mt19937_64 random{std::random_device{}()};

  std::string NewKey() {
    char text[17];
    for (;;) {
      std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
      if (index.count(text) == 0) return text;
    }
  }
};

Store::Store() : fImpl(new Impl) {}
Store::~Store() = default;

bool Store::Open(const std::string& dataDir, std::string* error) {
  KLockGuard g(fImpl->lock);
  std::error_code ec;
  fImpl->docs = fs::path(dataDir) / "docs";
  fImpl->tmp = fs::path(dataDir) / "tmp";
  fs::create_directories(fImpl->docs, ec);
  fs::create_directories(fImpl->tmp, ec);
  if (!fs::is_directory(fImpl->docs) || !fs::is_directory(fImpl->tmp)) {
    *error = "cannot make the folders under " + dataDir;
    return false;
  }
  fImpl->swept = 0;
  for (const auto& e : fs::directory_iterator(fImpl->tmp, ec))
    if (fs::remove_all(e.path(), ec) > 0) ++fImpl->swept;
  fImpl->index.clear();
  std::vector<fs::path> orphans;
  for (const auto& e : fs::directory_iterator(fImpl->docs, ec)) {
    fs::path p = e.path();
    std::string key = p.stem().string();
    if (p.extension() == ".meta") {
      DocInfo d;
      d.key = key;
      if (ValidKey(key) && ReadMeta(p, &d) && fs::exists(fImpl->docs / (key + ".doc")))
        fImpl->index[key] = d;
      else
        orphans.push_back(p);
    } else if (p.extension() != ".doc" || !fs::exists(fImpl->docs / (key + ".meta"))) {
      orphans.push_back(p);
    }
  }
  for (const fs::path& p : orphans)
    if (fs::remove(p, ec)) ++fImpl->swept;
  return true;
}

std::string Store::TempDir() const { return fImpl->tmp.string() + "/"; }

bool Store::Add(const std::string& path, DocInfo* info) {
  KLockGuard g(fImpl->lock);
  info->key = fImpl->NewKey();
  std::error_code ec;
  fs::path meta = fImpl->tmp / (info->key + ".meta");
  fs::path doc = fImpl->docs / (info->key + ".doc");
  if (!WriteMeta(meta.string(), *info)) {
    fs::remove(meta, ec);
    return false;
  }
  fs::rename(path, doc, ec);
  if (ec) {
    fs::remove(meta, ec);
    return false;
  }
  fs::rename(meta, fImpl->docs / (info->key + ".meta"), ec);  // the document exists from here on
  if (ec) {
    fs::rename(doc, path, ec);
    return false;
  }
  fImpl->index[info->key] = *info;
  return true;
}

std::vector<DocInfo> Store::List() const {
  std::vector<DocInfo> list;
  {
    KLockGuard g(fImpl->lock);
    list.reserve(fImpl->index.size());
    for (const auto& kv : fImpl->index) list.push_back(kv.second);
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const DocInfo& a, const DocInfo& b) { return a.uploaded > b.uploaded; });
  return list;
}

bool Store::Find(const std::string& key, DocInfo* info, std::string* path) const {
  KLockGuard g(fImpl->lock);
  auto it = fImpl->index.find(key);
  if (it == fImpl->index.end()) return false;
  *info = it->second;
  *path = (fImpl->docs / (key + ".doc")).string();
  return true;
}

bool Store::Remove(const std::string& key) {
  KLockGuard g(fImpl->lock);
  auto it = fImpl->index.find(key);
  if (it == fImpl->index.end()) return false;
  std::error_code ec;
  fs::remove(fImpl->docs / (key + ".meta"), ec);  // gone from the list first
  fs::remove(fImpl->docs / (key + ".doc"), ec);
  fImpl->index.erase(it);
  return true;
}

Store::Figures Store::Stats() const {
  KLockGuard g(fImpl->lock);
  Figures f;
  f.documents = static_cast<long>(fImpl->index.size());
  for (const auto& kv : fImpl->index) f.bytes += kv.second.size;
  f.swept = fImpl->swept;
  return f;
}

}  // namespace serve
