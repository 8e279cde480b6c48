/// \file
/// KRZRow: the storage of Record (-109) values: one row of named columns.
///
/// A names row holds the column names themselves (Strings, or Undefined for
/// unnamed columns) and has no names of its own; a data row refers to a names
/// row through a Record value, so every row of a table (KRZTable.h) shares
/// the table's one names row.
///
/// Ownership: a row owns its values array and one reference to its names
/// Record. Records are ordinary reference-counted storage.
///
/// Thread rules: no locks. A Record and everything sharing it are used by
/// one thread at a time.
#ifndef VXKERNEL_VALUES_KRZROW_H_
#define VXKERNEL_VALUES_KRZROW_H_

#include <iosfwd>

#include "vxkernel/export.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

class KQSClass;
class KQSClassFormatter;

/// One Record: width values and the names they are known by. Column numbers
/// count from 1; names are matched without regard to case.
class VXKERNEL_EXPORT KRZRow : public KQSValueBase {
 public:
  /// What Dot answers (in the output value) for a name that is no column, and
  /// what DotValuePut returns for it: the catalogue's "no such feature".
  static constexpr long kNoSuchColumn = 0x26AD000F;
  /// What a subscript with an unusable index pair returns.
  static constexpr long kBadSubscript = 0x26AD0017;

  /// A names-less row (a names row) of width Undefined values.
  explicit KRZRow(long width);
  /// A data row. names must be a Record (shared as it is) or a List (a new
  /// names row is made holding the List's Strings at their positions); the
  /// width is the length of names. When values points at a List, its first
  /// elements become the values. Any other names gives width 0 and one debug
  /// line.
  KRZRow(const KQSValue& names, const KQSValue* values);
  ~KRZRow() override;

  ///@{
  /// The Record class object (-109), and a new Record value holding row
  /// (the value takes the first reference).
  static const KQSClass* RecordClass();
  static KQSValue MakeValue(KRZRow* row);
  ///@}
  /// The KRZRow inside a Record value; null for any other value.
  static KRZRow* FromValue(const KQSValue& v);

  // ===== Storage operations =====
  /// The width: a Record's length is its column count.
  long Length() const override { return fWidth; }
  /// True when name is a String naming a column.
  bool IsFeature(const KQSValue& name) override;
  /// The named column's value into out and 0; for an unknown name out becomes
  /// Error kNoSuchColumn, the result is still 0 and one debug line is written.
  long Dot(const KQSValue& name, KQSValue& out, KQSValue* env) override;
  /// Sets the named column and returns 0; kNoSuchColumn (and one debug line)
  /// for an unknown name.
  long DotValuePut(const KQSValue& name, const KQSValue& value) override;
  /// row[i] (the script passes i twice): column i, Undefined outside the row;
  /// two different indexes answer kBadSubscript and leave out unchanged.
  long Subscript(long i, long j, KQSValue& out) override;
  /// row[i] = value: 0 when column i exists, else kBadSubscript.
  long SubscriptValuePut(long i, long j, const KQSValue& value) override;
  /// "R<" name "=" value ("," ...) ">", or "[Record:" n "]" for a Record that
  /// is already being written further out.
  bool Formatter(std::ostream& out, KQSClassFormatter* f) const override;
  /// The column names joined with ", ".
  KQSValue ReferenceDebugStr(short how) override;

  // ===== Columns =====
  /// The column count, 0 or more.
  long Width() const { return fWidth; }
  /// True for a names row (one without a names Record of its own).
  bool IsNamesRow() const { return fNames.IsUndefined(); }
  /// The names Record; Undefined for a names row.
  const KQSValue& Names() const { return fNames; }
  /// A List of the column names (this row's own values for a names row).
  KQSValue ColNames() const;
  /// The highest column whose String name equals name without regard to
  /// case (str_cmpu); 0 when none.
  long GetColIndex(const char* name) const;
  /// Value i; Undefined outside 1..width.
  KQSValue GetColumn(long i) const;
  /// Sets value i; false outside 1..width.
  bool SetColumn(const KQSValue& v, long i);
  /// A List of the width values.
  KQSValue GetRow() const;
  /// For a List: its first min(width, length) elements become the values and
  /// the answer is true; anything else changes nothing and answers false.
  bool SetRow(const KQSValue& list);
  /// Copies the first min(n, width) values; a null array changes nothing.
  bool SetArray(long n, const KQSValue* array);
  ///@{
  /// The values array itself (width entries); a column change may move it.
  KQSValue* GetArray() { return fValues; }
  const KQSValue* GetArray() const { return fValues; }
  ///@}
  /// Most columns a row holds: as many values as 2^31 - 1 bytes hold.
  static constexpr long kMaxWidth = 0x7FFFFFFF / static_cast<long>(sizeof(KQSValue));

  /// Appends n Undefined columns; returns the new width. A width past
  /// kMaxWidth is refused: nothing changes, one debug line.
  long AddColumns(long n);
  /// AddColumns(n), under its older name.
  long AddColumn(long n) { return AddColumns(n); }
  /// Inserts n Undefined columns before column pos; returns pos. For pos
  /// outside 1..width + 1, or a width past kMaxWidth, nothing changes, one
  /// debug line is written and the result is 0.
  long InsertColumnAt(long pos, long n);
  /// Removes columns from..to when 1 <= from <= to <= width; otherwise
  /// nothing changes.
  void DeleteColumns(long from, long to);
  /// DeleteColumns(i, i).
  void DeleteColumn(long i) { DeleteColumns(i, i); }

 private:
  /// The row holding this row's names: itself for a names row, null when the
  /// names value is not a Record.
  const KRZRow* NamesRow() const;
  /// Makes room for n more columns, moving the values to a larger array
  /// when the capacity is short.
  void Grow(long n);

  KQSValue fNames;
  /// fCapacity slots; those from fWidth on are Undefined.
  KQSValue* fValues;
  long fWidth;
  long fCapacity;
};

#endif  // VXKERNEL_VALUES_KRZROW_H_
