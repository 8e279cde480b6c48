/// \file
/// Associative arrays: KIQSValue, the key order, and KAssocVal, the storage
/// object of an Assoc value (class -18).
///
/// An Assoc maps keys to values in a 2-3 tree ordered by KIQSValue: String
/// keys compare without regard to case ("Name" and "NAME" are one key, which
/// keeps the spelling it was first added with), every other key by its
/// value's own order, and keys of different types by type number, so all
/// String keys come before all Integer keys. Absent keys read as the Assoc's
/// undefined value (Undefined unless set).
///
/// Thread rules: no locks. An Assoc, like every value storage, is used by one
/// thread at a time together with every value that holds it.
#ifndef VXKERNEL_VALUES_KASSOCVAL_H_
#define VXKERNEL_VALUES_KASSOCVAL_H_

#include <cstdint>
#include <iosfwd>
#include <utility>

#include "vxkernel/export.h"
#include "vxkernel/text/T23Tree.h"
#include "vxkernel/text/str.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

class KQSClassFormatter;

/// The key of an Assoc: one value with the Assoc order. A String key also
/// keeps its text pointer and its first seven bytes folded through toupper
/// (the folding str_cmpu applies), packed big-endian in one word: most
/// comparisons of two String keys are then one integer comparison on data
/// inside the key, and only keys that agree on their first seven bytes read
/// the text. The pointer stays valid because the key holds a reference to
/// the storage and String payloads never change. In double-byte text mode,
/// where str_cmpu compares characters rather than bytes, no prefix is kept
/// and every comparison calls str_cmpu. Not synchronized (a value).
class VXKERNEL_EXPORT KIQSValue {
 public:
  KIQSValue() noexcept = default;
  /// The key v, sharing v's storage; a String key gets its folded prefix.
  explicit KIQSValue(const KQSValue& v) : fValue(v), fText(TextOf(v)) {
    if (fText != nullptr) fFold = FoldPrefix(fText);
  }
  /// An Integer key.
  explicit KIQSValue(long i) : fValue(i) {}
  ///@{
  /// Copies share the value's storage; a moved-from key is Undefined.
  KIQSValue(const KIQSValue& other) = default;
  KIQSValue(KIQSValue&& other) noexcept
      : fValue(std::move(other.fValue)), fText(std::exchange(other.fText, nullptr)), fFold(other.fFold) {}
  KIQSValue& operator=(const KIQSValue& other) = default;
  KIQSValue& operator=(KIQSValue&& other) noexcept {
    if (this != &other) {
      fValue = std::move(other.fValue);
      fText = std::exchange(other.fText, nullptr);
      fFold = other.fFold;
    }
    return *this;
  }
  ///@}
  ~KIQSValue() = default;

  ///@{
  /// The key as a value, with the spelling it was made with; valid while the
  /// key lives.
  const KQSValue& Value() const { return fValue; }
  operator const KQSValue&() const { return fValue; }
  ///@}

  /// Two Strings are equal when they compare equal without regard to case
  /// (str_cmpu); other keys by KQSValue::operator==.
  bool operator==(const KIQSValue& other) const {
    if (fText == nullptr || other.fText == nullptr) return fValue == other.fValue;
    if (((fFold | other.fFold) & kNoFold) == 0) {
      if (fFold != other.fFold) return false;
      if ((fFold & kEnded) != 0 || fText == other.fText) return true;
      return str_cmpu(fText + kFoldBytes, other.fText + kFoldBytes) == 0;
    }
    return fText == other.fText || str_cmpu(fText, other.fText) == 0;
  }
  /// Two Strings without regard to case (str_cmpu); otherwise
  /// KQSValue::Compare with ignoreCase 0, so keys of different types order
  /// by type number.
  bool operator<(const KIQSValue& other) const {
    if (fText == nullptr || other.fText == nullptr) return Order(other) < 0;
    if (((fFold | other.fFold) & kNoFold) == 0) {
      // Equal prefixes carry equal flags, so the whole words order by the
      // prefix alone.
      if (fFold != other.fFold) return fFold < other.fFold;
      if ((fFold & kEnded) != 0) return false;
      return str_cmpu(fText + kFoldBytes, other.fText + kFoldBytes) < 0;
    }
    return str_cmpu(fText, other.fText) < 0;
  }
  /// The case-sensitive order of the two values (KQSValue::Compare with 0).
  int Compare(const KIQSValue& other) const { return fValue.Compare(other.fValue, 0); }

 private:
  /// fFold: folded bytes 0..6 in bits 63..8; the low byte holds flags.
  static constexpr int kFoldBytes = 7;
  static constexpr uint64_t kNoFold = 1;  ///< no prefix (double-byte mode)
  static constexpr uint64_t kEnded = 2;   ///< the text ends inside the prefix

  /// The text of a String value (never null), null for any other value.
  static const char* TextOf(const KQSValue& v) {
    if (!v.IsString()) return nullptr;
    const char* p = v;
    return p != nullptr ? p : "";
  }
  static uint64_t FoldPrefix(const char* text);
  /// The order of two keys that are not both Strings; total, so the tree
  /// stays sorted even for types that have no order of their own.
  int Order(const KIQSValue& other) const;

  KQSValue fValue;
  const char* fText = nullptr;  ///< String keys only
  uint64_t fFold = 0;           ///< String keys only
};

/// The storage object of an Assoc value: the pairs and the undefined value.
/// It owns its tree, and the tree owns copies of the keys and values (values
/// shared by reference as always). Values of class -18 are made with
/// KQSValue(short(-18), static_cast<void*>(new KAssocVal)), which adopts it.
/// Not synchronized: one thread at a time.
class VXKERNEL_EXPORT KAssocVal : public KQSValueBase {
 public:
  KAssocVal() = default;
  /// An empty Assoc whose absent keys read as undefinedValue.
  explicit KAssocVal(const KQSValue& undefinedValue) : fUndefinedValue(undefinedValue) {}
  ~KAssocVal() override;

  /// Inserts the pair, or replaces the value of an equal key; the stored key
  /// keeps its first spelling.
  void Add(const KQSValue& key, const KQSValue& value) { fTree.Add(KIQSValue(key), value); }
  /// The value of key, or the undefined value when absent.
  KQSValue operator[](const KQSValue& key) const;
  /// True and the value of key; false with value set to the undefined value.
  bool Get(const KQSValue& key, KQSValue& value) const;
  /// The n-th pair in key order (from 1); false with value set to the
  /// undefined value and key left unchanged.
  bool GetNth(long n, KQSValue& key, KQSValue& value) const;
  /// Removes the pair of key and returns its value, or the undefined value
  /// when there was none.
  KQSValue Delete(const KQSValue& key);
  ///@{
  /// New Lists of the keys, or of the values, in key order.
  KQSValue Keys() const;
  KQSValue Items() const;
  ///@}
  /// Adds every pair of other; its values win on equal keys.
  void Merge(const KAssocVal& other) { fTree.Merge(other.fTree); }
  /// Replaces every pair by the pairs of other and takes its undefined value.
  void Copy(const KAssocVal& other);
  ///@{
  /// What absent keys read as; Undefined unless set.
  const KQSValue& UndefinedValue() const { return fUndefinedValue; }
  void UndefinedValue(const KQSValue& v) { fUndefinedValue = v; }
  ///@}

  /// For a Record value (class -109): a new Assoc value whose keys are the
  /// record's column names and whose values are its columns (names equal
  /// without regard to case collapse, the later column winning). Any other
  /// value gives Undefined and one debug line.
  static KQSValue FromRecord(const KQSValue& record);
  /// A new Record whose column names are Keys() (String keys name their
  /// column, other keys leave it unnamed) and whose columns hold the values
  /// in key order.
  KQSValue ToRecord() const;

  /// The pairs themselves, for walks that need no copies.
  const T23Tree<KIQSValue, KQSValue>& Tree() const { return fTree; }

  // ----- storage operations, reached through the Assoc class -----
  /// The number of pairs.
  long Length() const override { return fTree.Length(); }
  /// The difference of the pair counts; for equal counts the first non-zero
  /// comparison of the pairs in key order, key first (case-sensitive), then
  /// value. other must be an Assoc's storage (otherwise identity order).
  int Compare(KQSValueBase* other) const override;
  /// Whether name is a key.
  bool IsFeature(const KQSValue& name) override;
  /// out := the value of name (or the undefined value); 0.
  long Dot(const KQSValue& name, KQSValue& out, KQSValue* env) override;
  /// Add(name, value); 0.
  long DotValuePut(const KQSValue& name, const KQSValue& value) override;
  /// For i == j: out := the value of the i-th pair in key order, or the
  /// undefined value; 0. For i != j: 0x26AD0017 with out unchanged and one
  /// debug line.
  long Subscript(long i, long j, KQSValue& out) override;
  /// Add with the Integer key i (j is ignored); 0.
  long SubscriptValuePut(long i, long j, const KQSValue& value) override;
  /// "A<1," undefined value "," key "=" value ... ">"; "[Assoc:n]" for an
  /// Assoc already being written by f.
  bool Formatter(std::ostream& out, KQSClassFormatter* f) const override;
  /// The address ("%lx\t"), then for mode 1 the String keys joined by ", ".
  KQSValue ReferenceDebugStr(short mode) override;

  /// Status of a Subscript with two different indices.
  static constexpr long kErrSubscriptTwoIndices = 0x26AD0017;

 private:
  T23Tree<KIQSValue, KQSValue> fTree;
  KQSValue fUndefinedValue;
  /// Set while Compare walks this Assoc, so that an Assoc reached again
  /// through its own values compares by identity instead of recursing.
  mutable bool fComparing = false;
};

#endif  // VXKERNEL_VALUES_KASSOCVAL_H_
