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
  /// What a step of the copy reports.
  enum CopyError : long {
    kOk = 0,                     ///< done; for CopyContinue: more blocks may follow
    kNoMoreBlocks = -1,          ///< the copy is complete (or was never started)
    kSourceMissing = -2,         ///< the source does not exist
    kSourceIsDirectory = -3,     ///< the source is a directory
    kDestinationDirMissing = -4, ///< the destination's directory does not exist
    kDestinationExists = -5,     ///< the destination file exists already
    kDestinationNotOpened = -6,  ///< the destination could not be created or opened
    kSourceNotOpened = -7,       ///< the source could not be opened
    kNoSpace = -9,               ///< checkSpace: the destination volume is too full
    kNoBuffer = -10,             ///< bad block size, or no memory for the block
    kShortWrite = -1000,         ///< a block did not reach the destination
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

  /// Bytes per block, as given to CopyStart.
  long BlockSize() const { return fBlockSize; }
  /// Blocks the source fills (its size divided by BlockSize, rounded up):
  /// the number of CopyContinue calls that give kOk. 0 before CopyStart.
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
