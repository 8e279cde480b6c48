/// \file
/// KRZTable: the storage of RecArray (-110) values, a table of Records
/// (KRZRow.h) that share one names row.
///
/// A KRZTable is an ordered chain of rows, each link holding one Record
/// value; a one-entry cache makes walking the table by increasing row number
/// cost one step per row.
///
/// Ownership: a table owns its links, each link one reference to its Record,
/// and one reference to its names Record. Records are ordinary reference-counted
/// storage: a Record taken out of a table outlives the table, and one Record
/// may sit in several tables.
///
/// Thread rules: no locks. A table, its Records and everything sharing them
/// are used by one thread at a time.
#ifndef VXKERNEL_VALUES_KRZTABLE_H_
#define VXKERNEL_VALUES_KRZTABLE_H_

#include <iosfwd>

#include "vxkernel/export.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"
#include "vxkernel/values/KRZRow.h"

class KQSClass;
class KQSClassFormatter;

/// One link of a table's row chain. Converting a link to a KRZRow pointer
/// gives its Record's storage (null when the row holds no Record), which is
/// what a Qsort comparison works with:
///   int ByFirst(const void* a, const void* b) {
///     KRZRow* ra = **static_cast<KRZTableRow* const*>(a); ...
struct VXKERNEL_EXPORT KRZTableRow {
  KRZTableRow* next = nullptr;  ///< the following row's link; null after the last
  KRZTableRow* prev = nullptr;  ///< the preceding row's link; null before the first
  KQSValue record;              ///< the row: a Record, or Undefined for an empty row

  /// The storage of record; null when the row holds no Record. Not owned.
  operator KRZRow*() const { return KRZRow::FromValue(record); }
};

/// An ordered table of Records sharing one names row. Row numbers count from
/// 1. Row positions are found through the chain, starting from the nearest of
/// the first row, the last row and the row found last.
class VXKERNEL_EXPORT KRZTable : public KQSValueBase {
 public:
  /// No columns, no rows.
  KRZTable();
  /// One column per element of the List names, holding the elements as they
  /// are.
  explicit KRZTable(const KQSValue& names);
  /// n columns named from the array (all unnamed for a null array).
  KRZTable(long n, const KQSValue* names);
  /// Shares other's names Record; no rows.
  explicit KRZTable(KRZTable* other);
  ~KRZTable() override;

  ///@{
  /// The RecArray class object (-110), and a new RecArray value holding table
  /// (the value takes the first reference).
  static const KQSClass* RecArrayClass();
  static KQSValue MakeValue(KRZTable* table);
  ///@}
  /// The KRZTable inside a RecArray value; null for any other value.
  static KRZTable* FromValue(const KQSValue& v);

  // ===== Storage operations =====
  /// The row count.
  long Length() const override { return fRows; }
  /// table[i]: the Record of row i; table[i, j] with i != j: the value in row
  /// i, column j. Undefined when there is none; always 0.
  long Subscript(long i, long j, KQSValue& out) override;
  /// table[i, j] = value (i != j) sets one value; table[i] = list sets row
  /// i's values. 0 on success, kBadSubscript otherwise.
  long SubscriptValuePut(long i, long j, const KQSValue& value) override;
  /// "V{<" names "><" row values ">" ... "}", or "[RecArray:" n "]" for a
  /// table already being written further out.
  bool Formatter(std::ostream& out, KQSClassFormatter* f) const override;
  /// "\tRecArray has <rows> records; ColNames: " and the names joined by ", ".
  KQSValue ReferenceDebugStr(short how) override;

  // ===== Columns =====
  /// The column count of the names row; 0 when the table has none.
  long Width() const;
  /// The names Record (shared, not copied).
  KQSValue Names() const { return fNames; }
  /// A new List of the column names (Strings, Undefined for unnamed
  /// columns); empty without a names row.
  KQSValue ColNames() const;
  /// The highest column whose String name equals name without regard to case
  /// (str_cmpu); 0 when none or for a null name.
  long GetColIndex(const char* name) const;
  /// Adds the String, or each String element of the List, that is not yet a
  /// column name, at the end; every row's Record grows as many Undefined
  /// columns. Returns the new width.
  long AddColumn(const KQSValue& nameOrList);
  /// Inserts a column named name at pos in the names row and an Undefined
  /// column at pos in every row, and returns pos. When a column of that name
  /// exists already, or pos is outside 1..width + 1, nothing changes and the
  /// result is 0 (the latter also writes one debug line).
  long InsertColumnAt(const KQSValue& name, long pos);
  /// Removes columns from..to from the names row and every row; false unless
  /// 1 <= from <= to <= width.
  bool DeleteColumns(long from, long to);
  /// DeleteColumns(i, i).
  bool DeleteColumn(long i) { return DeleteColumns(i, i); }
  /// Sets the name of column i (no check for duplicates); false outside
  /// 1..width.
  bool RenameColumn(long i, const char* name);

  // ===== Rows =====
  /// Inserts count rows before row pos (1..rows + 1). For a null values or a
  /// List each new row is a new Record with the table's names and the List's
  /// first values; for a Record each new row holds that very Record; any
  /// other values gives Undefined rows. Returns the first new row's value;
  /// Undefined when pos is out of range or count < 1.
  KQSValue InsertRowAt(long pos, long count, const KQSValue* values);
  /// InsertRowAt for one row after the last.
  KQSValue AddRow(const KQSValue* values) { return InsertRowAt(fRows + 1, 1, values); }
  /// InsertRowAt for count rows after the last.
  KQSValue AddRows(long count, const KQSValue* values) {
    return InsertRowAt(fRows + 1, count, values);
  }
  /// InsertRowAt with count first.
  KQSValue AddRowsAt(long count, long pos, const KQSValue* values) {
    return InsertRowAt(pos, count, values);
  }
  /// Appends one row; a Record argument is held as it is (shared, with its
  /// own names). Returns the argument.
  KQSValue AddRecord(const KQSValue& record);
  /// Removes the rows from..to that exist, starting at row from; true when at
  /// least one row went.
  bool DeleteRows(long from, long to);
  /// DeleteRows(i, i).
  bool DeleteRow(long i) { return DeleteRows(i, i); }
  /// The Record of row i; Undefined when there is no row i.
  KQSValue GetRow(long i);
  /// Row i's values as a List; Undefined when there is no row i.
  KQSValue GetRowValues(long i);
  /// SetRow(list) on row i's Record; returns the Record (Undefined when there
  /// is no row i).
  KQSValue SetRowValues(const KQSValue& list, long i);
  /// Row i's values array; null when there is no row i or it holds no Record.
  KQSValue* GetArray(long i);
  /// Makes the row count n: empty rows appended, or rows n + 1.. deleted (a
  /// negative n deletes every row).
  void Length(long n);

  // ===== Whole tables =====
  /// Inserts other's rows before row pos, each column of this table taking
  /// the value of other's column of the same name (Undefined without one).
  /// Returns the number of rows inserted: 0 for a null other, a table
  /// without columns, or pos outside 1..rows + 1.
  long InsertTableAt(KRZTable* other, long pos);
  /// InsertTableAt after the last row.
  long AppendTable(KRZTable* other) { return InsertTableAt(other, fRows + 1); }
  /// A new table (no references yet) with its own names row and, for each
  /// row, a new Record holding copies of the row's values.
  KRZTable* CloneRZTable() const;
  /// Sorts the rows with compare, whose arguments point at KRZTableRow*
  /// elements. A null compare changes nothing.
  void Qsort(int (*compare)(const void*, const void*));

  // ===== Owner's context, kept unchanged =====
  ///@{
  /// A pointer the table's owner keeps here (not owned, never read by the
  /// table); null at first.
  void* CtxVoid() const { return fCtxVoid; }
  void CtxVoid(void* p) { fCtxVoid = p; }
  ///@}
  ///@{
  /// A number the table's owner keeps here (never read by the table); 0 at
  /// first.
  long CtxLong() const { return fCtxLong; }
  void CtxLong(long n) { fCtxLong = n; }
  ///@}

  /// The first link of the chain (null for an empty table), for callers that
  /// walk every row without numbering them.
  KRZTableRow* FirstRow() const { return fFirst; }

 private:
  KRZRow* NamesRow() const { return KRZRow::FromValue(fNames); }
  /// The link of row i, or null outside 1..rows; caches the result.
  KRZTableRow* Find(long i);
  /// Links row after `after` (at the front when after is null).
  void LinkAfter(KRZTableRow* after, KRZTableRow* row);
  void Unlink(KRZTableRow* row);
  void ClearCache() {
    fCachedIndex = 0;
    fCachedRow = nullptr;
  }
  /// Calls fn once for every distinct Record among the rows, except the names
  /// row itself.
  template <typename Fn>
  void ForEachRecord(Fn fn);

  KQSValue fNames;
  KRZTableRow* fFirst = nullptr;
  KRZTableRow* fLast = nullptr;
  long fCachedIndex = 0;
  KRZTableRow* fCachedRow = nullptr;
  long fRows = 0;
  void* fCtxVoid = nullptr;
  long fCtxLong = 0;
};

#endif  // VXKERNEL_VALUES_KRZTABLE_H_
