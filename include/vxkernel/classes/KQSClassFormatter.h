/// \file
/// The contexts of one text or binary pass over values.
///
/// KQSClassFormatter keeps the container values being written, so that a
/// container that holds itself is written as a back-reference instead of
/// recursing; it owns copies of them. KQSClassCracker carries the reading
/// options. Both belong to the one thread doing the pass.
#ifndef VXKERNEL_CLASSES_KQSCLASSFORMATTER_H_
#define VXKERNEL_CLASSES_KQSCLASSFORMATTER_H_

#include "vxkernel/export.h"
#include "vxkernel/text/KStack.h"

class KQSValue;

class VXKERNEL_EXPORT KQSClassFormatter {
 public:
  KQSClassFormatter() = default;
  KQSClassFormatter(const KQSClassFormatter&) = delete;
  KQSClassFormatter& operator=(const KQSClassFormatter&) = delete;
  ~KQSClassFormatter();

  /// Pushes a copy of v.
  void Push(const KQSValue& v);
  /// Pops and destroys the top copy; nothing on an empty stack.
  void Pop();
  /// 1-based position, counted from the bottom, of the topmost entry with
  /// v's class and data word (identity, not equality); 0 when absent.
  long Lookup(const KQSValue& v) const;

  unsigned long Mask() const { return fMask; }
  void Mask(unsigned long m) { fMask = m; }

 private:
  KStack fStack;
  unsigned long fMask = 0;
};

class VXKERNEL_EXPORT KQSClassCracker {
 public:
  bool IsMultiByte() const { return fIsMultiByte; }
  void IsMultiByte(bool b) { fIsMultiByte = b; }
  bool UseCodePage() const { return fUseCodePage; }
  void UseCodePage(bool b) { fUseCodePage = b; }
  unsigned CodePage() const { return fCodePage; }
  void CodePage(unsigned cp) { fCodePage = cp; }

 private:
  bool fIsMultiByte = false;
  bool fUseCodePage = false;
  unsigned fCodePage = 0;
};

#endif  // VXKERNEL_CLASSES_KQSCLASSFORMATTER_H_
