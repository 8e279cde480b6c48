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
}  // namespace

KVXClientCacheItem::KVXClientCacheItem(KCache* cache, const std::string& key,
                                       unsigned long tmpNameId)
    : fKey(key),
      fTmpNameId(static_cast<uint32_t>(tmpNameId != 0 ? tmpNameId : port::ProcessId())),
      fCache(cache) {
  fDateLastVerified.Now();
  FindItem(0);
}

KVXClientCacheItem::~KVXClientCacheItem() { ReleaseHandle(); }

KVXClientCacheItem::KVXClientCacheItem(KVXClientCacheItem&& other) noexcept : fCache(nullptr) {
  *this = std::move(other);
}

KVXClientCacheItem& KVXClientCacheItem::operator=(KVXClientCacheItem&& other) noexcept {
  if (this == &other) return *this;
  ReleaseHandle();
  fHeaderVersion = other.fHeaderVersion;
  fDocVersion = other.fDocVersion;
  fDocSize = other.fDocSize;
  fDocDataForkSize = other.fDocDataForkSize;
  fDocResourceForkSize = other.fDocResourceForkSize;
  fDocPlatform = other.fDocPlatform;
  fDateLastVerified = other.fDateLastVerified;
  fDocCreatedDate = other.fDocCreatedDate;
  fDocModifiedDate = other.fDocModifiedDate;
  fDocPublic = other.fDocPublic;
  fExpireInterval = other.fExpireInterval;
  fContentType = std::move(other.fContentType);
  fDocName = std::move(other.fDocName);
  fDocType = std::move(other.fDocType);
  fDocCreator = std::move(other.fDocCreator);
  fKey = std::move(other.fKey);
  fTmpNameId = other.fTmpNameId;
  fExists = other.fExists;
  fHandle = std::exchange(other.fHandle, nullptr);
  fCache = other.fCache;
  return *this;
}

void KVXClientCacheItem::ReleaseHandle() {
  if (fHandle != nullptr && fCache != nullptr) fCache->Release(fHandle);
  fHandle = nullptr;
}

unsigned char KVXClientCacheItem::FindItem(unsigned char mustExist) {
  if (fCache == nullptr) return 0;
  ReleaseHandle();
  fHandle = fCache->Open(fKey);
  if (fHandle != nullptr) {
    fExists = 1;
    if (fCache->HeaderSize() == kHeaderBytes) {
      char header[kHeaderBytes];
      if (fCache->GetHeader(fHandle, header, kHeaderBytes) != 0) DecodeHeader(header, kHeaderBytes);
    }
    return 1;
  }
  if (mustExist != 0) {
    DebugLine("KVXClientCacheItem::FindItem", "could not find file that must exist?");
    return 0;
  }
  fHandle = fCache->Create(fKey, fTmpNameId);
  return fHandle != nullptr ? 1 : 0;
}

unsigned char KVXClientCacheItem::DoDeleteFile(const char* type) {
  ReleaseHandle();
  auto* files = dynamic_cast<KFileCache*>(fCache);
  if (files == nullptr) return 0;
  return files->Delete(fKey, type != nullptr ? type : "");
}

unsigned char KVXClientCacheItem::DeleteFileA(const char* type) {
  unsigned char deleted = DoDeleteFile(type);
  fExists = 0;
  FindItem(0);
  return deleted;
}

// ===== Storing =====

bool KVXClientCacheItem::BeginStore(const char* family, const char* headerFailed) {
  // The old item stays readable until the new version is committed over it.
  if (fHandle != nullptr && fExists != 0 && fCache != nullptr) {
    ReleaseHandle();
    fHandle = fCache->Create(fKey, fTmpNameId);
    if (fHandle == nullptr) DebugLine(family, "could create a new item.");
  }
  if (fHandle == nullptr || fCache == nullptr) return false;
  if (UpdateDocHeader() == 0) {
    DebugLine(family, headerFailed);
    EndStore(false);
    return false;
  }
  return true;
}

unsigned char KVXClientCacheItem::EndStore(bool ok) {
  if (fHandle == nullptr || fCache == nullptr) return 0;
  if (ok) {
    // The release commits; a commit that fails (rename, sync) fails the
    // store, even though reopening would find the old item.
    unsigned char committed = fCache->Release(fHandle);
    fHandle = nullptr;
    if (committed != 0) return FindItem(1);
  }
  // A failed store discards its temporary file now; the old item, if any,
  // is still there and is opened again.
  ReleaseHandle();
  FindItem(0);
  return 0;
}

unsigned char KVXClientCacheItem::StoreDoc(std::istream& in) {
  if (!BeginStore(kStoreDoc, "could update item header.")) return 0;
  bool ok = in.good() && fCache->StoreData(fHandle, in, fDocSize) != 0;
  return EndStore(ok);
}

unsigned char KVXClientCacheItem::StoreDoc(const char* path) {
  if (!BeginStore(kStoreDoc, "could update item header.")) return 0;
  std::FILE* f = path != nullptr ? std::fopen(path, "rbe") : nullptr;
  if (f == nullptr) {
    DebugLine("KVXClientCacheItem::StoreDoc", "could not open file: ", path != nullptr ? path : "");
    return EndStore(false);
  }
  unsigned long stored = fCache->StoreData(fHandle, f, fDocSize);
  std::fclose(f);
  unsigned char result = EndStore(stored != ~0UL);
  // A failed store reopened the old item with its own size.
  if (result != 0) fDocSize = static_cast<uint32_t>(stored);
  return result;
}

unsigned char KVXClientCacheItem::StoreDoc(const KFile& file) {
  KString name = file.FullName();
  return StoreDoc(static_cast<const char*>(name));
}

unsigned char KVXClientCacheItem::StoreNForwardItem(std::istream& in, std::ostream& out) {
  if (!BeginStore(kStoreNForward, "could not update item header.")) return 0;
  return EndStore(fCache->StoreAndForwardData(fHandle, in, &out, fDocSize) != 0);
}

unsigned char KVXClientCacheItem::StoreNForwardItem(std::istream& in, std::FILE* out) {
  if (!BeginStore(kStoreNForward, "could not update item header.")) return 0;
  return EndStore(fCache->StoreAndForwardData(fHandle, in, out, fDocSize) != 0);
}

// ===== Forwarding =====

unsigned char KVXClientCacheItem::ForwardDoc(std::FILE* out, unsigned long offset,
                                             unsigned long length) const {
  if (fHandle == nullptr || fCache == nullptr || out == nullptr) return 0;
  return fCache->ForwardData(fHandle, out, offset, length);
}

unsigned char KVXClientCacheItem::ForwardDoc(std::ostream& out, unsigned long offset,
                                             unsigned long length) const {
  if (fHandle == nullptr || fCache == nullptr) return 0;
  return fCache->ForwardData(fHandle, out, offset, length);
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
  unsigned char ok = fCache->ForwardData(fHandle, f, offset, length);
  if (std::fclose(f) != 0) ok = 0;
  return ok;
}
