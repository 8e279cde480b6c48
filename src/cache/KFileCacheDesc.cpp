// The handle of one cache item: its stream and header buffer.
#include "vxkernel/cache/KFileCacheDesc.h"

#include <new>

KFileCacheDesc::KFileCacheDesc(const std::string& path, const std::string& target,
                               unsigned long headerSize)
    : fPath(path), fTarget(target), fHeaderSize(headerSize) {
  if (headerSize != 0) fHeader = new (std::nothrow) char[headerSize]();
}

KFileCacheDesc::~KFileCacheDesc() {
  if (fStream != nullptr && fStream != fTemp) std::fclose(fStream);
  if (fTemp != nullptr) std::fclose(fTemp);
  delete[] fHeader;
}
