// KAssocVal: conversions between Assocs and Records.
#include "vxkernel/values/KAssocVal.h"

#include "base/debug_line.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KRZRow.h"
#include "vxkernel/values/KRZTable.h"
#include "vxkernel/values/type_numbers.h"

KQSValue KAssocVal::FromRecord(const KQSValue& record) {
  const KRZRow* row = KRZRow::FromValue(record);
  if (row == nullptr) {
    vxk_internal::DebugLine("KAssocVal::FromRecord", "not a Record: type ", record.Type());
    return KQSValue();
  }
  auto* assoc = new KAssocVal;
  KQSValue result(vxk_types::kAssoc, static_cast<void*>(assoc));
  const KQSValue names = row->ColNames();
  const long named = names.ListEntries();
  const KQSValue* values = row->GetArray();
  // Columns past the names (a row wider than its names row) have no name:
  // they share the Undefined key, as unnamed columns do.
  for (long i = 1; i <= row->Width(); ++i) {
    assoc->Add(i <= named ? names.ListGetValue(i) : KQSValue(), values[i - 1]);
  }
  return result;
}

KQSValue KAssocVal::ToRecord() const {
  const KQSValue values = Items();
  return KRZRow::MakeValue(new KRZRow(Keys(), &values));
}
