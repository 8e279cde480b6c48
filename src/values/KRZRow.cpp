// KRZRow: one Record, its columns, its dot features and its text form.
#include "vxkernel/values/KRZRow.h"

#include <algorithm>
#include <ostream>
#include <sstream>
#include <utility>

#include "base/debug_line.h"
#include "values/nesting_internal.h"
#include "values/rz_internal.h"
#include "vxkernel/classes/KQSBuiltinClasses.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/text/str.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/type_numbers.h"

namespace vxk_internal {

void RZJoinNames(std::ostream& out, const KRZRow* names) {
  if (names == nullptr) return;
  const KQSValue* v = names->GetArray();
  for (long i = 0; i < names->Width(); ++i) {
    if (i > 0) out << ", ";
    // Names are shown as plain text; an unnamed column shows its text form.
    if (v[i].IsString()) {
      const KString& s = v[i].String();
      out.write(static_cast<const char*>(s), static_cast<std::streamsize>(s.Length()));
    } else {
      out << v[i];
    }
  }
}

long RZColIndex(const KRZRow* names, const char* name) {
  if (names == nullptr || name == nullptr) return 0;
  const KQSValue* v = names->GetArray();
  // From the last column down: the last of equal names wins.
  for (long i = names->Width(); i >= 1; --i) {
    const KQSValue& n = v[i - 1];
    if (n.IsString() && str_cmpu(name, static_cast<const char*>(n.String())) == 0) return i;
  }
  return 0;
}

}  // namespace vxk_internal

using vxk_internal::DebugLine;

namespace {

KQSValue* NewValues(long n) { return n > 0 ? new KQSValue[static_cast<size_t>(n)] : nullptr; }

// Copies the first min(width, list length) elements of a List into values.
void FillFromList(KQSValue* values, long width, const KQSValue& list) {
  long n = list.ListEntries();
  if (n > width) n = width;
  for (long i = 0; i < n; ++i) values[i] = list.ListGetValue(i + 1);
}

}  // namespace

// ===== Construction =====

KRZRow::KRZRow(long width) : fValues(nullptr), fWidth(width > 0 ? width : 0), fCapacity(fWidth) {
  fValues = NewValues(fWidth);
}

KRZRow::KRZRow(const KQSValue& names, const KQSValue* values)
    : fValues(nullptr), fWidth(0), fCapacity(0) {
  if (FromValue(names) != nullptr) {
    fNames = names;
    fWidth = names.Length();
  } else if (names.IsList()) {
    const long n = names.ListEntries();
    auto* namesRow = new KRZRow(n);
    for (long i = 0; i < n; ++i) {
      KQSValue name = names.ListGetValue(i + 1);
      // Only Strings name a column; other elements leave it unnamed.
      if (name.IsString()) namesRow->fValues[i] = std::move(name);
    }
    fNames = MakeValue(namesRow);
    fWidth = n;
  } else {
    DebugLine("KRZRow::KRZRow", "names is neither a Record nor a List: ", names);
    fNames = MakeValue(new KRZRow(0));
  }
  fValues = NewValues(fWidth);
  fCapacity = fWidth;
  if (values != nullptr && values->IsList()) FillFromList(fValues, fWidth, *values);
}

KRZRow::~KRZRow() { delete[] fValues; }

const KQSClass* KRZRow::RecordClass() {
  // The built-in classes are static objects, so the pointer never changes.
  static const KQSClass* const gRecordClass = KQSBuiltinClass(vxk_types::kRecord);
  return gRecordClass;
}

KQSValue KRZRow::MakeValue(KRZRow* row) { return KQSValue(RecordClass(), static_cast<void*>(row)); }

KRZRow* KRZRow::FromValue(const KQSValue& v) {
  if (v.Class() != RecordClass()) return nullptr;
  return static_cast<KRZRow*>(v.User());
}

const KRZRow* KRZRow::NamesRow() const { return IsNamesRow() ? this : FromValue(fNames); }

// ===== Columns =====

KQSValue KRZRow::ColNames() const {
  KQSValue list = KQSValue::List();
  const KRZRow* names = NamesRow();
  if (names == nullptr) return list;
  for (long i = 0; i < names->fWidth; ++i) list.ListAppendValue(names->fValues[i]);
  return list;
}

long KRZRow::GetColIndex(const char* name) const {
  return vxk_internal::RZColIndex(NamesRow(), name);
}

KQSValue KRZRow::GetColumn(long i) const {
  if (i < 1 || i > fWidth) return KQSValue();
  return fValues[i - 1];
}

bool KRZRow::SetColumn(const KQSValue& v, long i) {
  if (i < 1 || i > fWidth) return false;
  fValues[i - 1] = v;
  return true;
}

KQSValue KRZRow::GetRow() const {
  KQSValue list = KQSValue::List();
  for (long i = 0; i < fWidth; ++i) list.ListAppendValue(fValues[i]);
  return list;
}

bool KRZRow::SetRow(const KQSValue& list) {
  if (!list.IsList()) return false;
  FillFromList(fValues, fWidth, list);
  return true;
}

bool KRZRow::SetArray(long n, const KQSValue* array) {
  if (array == nullptr) return true;
  if (n > fWidth) n = fWidth;
  for (long i = 0; i < n; ++i) fValues[i] = array[i];
  return true;
}

void KRZRow::Grow(long n) {
  const long width = fWidth + n;
  if (width <= fCapacity) return;
  // Half again, so that columns added one at a time cost amortised O(1) per
  // row; a row that never grows keeps its exact size.
  long capacity = fCapacity + fCapacity / 2;
  if (capacity < width) capacity = width;
  KQSValue* values = NewValues(capacity);
  for (long i = 0; i < fWidth; ++i) values[i] = std::move(fValues[i]);
  delete[] fValues;
  fValues = values;
  fCapacity = capacity;
}

long KRZRow::AddColumns(long n) {
  if (n <= 0) return fWidth;
  if (n > kMaxWidth - fWidth) {
    DebugLine("KRZRow::AddColumns", "too many columns (width, added): ", fWidth, ", ", n);
    return fWidth;
  }
  // Slots past the width are always Undefined.
  Grow(n);
  fWidth += n;
  return fWidth;
}

long KRZRow::InsertColumnAt(long pos, long n) {
  if (pos < 1 || pos > fWidth + 1) {
    DebugLine("KRZRow::InsertColumnAt", "position outside the row (pos, width): ", pos, ", ",
              fWidth);
    return 0;
  }
  if (n <= 0) return pos;
  if (n > kMaxWidth - fWidth) {
    DebugLine("KRZRow::InsertColumnAt", "too many columns (width, added): ", fWidth, ", ", n);
    return 0;
  }
  Grow(n);
  // Moved-from values are Undefined, so the gap needs no filling.
  std::move_backward(fValues + (pos - 1), fValues + fWidth, fValues + fWidth + n);
  fWidth += n;
  return pos;
}

void KRZRow::DeleteColumns(long from, long to) {
  if (from < 1 || from > to || to > fWidth) return;
  // Assigning over the removed columns releases their values; the slots
  // left past the new width become Undefined.
  std::move(fValues + to, fValues + fWidth, fValues + (from - 1));
  const long width = fWidth - (to - from + 1);
  for (long i = width; i < fWidth; ++i) fValues[i].Undefine();
  fWidth = width;
}

// ===== Storage operations =====

bool KRZRow::IsFeature(const KQSValue& name) {
  return name.IsString() && GetColIndex(static_cast<const char*>(name.String())) > 0;
}

long KRZRow::Dot(const KQSValue& name, KQSValue& out, KQSValue* /*env*/) {
  const long i = name.IsString() ? GetColIndex(static_cast<const char*>(name.String())) : 0;
  if (i > 0 && i <= fWidth) {
    out = fValues[i - 1];
    return 0;
  }
  // An unknown column is an Error value, not a failed call, so scripts can
  // test for it.
  DebugLine("KRZRow::Dot", "no such column: ", name);
  out = KQSValue::Error(kNoSuchColumn);
  return 0;
}

long KRZRow::DotValuePut(const KQSValue& name, const KQSValue& value) {
  const long i = name.IsString() ? GetColIndex(static_cast<const char*>(name.String())) : 0;
  if (SetColumn(value, i)) return 0;
  DebugLine("KRZRow::DotValuePut", "no such column: ", name);
  return kNoSuchColumn;
}

long KRZRow::Subscript(long i, long j, KQSValue& out) {
  if (i != j) {
    DebugLine("KRZRow::Subscript", "a Record takes one index: ", i, ", ", j);
    return kBadSubscript;
  }
  out = GetColumn(i);
  return 0;
}

long KRZRow::SubscriptValuePut(long i, long j, const KQSValue& value) {
  if (i == j && SetColumn(value, i)) return 0;
  DebugLine("KRZRow::SubscriptValuePut", "no such column (i, j): ", i, ", ", j);
  return kBadSubscript;
}

bool KRZRow::Formatter(std::ostream& out, KQSClassFormatter* f) const {
  // Only a counted row can be pushed: the formatter's copy holds a reference
  // whose release must not be the last one.
  const bool track = f != nullptr && References() > 0;
  const KQSValue self = track ? MakeValue(const_cast<KRZRow*>(this)) : KQSValue();
  const vxk_internal::ContainerWrite frame(out, "Record", this, self, f);
  if (frame.Done()) return true;
  const KRZRow* names = NamesRow();
  const long named = names != nullptr ? names->fWidth : 0;
  out << "R<";
  for (long i = 0; i < fWidth; ++i) {
    if (i > 0) out << ',';
    // Names get a fresh formatter each (operator<<); values share ours.
    if (i < named)
      out << names->fValues[i];
    else
      out << KQSValue();
    out << '=';
    fValues[i].FormattedOutput(out, f);
  }
  out << '>';
  return true;
}

KQSValue KRZRow::ReferenceDebugStr(short /*how*/) {
  std::ostringstream s;
  vxk_internal::RZJoinNames(s, NamesRow());
  const std::string text = s.str();
  return KQSValue(KString(text.data(), static_cast<unsigned>(text.size())));
}
