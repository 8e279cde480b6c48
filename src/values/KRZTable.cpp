// KRZTable: the row chain with its lookup cache, column changes on every
// row, whole-table operations and the text form.
#include "vxkernel/values/KRZTable.h"

#include <cstdlib>
#include <memory>
#include <ostream>
#include <sstream>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/debug_line.h"
#include "values/nesting_internal.h"
#include "values/rz_internal.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KRZRow.h"
#include "vxkernel/values/type_numbers.h"

using vxk_internal::DebugLine;

// ===== Construction =====

KRZTable::KRZTable() : fNames(KRZRow::MakeValue(new KRZRow(0))) {}

KRZTable::KRZTable(const KQSValue& names) {
  const long n = names.ListEntries();
  auto* row = new KRZRow(n);
  KQSValue* v = row->GetArray();
  for (long i = 0; i < n; ++i) v[i] = names.ListGetValue(i + 1);
  fNames = KRZRow::MakeValue(row);
}

KRZTable::KRZTable(long n, const KQSValue* names) {
  auto* row = new KRZRow(n);
  row->SetArray(n, names);
  fNames = KRZRow::MakeValue(row);
}

KRZTable::KRZTable(KRZTable* other)
    : fNames(other != nullptr ? other->fNames : KRZRow::MakeValue(new KRZRow(0))) {}

KRZTable::~KRZTable() {
  KRZTableRow* row = fFirst;
  while (row != nullptr) {
    KRZTableRow* next = row->next;
    delete row;
    row = next;
  }
}

const KQSClass* KRZTable::RecArrayClass() {
  static const KQSClass* const gRecArrayClass = KQSBuiltinClass(vxk_types::kRecArray);
  return gRecArrayClass;
}

KQSValue KRZTable::MakeValue(KRZTable* table) {
  return KQSValue(RecArrayClass(), static_cast<void*>(table));
}

KRZTable* KRZTable::FromValue(const KQSValue& v) {
  if (v.Class() != RecArrayClass()) return nullptr;
  return static_cast<KRZTable*>(v.User());
}

// ===== The row chain =====

KRZTableRow* KRZTable::Find(long i) {
  if (i < 1 || i > fRows) return nullptr;
  if (i == 1) return fFirst;
  if (i == fRows) return fLast;
  if (i == fCachedIndex + 1 && fCachedRow != nullptr) {
    // The walk by increasing numbers.
    fCachedRow = fCachedRow->next;
    fCachedIndex = i;
    return fCachedRow;
  }
  // Start from the nearest known row; the walk by increasing numbers then
  // costs one step per row.
  KRZTableRow* row = fFirst;
  long at = 1;
  long best = i - 1;
  if (fRows - i < best) {
    row = fLast;
    at = fRows;
    best = fRows - i;
  }
  if (fCachedRow != nullptr) {
    const long d = fCachedIndex > i ? fCachedIndex - i : i - fCachedIndex;
    if (d < best) {
      row = fCachedRow;
      at = fCachedIndex;
    }
  }
  for (; at < i; ++at) row = row->next;
  for (; at > i; --at) row = row->prev;
  fCachedIndex = i;
  fCachedRow = row;
  return row;
}

void KRZTable::LinkAfter(KRZTableRow* after, KRZTableRow* row) {
  row->prev = after;
  row->next = after != nullptr ? after->next : fFirst;
  if (row->next != nullptr)
    row->next->prev = row;
  else
    fLast = row;
  if (after != nullptr)
    after->next = row;
  else
    fFirst = row;
  ++fRows;
}

void KRZTable::Unlink(KRZTableRow* row) {
  if (row->prev != nullptr)
    row->prev->next = row->next;
  else
    fFirst = row->next;
  if (row->next != nullptr)
    row->next->prev = row->prev;
  else
    fLast = row->prev;
  --fRows;
}

template <typename Fn>
void KRZTable::ForEachRecord(Fn fn) {
  KRZRow* names = NamesRow();
  // A Record held only by its row cannot appear twice; the set is needed
  // only for the shared ones (AddRecord, a Record given to InsertRowAt).
  std::unordered_set<KRZRow*> seen;
  for (KRZTableRow* link = fFirst; link != nullptr; link = link->next) {
    KRZRow* row = *link;
    if (row == nullptr || row == names) continue;
    if (row->References() > 1 && !seen.insert(row).second) continue;
    fn(row);
  }
}

// ===== Columns =====

long KRZTable::Width() const {
  const KRZRow* names = NamesRow();
  return names != nullptr ? names->Width() : 0;
}

KQSValue KRZTable::ColNames() const {
  const KRZRow* names = NamesRow();
  return names != nullptr ? names->ColNames() : KQSValue::List();
}

long KRZTable::GetColIndex(const char* name) const {
  return vxk_internal::RZColIndex(NamesRow(), name);
}

long KRZTable::AddColumn(const KQSValue& nameOrList) {
  KRZRow* names = NamesRow();
  if (names == nullptr) return 0;
  const long before = names->Width();
  auto addName = [&](const KQSValue& name) {
    if (!name.IsString() || names->GetColIndex(static_cast<const char*>(name.String())) > 0) return;
    names->AddColumns(1);
    names->SetColumn(name, names->Width());
  };
  if (nameOrList.IsString()) {
    addName(nameOrList);
  } else if (nameOrList.IsList()) {
    const long n = nameOrList.ListEntries();
    for (long i = 1; i <= n; ++i) addName(nameOrList.ListGetValue(i));
  }
  const long added = names->Width() - before;
  if (added > 0) ForEachRecord([added](KRZRow* row) { row->AddColumns(added); });
  return names->Width();
}

long KRZTable::InsertColumnAt(const KQSValue& name, long pos) {
  KRZRow* names = NamesRow();
  if (names == nullptr) return 0;
  if (name.IsString() && names->GetColIndex(static_cast<const char*>(name.String())) > 0) return 0;
  if (pos < 1 || pos > names->Width() + 1) {
    DebugLine("KRZTable::InsertColumnAt", "position outside the table (pos, width): ", pos, ", ",
              names->Width());
    return 0;
  }
  names->InsertColumnAt(pos, 1);
  names->SetColumn(name, pos);
  ForEachRecord([pos](KRZRow* row) {
    // A shared Record narrower than pos simply grows at its end.
    row->InsertColumnAt(pos <= row->Width() + 1 ? pos : row->Width() + 1, 1);
  });
  return pos;
}

bool KRZTable::DeleteColumns(long from, long to) {
  KRZRow* names = NamesRow();
  if (names == nullptr || from < 1 || from > to || to > names->Width()) return false;
  names->DeleteColumns(from, to);
  ForEachRecord([from, to](KRZRow* row) { row->DeleteColumns(from, to); });
  return true;
}

bool KRZTable::RenameColumn(long i, const char* name) {
  KRZRow* names = NamesRow();
  if (names == nullptr) return false;
  return names->SetColumn(name != nullptr ? KQSValue(name) : KQSValue(), i);
}

// ===== Rows =====

KQSValue KRZTable::InsertRowAt(long pos, long count, const KQSValue* values) {
  if (pos < 1 || pos > fRows + 1 || count < 1) return KQSValue();
  KRZTableRow* after = pos <= fRows ? (pos == 1 ? nullptr : Find(pos - 1)) : fLast;
  if (pos <= fCachedIndex) ClearCache();
  const bool fresh = values == nullptr || values->IsList();
  const bool shared = !fresh && KRZRow::FromValue(*values) != nullptr;
  KQSValue first;
  for (long k = 0; k < count; ++k) {
    // Owned here until linked, so a row that cannot be made leaks nothing.
    auto link = std::make_unique<KRZTableRow>();
    if (fresh)
      link->record = KRZRow::MakeValue(new KRZRow(fNames, values));
    else if (shared)
      link->record = *values;
    LinkAfter(after, link.get());
    after = link.release();
    if (k == 0) first = after->record;
  }
  return first;
}

KQSValue KRZTable::AddRecord(const KQSValue& record) {
  auto* link = new KRZTableRow;
  if (KRZRow::FromValue(record) != nullptr) link->record = record;
  LinkAfter(fLast, link);
  return record;
}

bool KRZTable::DeleteRows(long from, long to) {
  KRZTableRow* row = Find(from);
  if (row == nullptr || to < from) return false;
  if (from <= fCachedIndex) ClearCache();
  for (long n = to - from + 1; n > 0 && row != nullptr; --n) {
    KRZTableRow* next = row->next;
    Unlink(row);
    delete row;
    row = next;
  }
  return true;
}

KQSValue KRZTable::GetRow(long i) {
  KRZTableRow* row = Find(i);
  return row != nullptr ? row->record : KQSValue();
}

KQSValue KRZTable::GetRowValues(long i) {
  KRZTableRow* link = Find(i);
  if (link == nullptr) return KQSValue();
  KRZRow* row = *link;
  return row != nullptr ? row->GetRow() : KQSValue::List();
}

KQSValue KRZTable::SetRowValues(const KQSValue& list, long i) {
  KRZTableRow* link = Find(i);
  if (link == nullptr) return KQSValue();
  if (KRZRow* row = *link) row->SetRow(list);
  return link->record;
}

KQSValue* KRZTable::GetArray(long i) {
  KRZTableRow* link = Find(i);
  KRZRow* row = link != nullptr ? static_cast<KRZRow*>(*link) : nullptr;
  return row != nullptr ? row->GetArray() : nullptr;
}

void KRZTable::Length(long n) {
  if (n < 0) n = 0;
  if (n > fRows)
    InsertRowAt(fRows + 1, n - fRows, nullptr);
  else if (n < fRows)
    DeleteRows(n + 1, fRows);
}

// ===== Whole tables =====

long KRZTable::InsertTableAt(KRZTable* other, long pos) {
  const long width = Width();
  if (other == nullptr || width == 0 || pos < 1 || pos > fRows + 1) return 0;
  const long count = other->fRows;
  if (count == 0) return 0;
  // Which column of other feeds each of ours (0: none).
  const KQSValue* names = NamesRow()->GetArray();
  std::vector<long> from(static_cast<size_t>(width));
  for (long c = 0; c < width; ++c) {
    from[c] =
        names[c].IsString() ? other->GetColIndex(static_cast<const char*>(names[c].String())) : 0;
  }
  // Other's rows are taken before inserting: other may be this table.
  std::vector<KQSValue> source;
  source.reserve(static_cast<size_t>(count));
  for (KRZTableRow* link = other->fFirst; link != nullptr; link = link->next)
    source.push_back(link->record);
  InsertRowAt(pos, count, nullptr);
  KRZTableRow* target = pos == 1 ? fFirst : Find(pos - 1)->next;
  for (const KQSValue& record : source) {
    KRZRow* dst = *target;
    const KRZRow* src = KRZRow::FromValue(record);
    if (src != nullptr) {
      for (long c = 0; c < width; ++c) {
        if (from[c] > 0) dst->SetColumn(src->GetColumn(from[c]), c + 1);
      }
    }
    target = target->next;
  }
  return count;
}

KRZTable* KRZTable::CloneRZTable() const {
  const KRZRow* names = NamesRow();
  const long width = names != nullptr ? names->Width() : 0;
  auto* clone = new KRZTable(width, names != nullptr ? names->GetArray() : nullptr);
  KRZTableRow* after = nullptr;
  for (const KRZTableRow* link = fFirst; link != nullptr; link = link->next) {
    auto* copy = new KRZTableRow;
    if (const KRZRow* row = *link) {
      auto* fresh = new KRZRow(clone->fNames, nullptr);
      fresh->SetArray(row->Width(), row->GetArray());
      copy->record = KRZRow::MakeValue(fresh);
    }
    clone->LinkAfter(after, copy);
    after = copy;
  }
  return clone;
}

void KRZTable::Qsort(int (*compare)(const void*, const void*)) {
  if (compare == nullptr) {
    DebugLine("KRZTable::Qsort", "no comparison function");
    return;
  }
  if (fRows < 2) return;
  std::vector<KRZTableRow*> rows;
  rows.reserve(static_cast<size_t>(fRows));
  for (KRZTableRow* link = fFirst; link != nullptr; link = link->next) rows.push_back(link);
  std::qsort(rows.data(), rows.size(), sizeof(KRZTableRow*), compare);
  fFirst = nullptr;
  fLast = nullptr;
  fRows = 0;
  KRZTableRow* after = nullptr;
  for (KRZTableRow* link : rows) {
    LinkAfter(after, link);
    after = link;
  }
  ClearCache();
}

// ===== Storage operations =====

long KRZTable::Subscript(long i, long j, KQSValue& out) {
  KRZTableRow* link = Find(i);
  if (i == j) {
    out = link != nullptr ? link->record : KQSValue();
    return 0;
  }
  KRZRow* row = link != nullptr ? static_cast<KRZRow*>(*link) : nullptr;
  out = row != nullptr ? row->GetColumn(j) : KQSValue();
  return 0;
}

long KRZTable::SubscriptValuePut(long i, long j, const KQSValue& value) {
  KRZTableRow* link = Find(i);
  KRZRow* row = link != nullptr ? static_cast<KRZRow*>(*link) : nullptr;
  if (row != nullptr && (i == j ? row->SetRow(value) : row->SetColumn(value, j))) return 0;
  DebugLine("KRZTable::SubscriptValuePut", "no such row or column, or not a List (i, j): ", i, ", ",
            j);
  return KRZRow::kBadSubscript;
}

bool KRZTable::Formatter(std::ostream& out, KQSClassFormatter* f) const {
  // Only a counted table can be pushed: the formatter's copy holds a
  // reference whose release must not be the last one.
  const bool track = f != nullptr && References() > 0;
  const KQSValue self = track ? MakeValue(const_cast<KRZTable*>(this)) : KQSValue();
  const vxk_internal::ContainerWrite frame(out, "RecArray", this, self, f);
  if (frame.Done()) return true;
  out << "V{<";
  if (const KRZRow* names = NamesRow()) {
    const KQSValue* v = names->GetArray();
    for (long i = 0; i < names->Width(); ++i) {
      if (i > 0) out << ',';
      out << v[i];
    }
  }
  out << '>';
  for (const KRZTableRow* link = fFirst; link != nullptr; link = link->next) {
    out << '<';
    if (const KRZRow* row = *link) {
      const KQSValue* v = row->GetArray();
      for (long i = 0; i < row->Width(); ++i) {
        if (i > 0) out << ',';
        v[i].FormattedOutput(out, f);
      }
    }
    out << '>';
  }
  out << '}';
  return true;
}

KQSValue KRZTable::ReferenceDebugStr(short /*how*/) {
  std::ostringstream s;
  s << "\tRecArray has " << fRows << " records; ColNames: ";
  vxk_internal::RZJoinNames(s, NamesRow());
  const std::string text = s.str();
  return KQSValue(KString(text.data(), static_cast<unsigned>(text.size())));
}
