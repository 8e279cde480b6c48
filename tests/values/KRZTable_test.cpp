// Record tables: rows, the shared names row, column changes on every row,
// the row chain and its cache, whole-table operations, the Record's dot
// features and the text forms. A std::vector model checks every row after
// random operations.
#include "vxkernel/values/KRZTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "../support/debug_capture.h"
#include "../support/started_process.h"
#include "value_test_util.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/values/KRZRow.h"

namespace {

using valtest::Text;

constexpr short kRecord = -109;
constexpr short kRecArray = -110;

KQSValue Strings(const std::vector<std::string>& names) {
  KQSValue list = KQSValue::List();
  for (const std::string& n : names) list.ListAppendValue(KQSValue(n.c_str()));
  return list;
}

KQSValue Ints(const std::vector<int>& values) {
  KQSValue list = KQSValue::List();
  for (int v : values) list.ListAppendValue(KQSValue(v));
  return list;
}

// The names of a table as plain strings ("?" for an unnamed column).
std::vector<std::string> NamesOf(const KRZTable* t) {
  std::vector<std::string> out;
  KQSValue names = t->ColNames();
  for (long i = 1; i <= names.ListEntries(); ++i) {
    KQSValue n = names.ListGetValue(i);
    out.push_back(n.IsString() ? valtest::Str(n.String()) : "?");
  }
  return out;
}

// A table value with a handle on its storage; the value owns the table.
struct Table {
  explicit Table(const std::vector<std::string>& names)
      : t(new KRZTable(Strings(names))), v(KRZTable::MakeValue(t)) {}
  explicit Table(KRZTable* table) : t(table), v(KRZTable::MakeValue(table)) {}
  KRZTable* operator->() const { return t; }
  KRZTable* t;
  KQSValue v;
};

KRZRow* RowOf(const KQSValue& record) { return KRZRow::FromValue(record); }

// One row per number, in a one-column table.
void AddIntRows(KRZTable* t, const std::vector<int>& values) {
  for (int v : values) {
    KQSValue l = Ints({v});
    t->AddRow(&l);
  }
}

class KRZTableTest : public ::testing::Test {
 protected:
  // Leak check: every Record and RecArray made by a test is gone after it.
  void SetUp() override {
    fRecords = KQSValue::ObjCount(kRecord);
    fTables = KQSValue::ObjCount(kRecArray);
  }
  void TearDown() override {
    EXPECT_EQ(KQSValue::ObjCount(kRecord), fRecords);
    EXPECT_EQ(KQSValue::ObjCount(kRecArray), fTables);
  }
  long fRecords = 0;
  long fTables = 0;
};

// ===== Columns and names =====

TEST_F(KRZTableTest, ColumnNamesAreFoundWithoutRegardToCase) {
  Table t({"A", "B"});
  EXPECT_EQ(t->Width(), 2);
  EXPECT_EQ(t->GetColIndex("b"), 2);
  EXPECT_EQ(t->GetColIndex("A"), 1);
  EXPECT_EQ(t->GetColIndex("C"), 0);
  EXPECT_EQ(t->GetColIndex(nullptr), 0);
  EXPECT_EQ(Text(t->ColNames()), "{'A','B'}");
  EXPECT_EQ(t->Length(), 0);
}

TEST_F(KRZTableTest, AddColumnSkipsNamesAlreadyPresentAndWidensEveryRow) {
  Table t({"A", "B"});
  KQSValue l = Ints({1, 2});
  t->AddRows(2, &l);
  EXPECT_EQ(t->AddColumn(KQSValue("a")), 2);
  EXPECT_EQ(t->AddColumn(Strings({"C", "a", "D", "c"})), 4);
  EXPECT_EQ(NamesOf(t.t), (std::vector<std::string>{"A", "B", "C", "D"}));
  for (long i = 1; i <= 2; ++i) {
    EXPECT_EQ(Text(t->GetRowValues(i)), "{1,2,?,?}");
  }
  EXPECT_EQ(t->AddColumn(KQSValue(7)), 4);  // neither String nor List
}

TEST_F(KRZTableTest, ASharedRecordIsWidenedOnce) {
  Table t({"A"});
  KQSValue l = Ints({5});
  KQSValue record = KRZRow::MakeValue(new KRZRow(t->Names(), &l));
  t->AddRecord(record);
  t->AddRecord(record);
  t->AddRows(2, &record);  // two more rows holding the very same Record
  EXPECT_EQ(t->Length(), 4);
  EXPECT_EQ(t->GetRow(4).Instance(), record.Instance());
  t->AddColumn(KQSValue("B"));
  EXPECT_EQ(RowOf(record)->Width(), 2);
  t->InsertColumnAt(KQSValue("Z"), 1);
  EXPECT_EQ(Text(record), "R<'Z'=?,'A'=5,'B'=?>");
  EXPECT_TRUE(t->DeleteColumns(1, 2));
  EXPECT_EQ(Text(record), "R<'B'=?>");
}

TEST_F(KRZTableTest, InsertColumnAtRefusesPresentNamesAndPositionsPastTheEnd) {
  Table t({"A", "B"});
  KQSValue l = Ints({1, 2});
  t->AddRows(3, &l);
  EXPECT_EQ(t->InsertColumnAt(KQSValue("M"), 2), 2);
  EXPECT_EQ(t->InsertColumnAt(KQSValue("m"), 1), 0);  // present already
  EXPECT_EQ(t->InsertColumnAt(KQSValue("E"), 4), 4);  // at the end
  DebugCapture capture;
  EXPECT_EQ(t->InsertColumnAt(KQSValue("F"), 6), 0);
  EXPECT_NE(capture.All().find("KRZTable::InsertColumnAt"), std::string::npos);
  EXPECT_EQ(t->Width(), 4);
}

TEST_F(KRZTableTest, DeleteColumnsChecksTheRange) {
  Table t({"A", "B", "C"});
  KQSValue l = Ints({1, 2, 3});
  t->AddRows(2, &l);
  EXPECT_FALSE(t->DeleteColumns(2, 1));
  EXPECT_FALSE(t->DeleteColumns(0, 1));
  EXPECT_FALSE(t->DeleteColumns(3, 4));
  EXPECT_EQ(t->Width(), 3);
  EXPECT_TRUE(t->DeleteColumn(2));
  EXPECT_EQ(NamesOf(t.t), (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(Text(t->GetRowValues(2)), "{1,3}");
}

TEST_F(KRZTableTest, RenameColumnAllowsDuplicatesAndTheLaterWins) {
  Table t({"A", "B"});
  EXPECT_TRUE(t->RenameColumn(1, "B"));
  EXPECT_EQ(NamesOf(t.t), (std::vector<std::string>{"B", "B"}));
  EXPECT_EQ(t->GetColIndex("B"), 2);
  EXPECT_EQ(t->GetColIndex("A"), 0);
  EXPECT_FALSE(t->RenameColumn(3, "C"));
  EXPECT_FALSE(t->RenameColumn(0, "C"));
}

TEST_F(KRZTableTest, AllRowsShareTheTablesNamesRow) {
  Table t({"A", "B"});
  t->AddRows(2, nullptr);
  KQSValue l = Ints({1});
  t->AddRow(&l);
  for (long i = 1; i <= 3; ++i) {
    KRZRow* row = RowOf(t->GetRow(i));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Names().Instance(), t->Names().Instance());
    EXPECT_FALSE(row->IsNamesRow());
  }
  EXPECT_TRUE(RowOf(t->Names())->IsNamesRow());
  // A renamed column is seen through every row.
  t->RenameColumn(2, "Q");
  EXPECT_EQ(RowOf(t->GetRow(3))->GetColIndex("q"), 2);
  Table sibling(new KRZTable(t.t));
  EXPECT_EQ(sibling->Names().Instance(), t->Names().Instance());
  EXPECT_EQ(sibling->Length(), 0);
  EXPECT_EQ(sibling->Width(), 2);
}

// ===== Rows =====

TEST_F(KRZTableTest, AddRowsGivesUndefinedValuesAndANegativeLengthEmpties) {
  Table t({"A", "B"});
  KQSValue first = t->AddRows(3, nullptr);
  EXPECT_EQ(first.Type(), kRecord);
  EXPECT_EQ(t->Length(), 3);
  for (long i = 1; i <= 3; ++i) EXPECT_EQ(Text(t->GetRowValues(i)), "{?,?}");
  EXPECT_TRUE(t->GetRow(4).IsUndefined());
  EXPECT_TRUE(t->GetRow(0).IsUndefined());
  EXPECT_TRUE(t->GetRowValues(4).IsUndefined());
  EXPECT_EQ(t->GetArray(4), nullptr);
  t->Length(-1);
  EXPECT_EQ(t->Length(), 0);
}

TEST_F(KRZTableTest, InsertRowAtFrontAndOutOfRange) {
  Table t({"A"});
  KQSValue one = Ints({1}), two = Ints({2});
  t->AddRows(2, &one);
  KQSValue r = t->InsertRowAt(1, 1, &two);
  EXPECT_EQ(r.Instance(), t->GetRow(1).Instance());
  EXPECT_EQ(Text(t->GetRowValues(1)), "{2}");
  EXPECT_TRUE(t->InsertRowAt(t->Length() + 2, 1, &two).IsUndefined());
  EXPECT_TRUE(t->InsertRowAt(0, 1, &two).IsUndefined());
  EXPECT_TRUE(t->InsertRowAt(1, 0, &two).IsUndefined());
  EXPECT_EQ(t->Length(), 3);
  KQSValue other(5);
  t->AddRow(&other);  // neither List nor Record: an Undefined row value
  EXPECT_TRUE(t->GetRow(4).IsUndefined());
  EXPECT_EQ(t->Length(), 4);
  EXPECT_EQ(t->GetArray(4), nullptr);
  EXPECT_TRUE(t->GetRowValues(4).IsList());
}

TEST_F(KRZTableTest, ARecordAddedTwiceIsSharedByEveryHolder) {
  Table t({"A", "B"});
  Table u({"A", "B"});
  KQSValue l = Ints({1, 2});
  KQSValue record = KRZRow::MakeValue(new KRZRow(Strings({"A", "B"}), &l));
  EXPECT_EQ(t->AddRecord(record).Instance(), record.Instance());
  u->AddRecord(record);
  KQSValue changed = Ints({9});
  t->SetRowValues(changed, 1);
  EXPECT_EQ(Text(record), "R<'A'=9,'B'=2>");
  EXPECT_EQ(Text(u->GetRowValues(1)), "{9,2}");
  // The Record outlives both tables.
  t.v.Undefine();
  u.v.Undefine();
  EXPECT_EQ(Text(record), "R<'A'=9,'B'=2>");
}

TEST_F(KRZTableTest, DeleteRowsRemovesOnlyRowsThatExist) {
  Table t({"A"});
  AddIntRows(t.t, {1, 2, 3, 4, 5});
  EXPECT_FALSE(t->DeleteRows(6, 7));
  EXPECT_FALSE(t->DeleteRows(0, 1));
  EXPECT_FALSE(t->DeleteRows(3, 2));
  EXPECT_TRUE(t->DeleteRows(4, 99));
  EXPECT_EQ(t->Length(), 3);
  EXPECT_TRUE(t->DeleteRow(2));
  EXPECT_EQ(Text(t->GetRowValues(2)), "{3}");
  KQSValue kept = t->GetRow(1);
  t->DeleteRow(1);
  EXPECT_EQ(Text(kept), "R<'A'=1>");  // a Record taken out stays valid
}

// ===== Whole tables =====

TEST_F(KRZTableTest, InsertTableAtCopiesOnlyColumnsOfTheSameName) {
  Table t({"A", "B"});
  KQSValue l = Ints({1, 2});
  t->AddRows(2, &l);
  Table o({"b", "X"});
  KQSValue m = Ints({30, 40}), n = Ints({50, 60});
  o->AddRow(&m);
  o->AddRow(&n);
  EXPECT_EQ(t->InsertTableAt(o.t, 2), 2);
  EXPECT_EQ(t->Length(), 4);
  EXPECT_EQ(Text(t->GetRowValues(1)), "{1,2}");
  EXPECT_EQ(Text(t->GetRowValues(2)), "{?,30}");
  EXPECT_EQ(Text(t->GetRowValues(3)), "{?,50}");
  EXPECT_EQ(Text(t->GetRowValues(4)), "{1,2}");
  EXPECT_EQ(t->Width(), 2);  // other's X is dropped
  EXPECT_EQ(t->AppendTable(o.t), 2);
  EXPECT_EQ(Text(t->GetRowValues(6)), "{?,50}");
  EXPECT_EQ(t->InsertTableAt(nullptr, 1), 0);
  EXPECT_EQ(t->InsertTableAt(o.t, 8), 0);
  Table none(new KRZTable());
  EXPECT_EQ(none->InsertTableAt(o.t, 1), 0);  // no columns
}

TEST_F(KRZTableTest, InsertTableAtItselfDoublesTheRows) {
  Table t({"A"});
  AddIntRows(t.t, {1, 2, 3});
  EXPECT_EQ(t->InsertTableAt(t.t, 2), 3);
  std::vector<std::string> got;
  for (long i = 1; i <= t->Length(); ++i) got.push_back(Text(t->GetRowValues(i)));
  EXPECT_EQ(got, (std::vector<std::string>{"{1}", "{1}", "{2}", "{3}", "{2}", "{3}"}));
}

TEST_F(KRZTableTest, CloneHasItsOwnNamesAndRecordsButSharesValues) {
  Table t({"A", "B"});
  KQSValue l = KQSValue::List(KQSValue("text"), KQSValue(2));
  t->AddRows(2, &l);
  t->CtxLong(7);
  Table c(t->CloneRZTable());
  EXPECT_NE(c->Names().Instance(), t->Names().Instance());
  EXPECT_EQ(NamesOf(c.t), NamesOf(t.t));
  ASSERT_EQ(c->Length(), 2);
  EXPECT_NE(c->GetRow(1).Instance(), t->GetRow(1).Instance());
  EXPECT_EQ(RowOf(c->GetRow(1))->Names().Instance(), c->Names().Instance());
  EXPECT_EQ(c->GetArray(1)[0].Instance(), t->GetArray(1)[0].Instance());
  EXPECT_EQ(c->CtxLong(), 0);
  c->AddColumn(KQSValue("C"));
  KQSValue x = Ints({9});
  c->SetRowValues(x, 2);
  EXPECT_EQ(t->Width(), 2);
  EXPECT_EQ(Text(t->GetRowValues(2)), "{'text',2}");
  EXPECT_EQ(Text(c->GetRowValues(2)), "{9,2,?}");
}

int ByFirstColumnDescending(const void* a, const void* b) {
  const KRZRow* ra = **static_cast<KRZTableRow* const*>(a);
  const KRZRow* rb = **static_cast<KRZTableRow* const*>(b);
  return static_cast<int>(rb->GetColumn(1)) - static_cast<int>(ra->GetColumn(1));
}

TEST_F(KRZTableTest, QsortReordersTheRowsAndResetsTheCache) {
  Table t({"K"});
  std::vector<int> model = {5, 3, 9, 1, 7, 2, 8};
  AddIntRows(t.t, model);
  EXPECT_EQ(Text(t->GetRowValues(4)), "{1}");  // caches row 4
  t->Qsort(&ByFirstColumnDescending);
  std::sort(model.begin(), model.end(), [](int a, int b) { return a > b; });
  for (size_t i = 0; i < model.size(); ++i) {
    EXPECT_EQ(static_cast<int>(RowOf(t->GetRow(static_cast<long>(i + 1)))->GetColumn(1)), model[i]);
  }
  // Backwards too: the prev links were rebuilt.
  for (size_t i = model.size(); i >= 1; --i) {
    EXPECT_EQ(static_cast<int>(t->GetArray(static_cast<long>(i))[0]), model[i - 1]);
  }
  DebugCapture capture;
  t->Qsort(nullptr);
  EXPECT_NE(capture.All().find("KRZTable::Qsort"), std::string::npos);
}

// ===== KRZRow on its own =====

TEST_F(KRZTableTest, RowFromAListOfNamesKeepsOnlyStrings) {
  KQSValue names = KQSValue::List(KQSValue("a"), KQSValue(3), KQSValue("c"));
  KQSValue values = Ints({1, 2, 3, 4});
  KQSValue r = KRZRow::MakeValue(new KRZRow(names, &values));
  KRZRow* row = RowOf(r);
  EXPECT_EQ(row->Width(), 3);
  EXPECT_EQ(Text(row->ColNames()), "{'a',?,'c'}");
  EXPECT_EQ(Text(row->GetRow()), "{1,2,3}");
  EXPECT_EQ(row->GetColIndex("C"), 3);
  EXPECT_FALSE(row->SetRow(KQSValue(1)));
  KQSValue shortList = Ints({7});
  EXPECT_TRUE(row->SetRow(shortList));
  EXPECT_EQ(Text(row->GetRow()), "{7,2,3}");
  EXPECT_TRUE(row->SetArray(5, nullptr));
  KQSValue arr[2] = {KQSValue(8), KQSValue(9)};
  EXPECT_TRUE(row->SetArray(2, arr));
  EXPECT_EQ(Text(row->GetRow()), "{8,9,3}");
  EXPECT_FALSE(row->SetColumn(KQSValue(1), 4));
  EXPECT_TRUE(row->GetColumn(0).IsUndefined());
  EXPECT_EQ(row->InsertColumnAt(2, 2), 2);
  EXPECT_EQ(Text(row->GetRow()), "{8,?,?,9,3}");
  EXPECT_EQ(row->AddColumn(1), 6);
  row->DeleteColumns(1, 2);
  EXPECT_EQ(Text(row->GetRow()), "{?,9,3,?}");
  row->DeleteColumns(4, 5);  // beyond the width: nothing
  EXPECT_EQ(row->Width(), 4);
  DebugCapture capture;
  EXPECT_EQ(row->InsertColumnAt(6, 1), 0);
  EXPECT_NE(capture.All().find("KRZRow::InsertColumnAt"), std::string::npos);
  // Widths no row can hold are refused before anything is allocated.
  EXPECT_EQ(row->InsertColumnAt(1, LONG_MAX - 1), 0);
  EXPECT_EQ(row->AddColumns(LONG_MAX), 4);
  EXPECT_EQ(row->Width(), 4);
  EXPECT_NE(capture.All().find("KRZRow::AddColumns - too many columns (width, added): 4, "),
            std::string::npos);
  // Sharing a Record as names.
  KQSValue r2 = KRZRow::MakeValue(new KRZRow(row->Names(), nullptr));
  EXPECT_EQ(RowOf(r2)->Width(), 3);
  DebugCapture bad;
  KQSValue r3 = KRZRow::MakeValue(new KRZRow(KQSValue(5), nullptr));
  EXPECT_EQ(RowOf(r3)->Width(), 0);
  EXPECT_NE(bad.All().find("KRZRow::KRZRow"), std::string::npos);
}

TEST_F(KRZTableTest, RecordDotFeatures) {
  Table t({"Name", "Size"});
  KQSValue l = KQSValue::List(KQSValue("report.pdf"), KQSValue(4096));
  KQSValue rec = t->AddRow(&l);
  EXPECT_TRUE(rec.IsFeature(KQSValue("size")));
  EXPECT_FALSE(rec.IsFeature(KQSValue("owner")));
  EXPECT_FALSE(rec.IsFeature(KQSValue(1)));
  KQSValue out;
  EXPECT_EQ(rec.Dot(KQSValue("SIZE"), out, nullptr), 0);
  EXPECT_EQ(Text(out), "4096");
  DebugCapture capture;
  EXPECT_EQ(rec.Dot(KQSValue("owner"), out, nullptr), 0);
  EXPECT_TRUE(out.IsError());
  EXPECT_EQ(out.Error(), 0x26AD000F);
  EXPECT_EQ(capture.Texts().size(), 1u);
  EXPECT_EQ(capture.All().rfind("KRZRow::Dot", 0), 0u);
  EXPECT_EQ(rec.DotValuePut(KQSValue("name"), KQSValue("x")), 0);
  EXPECT_EQ(Text(t->GetRowValues(1)), "{'x',4096}");
  EXPECT_EQ(rec.DotValuePut(KQSValue("owner"), KQSValue("x")), 0x26AD000F);
  // Subscripts: a Record takes one index, a RecArray one or two.
  EXPECT_EQ(rec.Subscript(KQSValue(2), KQSValue(2), out), 0);
  EXPECT_EQ(Text(out), "4096");
  EXPECT_EQ(rec.Subscript(KQSValue(1), KQSValue(2), out), KRZRow::kBadSubscript);
  EXPECT_EQ(t.v.Subscript(KQSValue(1), KQSValue(1), out), 0);
  EXPECT_EQ(out.Instance(), rec.Instance());
  EXPECT_EQ(t.v.Subscript(KQSValue(1), KQSValue(2), out), 0);
  EXPECT_EQ(Text(out), "4096");
  EXPECT_EQ(t.v.SubscriptValuePut(KQSValue(1), KQSValue(2), KQSValue(5)), 0);
  EXPECT_EQ(rec.SubscriptValuePut(KQSValue(3), KQSValue(3), KQSValue(5)), KRZRow::kBadSubscript);
  EXPECT_EQ(Text(rec), "R<'Name'='x','Size'=5>");
  EXPECT_EQ(rec.Length(), 2);
  EXPECT_EQ(t.v.Length(), 1);
}

// ===== Text forms =====

TEST_F(KRZTableTest, TextForms) {
  Table t({"x", "y"});
  KQSValue a = Ints({1, 2}), b = Ints({3, 4});
  t->AddRow(&a);
  t->AddRow(&b);
  EXPECT_EQ(Text(t.v), "V{<'x','y'><1,2><3,4>}");
  EXPECT_EQ(valtest::Streamed(t.v), "V{<'x','y'><1,2><3,4>}");
  EXPECT_EQ(Text(t->GetRow(2)), "R<'x'=3,'y'=4>");
  EXPECT_EQ(Text(t->Names()), "R<'x'='x','y'='y'>");
  Table empty(new KRZTable());
  EXPECT_EQ(Text(empty.v), "V{<>}");
  t->AddRows(1, nullptr);
  t->InsertColumnAt(KQSValue(), 1);  // an unnamed column
  EXPECT_EQ(Text(t.v), "V{<?,'x','y'><?,1,2><?,3,4><?,?,?>}");
  EXPECT_EQ(valtest::Str(t->ReferenceDebugStr(0).String()),
            "\tRecArray has 3 records; ColNames: ?, x, y");
  EXPECT_EQ(valtest::Str(RowOf(t->GetRow(1))->ReferenceDebugStr(0).String()), "?, x, y");
}

TEST_F(KRZTableTest, ContainersThatHoldThemselvesWriteBackReferences) {
  Table t({"self", "n"});
  t->AddRows(1, nullptr);
  KQSValue rec = t->GetRow(1);
  RowOf(rec)->SetColumn(rec, 1);
  RowOf(rec)->SetColumn(KQSValue(1), 2);
  EXPECT_EQ(Text(rec), "R<'self'=[Record:1],'n'=1>");
  RowOf(rec)->SetColumn(t.v, 1);
  EXPECT_EQ(Text(t.v), "V{<'self','n'><[RecArray:1],1>}");
  EXPECT_EQ(Text(rec), "R<'self'=V{<'self','n'><[RecArray:2],1>},'n'=1>");
  // A formatter given from outside counts its own entries first.
  KQSClassFormatter f;
  f.Push(KQSValue(3));
  std::ostringstream out;
  rec.FormattedOutput(out, &f);
  EXPECT_EQ(out.str(), "R<'self'=V{<'self','n'><[RecArray:3],1>},'n'=1>");
  RowOf(rec)->SetColumn(KQSValue(), 1);  // break the cycle
}

// ===== Random operations against a model =====

// The model: column names and rows of ints (kUndef for Undefined).
constexpr int kUndef = -1000000;

struct Model {
  std::vector<std::string> names;
  std::vector<std::vector<int>> rows;
};

void ExpectSame(KRZTable* t, const Model& m, std::mt19937& rng, int step) {
  SCOPED_TRACE("step " + std::to_string(step));
  ASSERT_EQ(t->Length(), static_cast<long>(m.rows.size()));
  ASSERT_EQ(NamesOf(t), m.names);
  auto check = [&](size_t i) {
    const KQSValue* v = t->GetArray(static_cast<long>(i + 1));
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(RowOf(t->GetRow(static_cast<long>(i + 1)))->Width(),
              static_cast<long>(m.names.size()));
    for (size_t c = 0; c < m.names.size(); ++c) {
      if (m.rows[i][c] == kUndef)
        ASSERT_TRUE(v[c].IsUndefined()) << "row " << i + 1 << " col " << c + 1;
      else
        ASSERT_EQ(static_cast<int>(v[c]), m.rows[i][c]) << "row " << i + 1 << " col " << c + 1;
    }
  };
  // In order (one step per row), then in a random order (cache jumps).
  for (size_t i = 0; i < m.rows.size(); ++i) check(i);
  std::vector<size_t> order(m.rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  for (size_t i : order) check(i);
}

TEST_F(KRZTableTest, RandomOperationsMatchAModel) {
  std::mt19937 rng(20261206);
  Table t({"c0", "c1"});
  Model m{{"c0", "c1"}, {}};
  int next = 1;
  int nextName = 2;
  auto pick = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
  for (int step = 0; step < 1500; ++step) {
    const long rows = static_cast<long>(m.rows.size());
    const long width = static_cast<long>(m.names.size());
    switch (pick(0, 9)) {
      case 0:
      case 1: {  // insert rows from a List, possibly shorter than the width
        const long pos = pick(1, rows + 1), count = pick(1, 3), n = pick(0, width);
        std::vector<int> vals;
        for (long i = 0; i < n; ++i) vals.push_back(next++);
        KQSValue l = Ints(vals);
        t->InsertRowAt(pos, count, &l);
        std::vector<int> row(static_cast<size_t>(width), kUndef);
        std::copy(vals.begin(), vals.end(), row.begin());
        m.rows.insert(m.rows.begin() + (pos - 1), static_cast<size_t>(count), row);
        break;
      }
      case 2: {  // delete a range, possibly running past the end
        if (rows == 0) break;
        const long from = pick(1, rows), to = from + pick(0, 3);
        EXPECT_TRUE(t->DeleteRows(from, to));
        m.rows.erase(m.rows.begin() + (from - 1), m.rows.begin() + std::min(to, rows));
        break;
      }
      case 3: {  // set one row's values
        if (rows == 0) break;
        const long i = pick(1, rows);
        std::vector<int> vals;
        for (long c = 0; c < width; ++c) vals.push_back(next++);
        t->SetRowValues(Ints(vals), i);
        m.rows[static_cast<size_t>(i - 1)] = vals;
        break;
      }
      case 4: {  // add a column by name
        if (width >= 8) break;
        const std::string name = "c" + std::to_string(nextName++);
        t->AddColumn(KQSValue(name.c_str()));
        m.names.push_back(name);
        for (auto& r : m.rows) r.push_back(kUndef);
        break;
      }
      case 5: {  // insert a column
        if (width >= 8) break;
        const long pos = pick(1, width + 1);
        const std::string name = "c" + std::to_string(nextName++);
        EXPECT_EQ(t->InsertColumnAt(KQSValue(name.c_str()), pos), pos);
        m.names.insert(m.names.begin() + (pos - 1), name);
        for (auto& r : m.rows) r.insert(r.begin() + (pos - 1), kUndef);
        break;
      }
      case 6: {  // delete columns
        if (width <= 1) break;
        const long from = pick(1, width), to = pick(from, std::min(width, from + 1));
        EXPECT_TRUE(t->DeleteColumns(from, to));
        m.names.erase(m.names.begin() + (from - 1), m.names.begin() + to);
        for (auto& r : m.rows) r.erase(r.begin() + (from - 1), r.begin() + to);
        break;
      }
      case 7: {  // change the length
        const long n = pick(0, rows + 2);
        t->Length(n);
        m.rows.resize(static_cast<size_t>(n), std::vector<int>(static_cast<size_t>(width), kUndef));
        break;
      }
      case 8: {  // set one value through the values array
        if (rows == 0 || width == 0) break;
        const long i = pick(1, rows), c = pick(1, width);
        t->GetArray(i)[c - 1] = KQSValue(next);
        m.rows[static_cast<size_t>(i - 1)][static_cast<size_t>(c - 1)] = next++;
        break;
      }
      case 9: {  // read a few random rows (moves the cache)
        for (int k = 0; k < 3 && rows > 0; ++k) t->GetRow(pick(1, rows));
        break;
      }
    }
    if (step % 10 == 0 || step > 1400) ExpectSame(t.t, m, rng, step);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
