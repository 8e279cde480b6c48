// The documents live in the library's file cache (<data>/cache): one client
// cache item per document under its key, with the description in the
// item's 1064-byte header (content type = detected type, document name =
// the client's file name, document type = title, creator = note, created
// date = upload time). The cache commits an item by renaming its
// temporary, so a killed server leaves whole items and temporaries. An
// upload's part file, written with the header's room at its start, is
// itself renamed into the cache (AdoptDoc): tmp is in the data folder, on
// the cache's file system.
// Uploads and conversions have their own temporaries in
// <data>/tmp/<instance>/.
//
// Several servers may share the data folder. Each names its cache
// temporaries with a number of its own (TempId, from its instance name),
// and a starting server removes the temporaries of every server not
// running now (its own among them), never those of a live one: a live
// server holds its lock in <data>/instances/. A document changed by
// another server is read anew by Reload when that server's news arrives.
//
// A deleted document goes to the trash (<data>/trash) by one rename of its
// item file to the same section folders there, named
// "<key>_<seconds>_<user>": when and by whom travel in the name, so the
// one rename that moves the item records them too, and a killed server
// leaves every document either listed or in the trash. A restore renames
// it back; the header is untouched, so key and description are as before.
//
// What the server derives from a document lives in <data>/extra/<key>/,
// one file per kind ("owner" for the uploader's name); the key never
// changes, so trash and restore need not touch it.
#include "serve_store.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <map>
#include <ostream>
#include <random>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vxkernel/cache/KFileCache.h"
#include "vxkernel/cache/KFileCacheDesc.h"
#include "vxkernel/cache/KVXClientCacheItem.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/threads/KMutex.h"

namespace fs = std::filesystem;

namespace serve {

namespace {

constexpr unsigned long kSections = 16, kSubsections = 16;

KDateTime DateOf(int64_t secondsUtc) {
  CivilTime c = CivilOf(secondsUtc);
  KDateTime d;
  d.SetDate(c.year, static_cast<int>(c.month), static_cast<int>(c.day), static_cast<int>(c.hour),
            static_cast<int>(c.minute), static_cast<int>(c.second));
  return d;
}

int64_t SecondsOf(const KDateTime& d) {
  using namespace std::chrono;
  sys_days day{year{d.Year()} / month{static_cast<unsigned>(d.Month())} / static_cast<unsigned>(d.Day())};
  return day.time_since_epoch().count() * int64_t{86400} + d.Hour() * 3600 + d.Minute() * 60 + d.Second();
}

DocInfo InfoOf(const KVXClientCacheItem& item, const std::string& key) {
  DocInfo d;
  d.key = key;
  d.type = item.ContentType();
  d.name = item.DocName();
  d.title = item.DocType();
  d.note = item.DocCreator();
  d.size = static_cast<int64_t>(item.DocSize());
  d.uploaded = SecondsOf(item.DocCreatedDate());
  return d;
}

// The cache takes an empty stream or file for a failed read and stores
// nothing from it, so a document of 0 bytes goes in as its header and an
// empty text, whose write completes the item without a byte. Then the
// fields are as the header keeps them (texts may be cut), as after StoreDoc.
bool StoreEmpty(KFileCache& cache, KVXClientCacheItem& fields, const std::string& key) {
  void* handle = cache.Create(key, fields.TmpNameId());
  if (handle == nullptr) return false;
  std::string header = fields.EncodeHeader();
  bool stored = cache.PutHeader(handle, header.data()) != 0 &&
                cache.StoreData(handle, reinterpret_cast<const unsigned char*>(""), 0) != 0;
  if (cache.Release(handle) == 0 || !stored) return false;
  return fields.DecodeHeader(header.data(), static_cast<unsigned long>(header.size()));
}

// The trashed file's name; the user names of the accounts are file-name
// safe (A-Z a-z 0-9 . _ -).
std::string TrashName(const std::string& key, int64_t deleted, const std::string& user) {
  return key + "_" + std::to_string(deleted) + "_" + user;
}

bool ParseTrashName(const std::string& name, std::string* key, int64_t* deleted, std::string* user) {
  size_t second = name.find('_', 17);
  if (name.size() < 19 || name[16] != '_' || second == std::string::npos || second == 17 ||
      second + 1 == name.size())
    return false;
  *key = name.substr(0, 16);
  std::string digits = name.substr(17, second - 17);
  if (!ValidKey(*key) || digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *deleted = std::stoll(digits);
  *user = name.substr(second + 1);
  return true;
}

// The description in a trashed file's header; false when it has none.
// The number in this instance's cache temporaries ("~<id>_<key>"): FNV-1a
// of the name, kept positive and apart from 0 (which would mean the pid).
unsigned long TempId(const std::string& instance) {
  uint32_t h = 2166136261u;
  for (unsigned char c : instance) h = (h ^ c) * 16777619u;
  return (h & 0x7fffffffu) | 1u;
}

// The instances whose servers run now: those whose lock in
// <data>/instances/ another process holds. Called after the temporaries
// were listed: a server takes its lock before it makes a temporary, so one
// that starts meanwhile has none on the list.
std::set<std::string> LiveInstances(const fs::path& data, const std::string& self) {
  std::set<std::string> live;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(data / "instances", ec)) {
    std::string name = e.path().filename().string();
    if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".lock") != 0) continue;
    name.resize(name.size() - 5);
    if (name == self) continue;
    int fd = open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    if (flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) live.insert(name);
    close(fd);  // gives back the lock, if it was free
  }
  return live;
}

// Removes what killed servers left: the cache temporaries ("~<id>_<key>")
// and the folders in <data>/tmp/ of every server not running now (this one
// included: it is starting). How many were removed.
long SweepTemporaries(const fs::path& data, const fs::path& cache, const std::string& self) {
  std::error_code ec;
  std::vector<fs::path> temps, folders;
  for (const auto& e : fs::recursive_directory_iterator(cache, ec))
    if (e.path().filename().string().rfind('~', 0) == 0) temps.push_back(e.path());
  for (const auto& e : fs::directory_iterator(data / "tmp", ec)) folders.push_back(e.path());
  std::set<std::string> live = LiveInstances(data, self);
  std::set<std::string> liveIds;
  for (const std::string& name : live) liveIds.insert("~" + std::to_string(TempId(name)) + "_");
  long swept = 0;
  for (const fs::path& p : temps) {
    std::string name = p.filename().string();
    if (liveIds.count(name.substr(0, name.find('_') + 1)) == 0 && fs::remove(p, ec)) ++swept;
  }
  for (const fs::path& p : folders) {
    if (live.count(p.filename().string()) != 0) continue;
    bool folder = fs::is_directory(p, ec);
    uintmax_t n = fs::remove_all(p, ec);
    if (n != static_cast<uintmax_t>(-1)) swept += static_cast<long>(n) - (folder && n > 0 ? 1 : 0);
  }
  return swept;
}

bool ReadTrashed(const fs::path& file, const std::string& key, DocInfo* info) {
  char header[KVXClientCacheItem::kHeaderBytes];
  std::ifstream in(file, std::ios::binary);
  if (!in.read(header, sizeof header)) return false;
  KVXClientCacheItem item(nullptr, key, 0);
  if (!item.DecodeHeader(header, sizeof header)) return false;
  *info = InfoOf(item, key);
  return true;
}

}  // namespace

struct Store::Impl {
  mutable KMutex lock;
  std::atomic<uint64_t> generation{0};
  // The lock for a change of index; the change is counted.
  KMutex& Change() VXK_RETURN_CAPABILITY(lock) {
    ++generation;
    return lock;
  }
  std::unique_ptr<KFileCache> cache;  // shared without a lock: one handle per item
  fs::path data, root, tmp, trashRoot, extra;
  unsigned long tempId = 0;  // of this instance's cache temporaries
  std::map<std::string, DocInfo> index VXK_GUARDED_BY(lock);
  struct Trashed {
    TrashInfo info;
    fs::path file;  // under trashRoot
  };
  std::map<std::string, Trashed> trash;
  long swept = 0;
  std::mt19937_64 random VXK_GUARDED_BY(lock) = std::mt19937_64(std::random_device{}());
};

Store::Store() : fImpl(new Impl) {}
Store::~Store() = default;

bool Store::Open(const std::string& dataDir, const std::string& instance, std::string* error) {
  KLockGuard g(fImpl->lock);
  std::error_code ec;
  fImpl->data = fs::path(dataDir);
  fImpl->root = fs::path(dataDir) / "cache";
  fImpl->tmp = fs::path(dataDir) / "tmp" / instance;
  // Before the folders are made: this server's own folder is swept whole.
  fImpl->swept = SweepTemporaries(fImpl->data, fImpl->root, instance);
  fImpl->tempId = TempId(instance);
  fImpl->trashRoot = fs::path(dataDir) / "trash";
  fImpl->extra = fs::path(dataDir) / "extra";
  for (const fs::path& dir : {fImpl->root, fImpl->tmp, fImpl->trashRoot, fImpl->extra}) {
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) {
      *error = "cannot make the folders under " + dataDir;
      return false;
    }
  }
  fImpl->cache.reset(new KFileCache({fImpl->root.string() + "/"}, kSections, kSubsections,
                                    KVXClientCacheItem::kHeaderBytes, 0));
  fImpl->index.clear();
  for (const auto& e : fs::recursive_directory_iterator(fImpl->root, ec)) {
    std::string key = e.path().filename().string();
    if (!e.is_regular_file() || !ValidKey(key)) continue;
    KVXClientCacheItem item(fImpl->cache.get(), key, 0);
    if (!item.Exists()) continue;
    DocInfo& doc = fImpl->index[key] = InfoOf(item, key);
    ReadExtra(key, "owner", &doc.owner);
  }
  fImpl->trash.clear();
  for (const auto& e : fs::recursive_directory_iterator(fImpl->trashRoot, ec)) {
    Impl::Trashed t;
    std::string key;
    if (e.is_regular_file() && ParseTrashName(e.path().filename().string(), &key, &t.info.deleted, &t.info.by) &&
        ReadTrashed(e.path(), key, &t.info.doc)) {
      t.file = e.path();
      ReadExtra(key, "owner", &t.info.doc.owner);
      fImpl->trash[key] = t;
    }
  }
  return true;
}

std::string Store::TempDir() const { return fImpl->tmp.string() + "/"; }

bool Store::Add(const std::string& path, DocInfo* info, int* error) {
  {
    KLockGuard g(fImpl->lock);
    char text[17];
    do std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(fImpl->random()));
    while (fImpl->index.count(text) != 0 || fImpl->trash.count(text) != 0);
    info->key = text;
  }
  if (info->size < 0 || info->size > int64_t{0xFFFFFFFF}) {  // the header's size is 32 bits
    *error = EFBIG;
    return false;
  }
  const bool empty = info->size == 0;
  KVXClientCacheItem item(empty ? nullptr : fImpl->cache.get(), info->key, fImpl->tempId);
  item.ContentType(info->type);
  item.DocName(info->name);
  item.DocType(info->title);
  item.DocCreator(info->note);
  item.DocSize(static_cast<unsigned long>(info->size));
  item.DocCreatedDate(DateOf(info->uploaded));
  item.DocModifiedDate(DateOf(info->uploaded));
  std::string owner = info->owner;
  if (!owner.empty() && !WriteExtra(info->key, "owner", owner, error)) return false;
  if (!(empty ? StoreEmpty(*fImpl->cache, item, info->key) : item.AdoptDoc(path.c_str()) != 0)) {
    fs::remove_all(fImpl->extra / info->key);
    // The cache reports no reason, and its clean-up after a failed write
    // sets errno anew. The temporary is gone by now, so a document that
    // still does not fit is the honest sign of a full disk.
    int64_t free = FreeBytes(fImpl->root.string());
    *error = free >= 0 && free < info->size + int64_t{KVXClientCacheItem::kHeaderBytes} ? ENOSPC : EIO;
    return false;
  }
  *info = InfoOf(item, info->key);  // as the header keeps it (texts may be cut)
  info->owner = owner;
  std::error_code ec;
  fs::remove(path, ec);
  KLockGuard g(fImpl->Change());
  fImpl->index[info->key] = *info;
  return true;
}

std::vector<DocInfo> Store::List(const std::unordered_set<std::string>* only) const {
  std::vector<DocInfo> list;
  {
    KLockGuard g(fImpl->lock);
    list.reserve(only == nullptr ? fImpl->index.size() : std::min(only->size(), fImpl->index.size()));
    for (const auto& kv : fImpl->index)
      if (only == nullptr || only->count(kv.first) != 0) list.push_back(kv.second);
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const DocInfo& a, const DocInfo& b) { return a.uploaded > b.uploaded; });
  return list;
}

bool Store::Find(const std::string& key, DocInfo* info) const {
  KLockGuard g(fImpl->lock);
  auto it = fImpl->index.find(key);
  if (it == fImpl->index.end()) return false;
  *info = it->second;
  return true;
}

bool Store::Visit(const std::string& key, const std::function<void(const DocInfo&)>& use) const {
  KLockGuard g(fImpl->lock);
  auto it = fImpl->index.find(key);
  if (it == fImpl->index.end()) return false;
  use(it->second);
  return true;
}

bool Store::OpenData(const std::string& key, int* fd, int64_t* offset, int64_t* length) const {
  // Its own descriptor: a delete or replacement meanwhile leaves these
  // bytes readable until the answer is sent.
  *fd = fImpl->cache->OpenData(key, offset, length);
  return *fd >= 0;
}

bool Store::Remove(const std::string& key) {
  KLockGuard g(fImpl->Change());
  auto it = fImpl->index.find(key);
  if (it == fImpl->index.end()) return false;
  fImpl->cache->Delete(key, "");
  fImpl->index.erase(it);
  std::error_code ec;
  fs::remove_all(fImpl->extra / key, ec);
  return true;
}

bool Store::Trash(const std::string& key, const std::string& user, int64_t now, int* error) {
  KLockGuard g(fImpl->Change());
  auto it = fImpl->index.find(key);
  void* handle = it != fImpl->index.end() ? fImpl->cache->Open(key) : nullptr;
  if (handle == nullptr) {
    *error = ENOENT;
    return false;
  }
  fs::path home = static_cast<KFileCacheDesc*>(handle)->fPath;
  fImpl->cache->Release(handle);
  fs::path dir = fImpl->trashRoot / home.parent_path().lexically_relative(fImpl->root);
  fs::path file = dir / TrashName(key, now, user);
  std::error_code ec;
  fs::create_directories(dir, ec);
  fs::rename(home, file, ec);
  if (ec) {
    *error = ec.value();
    return false;
  }
  fImpl->trash[key] = Impl::Trashed{TrashInfo{it->second, now, user}, file};
  fImpl->index.erase(it);
  return true;
}

bool Store::Restore(const std::string& key, DocInfo* info, int* error) {
  KLockGuard g(fImpl->Change());
  auto it = fImpl->trash.find(key);
  if (it == fImpl->trash.end()) {
    *error = ENOENT;
    return false;
  }
  fs::path dir = fImpl->root / it->second.file.parent_path().lexically_relative(fImpl->trashRoot);
  std::error_code ec;
  fs::create_directories(dir, ec);
  // rename would replace an item made meanwhile under the key; new keys
  // avoid the trash's, so this is a hand-made file.
  if (fs::exists(dir / key, ec)) {
    *error = EEXIST;
    return false;
  }
  fs::rename(it->second.file, dir / key, ec);
  if (ec) {
    *error = ec.value();
    return false;
  }
  *info = it->second.info.doc;
  fImpl->index[key] = *info;
  fImpl->trash.erase(it);
  return true;
}

std::vector<TrashInfo> Store::TrashList(int64_t since) const {
  std::vector<TrashInfo> list;
  {
    KLockGuard g(fImpl->lock);
    for (const auto& kv : fImpl->trash)
      if (kv.second.info.deleted >= since) list.push_back(kv.second.info);
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const TrashInfo& a, const TrashInfo& b) { return a.deleted > b.deleted; });
  return list;
}

std::vector<TrashInfo> Store::SweepTrash(int64_t before) {
  KLockGuard g(fImpl->lock);
  std::vector<TrashInfo> removed;
  for (auto it = fImpl->trash.begin(); it != fImpl->trash.end();) {
    std::error_code ec;
    // A file that cannot be removed stays listed and is tried again.
    if (it->second.info.deleted > before || (!fs::remove(it->second.file, ec) && ec)) {
      ++it;
      continue;
    }
    fs::remove_all(fImpl->extra / it->first, ec);
    removed.push_back(it->second.info);
    it = fImpl->trash.erase(it);
  }
  return removed;
}

uint64_t Store::Generation() const { return fImpl->generation; }

Store::Figures Store::Stats() const {
  KLockGuard g(fImpl->lock);
  Figures f;
  f.documents = static_cast<long>(fImpl->index.size());
  for (const auto& kv : fImpl->index) f.bytes += kv.second.size;
  f.swept = fImpl->swept;
  f.trashed = static_cast<long>(fImpl->trash.size());
  return f;
}

bool Store::ShowTitle(const std::string& key, const std::string& title) {
  KLockGuard g(fImpl->Change());
  auto listed = fImpl->index.find(key);
  auto trashed = fImpl->trash.find(key);
  DocInfo* doc = listed != fImpl->index.end()    ? &listed->second
                 : trashed != fImpl->trash.end() ? &trashed->second.info.doc
                                                 : nullptr;
  if (doc == nullptr || !doc->title.empty()) return false;
  doc->title = title;
  return true;
}

Store::State Store::Reload(const std::string& key, const std::string& trashed, bool* known) {
  if (!ValidKey(key)) return State::kGone;
  KVXClientCacheItem item(fImpl->cache.get(), key, 0);
  DocInfo doc;
  Impl::Trashed t;
  std::string owner, named;
  State state = State::kGone;
  // The path comes from the folder, not from a client, but stays inside
  // the trash all the same.
  bool inTrash = trashed.rfind("trash/", 0) == 0 && trashed.find("..") == std::string::npos;
  if (item.Exists()) {
    doc = InfoOf(item, key);
    state = State::kListed;
  } else if (inTrash && ParseTrashName(fs::path(trashed).filename().string(), &named, &t.info.deleted, &t.info.by) &&
             named == key && ReadTrashed(fImpl->data / trashed, key, &t.info.doc)) {
    t.file = fImpl->data / trashed;
    state = State::kTrashed;
  }
  if (state != State::kGone) ReadExtra(key, "owner", &owner);
  KLockGuard g(fImpl->Change());
  auto listed = fImpl->index.find(key);
  auto gone = fImpl->trash.find(key);
  if (known != nullptr) *known = listed != fImpl->index.end() || gone != fImpl->trash.end();
  // A title derived in memory (ShowTitle) stays with the document.
  std::string shown = listed != fImpl->index.end() ? listed->second.title
                      : gone != fImpl->trash.end() ? gone->second.info.doc.title
                                                   : "";
  if (listed != fImpl->index.end()) fImpl->index.erase(listed);
  if (gone != fImpl->trash.end()) fImpl->trash.erase(gone);
  if (state == State::kListed) {
    doc.owner = owner;
    if (doc.title.empty()) doc.title = shown;
    fImpl->index[key] = doc;
  } else if (state == State::kTrashed) {
    t.info.doc.owner = owner;
    if (t.info.doc.title.empty()) t.info.doc.title = shown;
    fImpl->trash[key] = t;
  }
  return state;
}

std::string Store::TrashedPath(const std::string& key) const {
  KLockGuard g(fImpl->lock);
  auto it = fImpl->trash.find(key);
  return it == fImpl->trash.end() ? "" : it->second.file.lexically_relative(fImpl->data).string();
}

std::string Store::ExtraPath(const std::string& key, const std::string& kind) const {
  return (fImpl->extra / key / kind).string();
}

bool Store::WriteExtra(const std::string& key, const std::string& kind, const std::string& bytes, int* error) {
  std::error_code ec;
  fs::create_directories(fImpl->extra / key, ec);
  std::string path = ExtraPath(key, kind);
  std::string temp = path + ".tmp";
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  int err = out ? 0 : errno != 0 ? errno : EIO;
  out.close();
  if (err == 0 && !out) err = errno != 0 ? errno : EIO;
  if (err == 0 && std::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err == 0) return true;
  fs::remove(temp, ec);
  *error = err;
  return false;
}

bool Store::ReadExtra(const std::string& key, const std::string& kind, std::string* bytes) const {
  std::ifstream in(ExtraPath(key, kind), std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int64_t FreeBytes(const std::string& dir) {
  struct statvfs fs {};
  if (statvfs(dir.c_str(), &fs) != 0) return -1;
  return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}

}  // namespace serve
