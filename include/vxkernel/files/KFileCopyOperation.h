/// \file
/// KFileCopyOperation: a file copy done block by block.
#ifndef VXKERNEL_FILES_KFILECOPYOPERATION_H_
#define VXKERNEL_FILES_KFILECOPYOPERATION_H_

#include <cstdio>

#include "vxkernel/export.h"
#include "vxkernel/files/KFile.h"

/// Copies one file a block per CopyContinue call, so a caller can do other
/// work and show progress between blocks:
///   if (op.CopyStart(src, dst, 65536, 1) == 0)
///     while (op.CopyContinue() == 0) ShowProgress();
///   op.CopyEnd();
/// Owns its buffer and both streams from CopyStart to CopyEnd (or its
/// destruction). CopyEnd is safe after any CopyStart, failed or not, and a
/// second CopyStart ends the copy before. Not synchronized.
class VXKERNEL_EXPORT KFileCopyOperation {
 public:
  enum CopyError : long {
    kOk = 0,
    kNoMoreBlocks = -1,
    kSourceMissing = -2,
    kSourceIsDirectory = -3,
    kDestinationDirMissing = -4,
    kDestinationExists = -5,
    kDestinationNotOpened = -6,
    kSourceNotOpened = -7,
    kNoSpace = -9,
    kNoBuffer = -10,
    kShortWrite = -1000,
  };

  KFileCopyOperation();
  ~KFileCopyOperation();
  KFileCopyOperation(const KFileCopyOperation&) = delete;
  KFileCopyOperation& operator=(const KFileCopyOperation&) = delete;

  /// Opens source and a new destination file: destination itself, or, when
  /// destination is a directory, a file there named by the source's short
  /// name (without its type). A block size of 0 or less gives kNoBuffer.
  /// Each failure writes one debug line.
  CopyError CopyStart(const KFile& source, const KFile& destination, long blockSize,
                      unsigned char checkSpace);
  /// Copies the next block: kOk, kNoMoreBlocks when the copy is complete (or
  /// never started), kShortWrite when the block did not reach the file.
  CopyError CopyContinue();
  /// Closes both streams. kShortWrite when the destination could not be
  /// completed on closing; kOk otherwise.
  CopyError CopyEnd();

  long BlockSize() const { return fBlockSize; }
  long NumBlocks() const { return fNumBlocks; }

 private:
  CopyError Fail(CopyError code, const char* what, const KFile& file);

  KFile fSource;
  KFile fDestination;  ///< the target file after CopyStart
  long fBlockSize;
  long fNumBlocks;
  long fCurrentBlock;      ///< from 1
  unsigned char* fBuffer;  ///< owned, fBlockSize bytes
  std::FILE* fSourceStream;
  std::FILE* fDestinationStream;
  unsigned char fCheckSpace;
};

#endif  // VXKERNEL_FILES_KFILECOPYOPERATION_H_
