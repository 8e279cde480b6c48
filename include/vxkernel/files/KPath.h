/// \file
/// KPath: finding a file in the usual places.
#ifndef VXKERNEL_FILES_KPATH_H_
#define VXKERNEL_FILES_KPATH_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// A namespace-like class of one search. Holds nothing; safe from any thread.
class VXKERNEL_EXPORT KPath {
 public:
  /// The first existing file among: name made absolute; and, only for a name
  /// without "/", the start-up directory, the directory of libvxkernel.so,
  /// the directories of PATH, "/etc/" and "/usr/lib/", each followed by
  /// name. Candidates longer than 254 characters are skipped. Returns the
  /// candidate found, or an empty text. With log set, writes where it was
  /// found, or that it was not, to the debug stream.
  static KString Access(const KString& name, unsigned char log);
};

#endif  // VXKERNEL_FILES_KPATH_H_
