// KVXClientCacheItem: finding, storing and forwarding one client document.
#include "vxkernel/cache/KVXClientCacheItem.h"

#include <cstdio>
#include <istream>
#include <ostream>
#include <utility>

#include "base/debug_line.h"
#include "port/port.h"
#include "vxkernel/cache/KFileCache.h"
#include "vxkernel/files/KFile.h"

using vxk_internal::DebugLine;

namespace {
const char kStoreDoc[] = "KVXClientCacheItem::StoreDoc";
const char kStoreNForward[] = "KVXClientCacheItem::StoreNForwardItem";
const char kAdoptDoc[] = "KVXClientCacheItem::AdoptDoc";
}  // namespace

KVXClientCacheItem::KVXClientCacheItem(KCache* cache, const std::string& key,
                                       unsigned long tmpNameId)
    : fKey(key),
      fTmpNameId(static_cast<uint32_t>(tmpNameId != 0 ? tmpNameId : port::ProcessId())),
      fCache(cache) {
  fDateLastVerified.Now();
  FindItem(0);
}

struct KVXClientCacheItem::HeldHandle {
  HeldHandle(KCache* c, bool t) : cache(c), temporary(t) {}
  HeldHandle(const HeldHandle&) = delete;
  HeldHandle& operator=(const HeldHandle&) = delete;
  ~HeldHandle() {
    if (handle != nullptr) cache->Release(handle);
  }

  KCache* const cache;
  const bool temporary;    // from Create: the item was not found
  void* handle = nullptr;  // null once released
};

// Copies and moves: the fields, and the handle shared (copy) or handed over
// (move) through fHandle.
KVXClientCacheItem::~KVXClientCacheItem() = default;
KVXClientCacheItem::KVXClientCacheItem(const KVXClientCacheItem& other) = default;
KVXClientCacheItem& KVXClientCacheItem::operator=(const KVXClientCacheItem& other) = default;
KVXClientCacheItem::KVXClientCacheItem(KVXClientCacheItem&& other) noexcept = default;
KVXClientCacheItem& KVXClientCacheItem::operator=(KVXClientCacheItem&& other) noexcept = default;

void* KVXClientCacheItem::Handle() const { return fHandle != nullptr ? fHandle->handle : nullptr; }

void KVXClientCacheItem::ReleaseHandle() { fHandle.reset(); }

bool KVXClientCacheItem::Hold(bool temporary) {
  // The holder comes first, so nothing is acquired when it cannot be made.
  auto held = std::make_shared<HeldHandle>(fCache, temporary);
  held->handle = temporary ? fCache->Create(fKey, fTmpNameId) : fCache->Open(fKey);
  if (held->handle == nullptr) return false;
  fHandle = std::move(held);
  return true;
}

unsigned char KVXClientCacheItem::FindItem(unsigned char mustExist) {
  if (fCache == nullptr) return 0;
  ReleaseHandle();
  if (Hold(false)) {
    fExists = 1;
    if (fCache->HeaderSize() == kHeaderBytes) {
      char header[kHeaderBytes];
      if (fCache->GetHeader(Handle(), header, kHeaderBytes) != 0)
        DecodeHeader(header, kHeaderBytes);
    }
    return 1;
  }
  if (mustExist != 0) {
    DebugLine("KVXClientCacheItem::FindItem", "could not find file that must exist?");
    return 0;
  }
  return Hold(true) ? 1 : 0;
}

unsigned char KVXClientCacheItem::DoDeleteFile(const char* type) {
  ReleaseHandle();
  auto* files = dynamic_cast<KFileCache*>(fCache);
  if (files == nullptr) return 0;
  return files->Delete(fKey, type != nullptr ? type : "");
}

unsigned char KVXClientCacheItem::DeleteFileA(const char* type) {
  unsigned char deleted = DoDeleteFile(type);
  FindItem(0);
  return deleted;
}

// ===== Storing =====

bool KVXClientCacheItem::BeginStore(const char* family, const char* headerFailed) {
  // The old item is not deleted: it stays readable until the new version is
  // committed over it. An item that counts as existing but holds a
  // temporary (after DeleteFileA) has no old item to replace, which is
  // where a store that deletes first would find nothing to delete. A store
  // needs a temporary of its own: a read handle, or a handle shared with a
  // copy, is let go for a new one.
  if (fHandle != nullptr && fCache != nullptr && (fExists != 0 || fHandle.use_count() > 1)) {
    if (fExists != 0 && fHandle->temporary) DebugLine(family, "could not delete old cache item.");
    ReleaseHandle();
    if (!Hold(true)) DebugLine(family, "could create a new item.");
  }
  if (fHandle == nullptr || fCache == nullptr) return false;
  if (headerFailed != nullptr && UpdateDocHeader() == 0) {
    DebugLine(family, headerFailed);
    EndStore(false);
    return false;
  }
  return true;
}

bool KVXClientCacheItem::EndStore(bool ok) {
  if (fHandle == nullptr || fCache == nullptr) return false;
  if (ok) {
    // The release commits (BeginStore made the handle this item's alone); a
    // commit that fails (rename, sync) fails the store, even though
    // reopening would find the old item.
    void* handle = std::exchange(fHandle->handle, nullptr);
    ReleaseHandle();
    if (fCache->Release(handle) != 0) return FindItem(1) != 0;
  }
  // A failed store discards its temporary file now; the old item, if any,
  // is still there and is opened again.
  ReleaseHandle();
  FindItem(0);
  return false;
}

unsigned char KVXClientCacheItem::StoreDoc(std::istream& in) {
  if (!BeginStore(kStoreDoc, "could update item header.")) return 0;
  bool ok = in.good() && fCache->StoreData(Handle(), in, fDocSize) != 0;
  return EndStore(ok);
}

unsigned char KVXClientCacheItem::StoreDoc(const char* path) {
  if (!BeginStore(kStoreDoc, "could update item header.")) return 0;
  std::FILE* f = path != nullptr ? std::fopen(path, "rbe") : nullptr;
  if (f == nullptr) {
    DebugLine("KVXClientCacheItem::StoreDoc", "could not open file: ", path != nullptr ? path : "");
    return EndStore(false);
  }
  unsigned long stored = fCache->StoreData(Handle(), f, fDocSize);
  std::fclose(f);
  const bool committed = EndStore(stored != ~0UL);
  // A failed store reopened the old item with its own size.
  if (committed) fDocSize = static_cast<uint32_t>(stored);
  return committed ? 1 : 0;
}

unsigned char KVXClientCacheItem::StoreDoc(const KFile& file) {
  KString name = file.FullName();
  return StoreDoc(static_cast<const char*>(name));
}

unsigned char KVXClientCacheItem::AdoptDoc(const char* path) {
  auto* files = dynamic_cast<KFileCache*>(fCache);
  if (files == nullptr || files->HeaderSize() != kHeaderBytes) {
    DebugLine(kAdoptDoc, "the cache cannot adopt a document file.");
    return 0;
  }
  // The header goes into the file's room, not into the temporary.
  if (!BeginStore(kAdoptDoc, nullptr)) return 0;
  const std::string header = EncodeHeader();
  if (files->AdoptFile(Handle(), path, header.data(), fDocSize) == 0) return EndStore(false);
  return EndStore(true);
}

unsigned char KVXClientCacheItem::StoreNForwardItem(std::istream& in, std::ostream& out) {
  if (!BeginStore(kStoreNForward, "could not update item header.")) return 0;
  return EndStore(fCache->StoreAndForwardData(Handle(), in, &out, fDocSize) != 0);
}

unsigned char KVXClientCacheItem::StoreNForwardItem(std::istream& in, std::FILE* out) {
  if (!BeginStore(kStoreNForward, "could not update item header.")) return 0;
  return EndStore(fCache->StoreAndForwardData(Handle(), in, out, fDocSize) != 0);
}

// ===== Forwarding =====

unsigned char KVXClientCacheItem::ForwardDoc(std::FILE* out, unsigned long offset,
                                             unsigned long length) const {
  if (fHandle == nullptr || fCache == nullptr || out == nullptr) return 0;
  return fCache->ForwardData(Handle(), out, offset, length);
}

unsigned char KVXClientCacheItem::ForwardDoc(std::ostream& out, unsigned long offset,
                                             unsigned long length) const {
  if (fHandle == nullptr || fCache == nullptr) return 0;
  return fCache->ForwardData(Handle(), out, offset, length);
}

unsigned char KVXClientCacheItem::ForwardDoc(const char* path, unsigned long offset,
                                             unsigned long length) const {
  if (fHandle == nullptr || fCache == nullptr) return 0;
  std::FILE* f = path != nullptr ? std::fopen(path, "w+be") : nullptr;
  if (f == nullptr) {
    DebugLine("KVXClientCacheItem::ForwardDoc",
              "could not open file: ", path != nullptr ? path : "");
    return 0;
  }
  unsigned char ok = fCache->ForwardData(Handle(), f, offset, length);
  if (std::fclose(f) != 0) ok = 0;
  return ok;
}
