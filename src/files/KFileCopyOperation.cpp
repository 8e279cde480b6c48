#include "vxkernel/files/KFileCopyOperation.h"

#include <new>

#include "base/debug_line.h"
#include "files/files_internal.h"
#include "vxkernel/files/KDir.h"
#include "vxkernel/files/pcfile.h"

KFileCopyOperation::KFileCopyOperation()
    : fBlockSize(0),
      fNumBlocks(0),
      fCurrentBlock(1),
      fBuffer(nullptr),
      fSourceStream(nullptr),
      fDestinationStream(nullptr),
      fCheckSpace(0) {}

KFileCopyOperation::~KFileCopyOperation() { CopyEnd(); }

KFileCopyOperation::CopyError KFileCopyOperation::Fail(CopyError code, const char* what,
                                                       const KFile& file) {
  vxk_internal::DebugLine("KFileCopyOperation::CopyStart", what,
                          static_cast<const char*>(file.FullName()));
  return code;
}

KFileCopyOperation::CopyError KFileCopyOperation::CopyStart(const KFile& source,
                                                            const KFile& destination,
                                                            long blockSize,
                                                            unsigned char checkSpace) {
  CopyEnd();
  fSource = source;
  fDestination = destination;
  fBlockSize = blockSize;
  fCurrentBlock = 1;
  fNumBlocks = 0;
  fCheckSpace = checkSpace;
  if (blockSize <= 0) {
    vxk_internal::DebugLine("KFileCopyOperation::CopyStart",
                            "block size must be positive: ", blockSize);
    return kNoBuffer;
  }
  const int64_t size = source.Size();
  // Rounded up without adding to size: a block size near LONG_MAX would
  // overflow the sum.
  fNumBlocks = static_cast<long>(size / blockSize + (size % blockSize != 0 ? 1 : 0));
  fBuffer = new (std::nothrow) unsigned char[static_cast<size_t>(blockSize)];
  if (fBuffer == nullptr) {
    vxk_internal::DebugLine("KFileCopyOperation::CopyStart", "no buffer of ", blockSize, " bytes");
    return kNoBuffer;
  }
  if (!source.Exists()) return Fail(kSourceMissing, "source does not exist: ", source);
  if (source.IsDir()) return Fail(kSourceIsDirectory, "source is a directory: ", source);
  KFile target = destination;
  if (destination.IsDirSpec() || destination.IsDir()) {
    target = KFile();
    target.PathName(destination.IsDirSpec() ? destination.PathName() : destination.FullName());
    target.FileName(source.ShortName());
  }
  fDestination = target;
  const KDir targetDir(static_cast<const char*>(target.PathName()));
  if (!targetDir.IsDir()) return Fail(kDestinationDirMissing, "no directory for ", target);
  if (target.Exists()) return Fail(kDestinationExists, "destination exists: ", target);
  if (checkSpace) {
    const uint64_t free = targetDir.FreeSpaceBytes();
    if (free != ~uint64_t{0} && free < static_cast<uint64_t>(size))
      return Fail(kNoSpace, "not enough free space for ", target);
  }
  if (!target.Create()) return Fail(kDestinationNotOpened, "could not create ", target);
  fSourceStream = vxk_internal::OpenRegularFile(source.FullName(), "rb");
  if (fSourceStream == nullptr) return Fail(kSourceNotOpened, "could not open ", source);
  fDestinationStream = c_pc_fopen(target.FullName(), "wb");
  if (fDestinationStream == nullptr) {
    std::fclose(fSourceStream);
    fSourceStream = nullptr;
    return Fail(kDestinationNotOpened, "could not open ", target);
  }
  return kOk;
}

KFileCopyOperation::CopyError KFileCopyOperation::CopyContinue() {
  if (fCurrentBlock > fNumBlocks || fSourceStream == nullptr || fDestinationStream == nullptr)
    return kNoMoreBlocks;
  const size_t got = std::fread(fBuffer, 1, static_cast<size_t>(fBlockSize), fSourceStream);
  if (got == 0) return kNoMoreBlocks;
  // Flushed per block, so a full disk shows here and not only when closing.
  if (std::fwrite(fBuffer, 1, got, fDestinationStream) != got ||
      std::fflush(fDestinationStream) != 0) {
    vxk_internal::DebugLine("KFileCopyOperation::CopyContinue", "block ", fCurrentBlock,
                            " not written to ", static_cast<const char*>(fDestination.FullName()));
    return kShortWrite;
  }
  ++fCurrentBlock;
  return kOk;
}

KFileCopyOperation::CopyError KFileCopyOperation::CopyEnd() {
  CopyError result = kOk;
  if (fSourceStream != nullptr) std::fclose(fSourceStream);
  if (fDestinationStream != nullptr && std::fclose(fDestinationStream) != 0) {
    vxk_internal::DebugLine("KFileCopyOperation::CopyEnd", "could not complete ",
                            static_cast<const char*>(fDestination.FullName()));
    result = kShortWrite;
  }
  fSourceStream = nullptr;
  fDestinationStream = nullptr;
  delete[] fBuffer;
  fBuffer = nullptr;
  return result;
}
