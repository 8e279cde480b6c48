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

/// The writing context of one pass: the stack of container values being
/// written (owned copies), so that a container met again inside itself is
/// written as a back-reference. One per pass, on the writing thread.
class VXKERNEL_EXPORT KQSClassFormatter {
 public:
  KQSClassFormatter() = default;
  KQSClassFormatter(const KQSClassFormatter&) = delete;
  KQSClassFormatter& operator=(const KQSClassFormatter&) = delete;
  /// Destroys the copies still on the stack.
  ~KQSClassFormatter();

  /// Pushes a copy of v.
  void Push(const KQSValue& v);
  /// Pops and destroys the top copy; nothing on an empty stack.
  void Pop();
  /// 1-based position, counted from the bottom, of the topmost entry with
  /// v's class and data word (identity, not equality); 0 when absent.
  long Lookup(const KQSValue& v) const;

  /// Option bits for the pass, 0 unless set. The library's writers do not
  /// read them; hosts' classes may use them for options of their own.
  ///@{
  unsigned long Mask() const { return fMask; }
  void Mask(unsigned long m) { fMask = m; }
  ///@}

 private:
  KStack fStack;
  unsigned long fMask = 0;
};

/// The reading options of one pass of the value text reader: how the bytes
/// of a String are grouped into characters. Without a cracker the reader
/// follows the process's text settings. A plain value; one per pass.
class VXKERNEL_EXPORT KQSClassCracker {
 public:
  /// Whether quoted text is multi-byte (lead and trail bytes of the
  /// process's double-byte code page read together); used when UseCodePage
  /// is off, in place of the process setting, and ignored when the
  /// process's text is UTF-8. Off by default.
  ///@{
  bool IsMultiByte() const { return fIsMultiByte; }
  void IsMultiByte(bool b) { fIsMultiByte = b; }
  ///@}
  /// Whether CodePage decides the grouping instead. Off by default.
  ///@{
  bool UseCodePage() const { return fUseCodePage; }
  void UseCodePage(bool b) { fUseCodePage = b; }
  ///@}
  /// The code page of quoted text when UseCodePage is on: UTF-8 (65001), a
  /// double-byte code page, or any other for single bytes. 0 unless set.
  ///@{
  unsigned CodePage() const { return fCodePage; }
  void CodePage(unsigned cp) { fCodePage = cp; }
  ///@}

 private:
  bool fIsMultiByte = false;
  bool fUseCodePage = false;
  unsigned fCodePage = 0;
};

#endif  // VXKERNEL_CLASSES_KQSCLASSFORMATTER_H_
