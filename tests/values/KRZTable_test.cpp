// Record tables: the shared names row, whole-table operations, the Record's
// features and text forms, and a std::vector model of random operations.
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

using namespace valtest;
using Names = std::vector<std::string>;

struct Table {
  explicit Table(const Names& names) : Table(new KRZTable(Strings(names))) {}
  explicit Table(KRZTable* table) : t(table), v(KRZTable::MakeValue(table)) {}
  KRZTable* operator->() const { return t; }
  void Rows(const std::vector<std::vector<long>>& rows) const {
    for (const auto& r : rows) {
      KQSValue l = Ints(r);
      t->AddRow(&l);
    }
  }
  std::string Row(long i) const { return Text(t->GetRowValues(i)); }
  std::string All() const {
    std::string all;
    for (long i = 1; i <= t->Length(); ++i) all += Row(i);
    return all;
  }
  KRZTable* t;
  KQSValue v;
};

KRZRow* RowOf(const KQSValue& record) { return KRZRow::FromValue(record); }

class KRZTableTest : public ::testing::Test {
  NoNewStorage fRecords{kRecord};
  NoNewStorage fTables{kRecArray};
};

TEST_F(KRZTableTest, ColumnNamesMatchWithoutRegardToCaseAndRenamesMayDuplicate) {
  Table t({"A", "B"});
  t.Rows({{1, 2}, {1, 2}});
  EXPECT_EQ(t->GetColIndex("b"), 2);
  EXPECT_EQ(t->GetColIndex(nullptr), 0);
  // A name already there adds nothing; a List adds its new names; neither String nor List: nothing.
  EXPECT_EQ(t->AddColumn(KQSValue("a")), 2);
  EXPECT_EQ(t->AddColumn(Strings({"C", "a", "D", "c"})), 4);
  EXPECT_EQ(t->AddColumn(KQSValue(7)), 4);
  EXPECT_EQ(Text(t->ColNames()), "{'A','B','C','D'}");
  EXPECT_EQ(t.Row(2), "{1,2,?,?}");
  EXPECT_TRUE(t->RenameColumn(1, "B"));
  EXPECT_EQ(t->GetColIndex("B"), 2);  // the later wins
  EXPECT_EQ(t->GetColIndex("A"), 0);
}

TEST_F(KRZTableTest, EveryRowSharesTheNamesRowAndASharedRecordIsWidenedOnce) {
  Table t({"A"});
  KQSValue l = Ints({5});
  KQSValue record = KRZRow::MakeValue(new KRZRow(t->Names(), &l));
  t->AddRecord(record), t->AddRows(2, &record), t->AddRows(1, nullptr);  // three rows hold the same Record
  EXPECT_EQ(t->GetRow(3).Instance(), record.Instance());
  EXPECT_EQ(RowOf(t->GetRow(4))->Names().Instance(), t->Names().Instance());
  EXPECT_TRUE(RowOf(t->Names())->IsNamesRow());
  EXPECT_FALSE(RowOf(t->GetRow(4))->IsNamesRow());
  t->AddColumn(KQSValue("B")), t->InsertColumnAt(KQSValue("Z"), 1);
  EXPECT_EQ(Text(record), "R<'Z'=?,'A'=5,'B'=?>");
  EXPECT_TRUE(t->RenameColumn(3, "Q"));
  EXPECT_EQ(RowOf(t->GetRow(4))->GetColIndex("q"), 3);
  EXPECT_TRUE(t->DeleteColumns(1, 2));
  EXPECT_EQ(Text(record), "R<'Q'=?>");
  Table sibling(new KRZTable(t.t));
  EXPECT_EQ(sibling->Names().Instance(), t->Names().Instance());
  EXPECT_EQ(sibling->Length(), 0);
}

TEST_F(KRZTableTest, ARowThatIsNoListIsUndefinedAndARecordOutlivesItsTables) {
  Table t({"A", "B"}), u({"A", "B"});
  KQSValue other(5);
  t->AddRow(&other);
  EXPECT_TRUE(t->GetRow(1).IsUndefined());
  EXPECT_EQ(t->GetArray(1), nullptr);
  EXPECT_TRUE(t->GetRowValues(1).IsList());
  KQSValue l = Ints({1, 2});
  KQSValue record = KRZRow::MakeValue(new KRZRow(Strings({"A", "B"}), &l));
  EXPECT_EQ(t->AddRecord(record).Instance(), record.Instance());
  u->AddRecord(record), t->SetRowValues(Ints({9}), 2);
  EXPECT_EQ(u.Row(1), "{9,2}");
  t.v.Undefine(), u.v.Undefine();
  EXPECT_EQ(Text(record), "R<'A'=9,'B'=2>");
}

TEST_F(KRZTableTest, InsertTableAtCopiesOnlyColumnsOfTheSameNameAndCloneCopiesAll) {
  Table t({"A", "B"}), o({"b", "X"});
  t.Rows({{1, 2}, {1, 2}});
  o.Rows({{30, 40}, {50, 60}});
  EXPECT_EQ(t->InsertTableAt(o.t, 2), 2);
  EXPECT_EQ(t->AppendTable(o.t), 2);
  EXPECT_EQ(t.All(), "{1,2}{?,30}{?,50}{1,2}{?,30}{?,50}");  // other's X is dropped
  EXPECT_EQ(t->InsertTableAt(nullptr, 1), 0);
  EXPECT_EQ(t->InsertTableAt(o.t, 8), 0);
  EXPECT_EQ(Table(new KRZTable())->InsertTableAt(o.t, 1), 0);  // no columns
  Table self({"A"});
  self.Rows({{1}, {2}, {3}});
  EXPECT_EQ(self->InsertTableAt(self.t, 2), 3);
  EXPECT_EQ(self.All(), "{1}{1}{2}{3}{2}{3}");
  // A clone has its own names and records but shares the values.
  KQSValue l = KQSValue::List(KQSValue("text"), KQSValue(2));
  t->AddRows(2, &l);
  t->CtxLong(7);
  Table c(t->CloneRZTable());
  EXPECT_NE(c->Names().Instance(), t->Names().Instance());
  EXPECT_NE(c->GetRow(1).Instance(), t->GetRow(1).Instance());
  EXPECT_EQ(RowOf(c->GetRow(1))->Names().Instance(), c->Names().Instance());
  EXPECT_EQ(c->CtxLong(), 0);
  EXPECT_EQ(c->GetArray(7)[0].Instance(), t->GetArray(7)[0].Instance());
  c->AddColumn(KQSValue("C"));
  c->SetRowValues(Ints({9}), 2);
  EXPECT_EQ(t.Row(2), "{?,30}");
  EXPECT_EQ(c.Row(2), "{9,30,?}");
  EXPECT_EQ(c.Row(8), "{'text',2,?}");
}

int ByFirstColumnDescending(const void* a, const void* b) {
  const KRZRow* ra = **static_cast<KRZTableRow* const*>(a);
  const KRZRow* rb = **static_cast<KRZTableRow* const*>(b);
  return static_cast<int>(rb->GetColumn(1)) - static_cast<int>(ra->GetColumn(1));
}

TEST_F(KRZTableTest, QsortReordersTheRowsAndResetsTheCache) {
  Table t({"K"});
  t.Rows({{5}, {3}, {9}, {1}, {7}});
  EXPECT_EQ(t.Row(4), "{1}");  // caches row 4
  t->Qsort(&ByFirstColumnDescending);
  std::string backward;
  for (long i = 5; i >= 1; --i) backward += std::to_string(static_cast<int>(t->GetArray(i)[0]));
  EXPECT_EQ(t.All(), "{9}{7}{5}{3}{1}");
  EXPECT_EQ(backward, "13579");  // the prev links were rebuilt too
  DebugCapture capture;
  t->Qsort(nullptr);
  EXPECT_NE(capture.All().find("KRZTable::Qsort"), std::string::npos);
}

TEST_F(KRZTableTest, ARowOnItsOwnKeepsStringNamesAndRefusesImpossibleWidths) {
  KQSValue values = Ints({1, 2, 3, 4});
  KQSValue r = KRZRow::MakeValue(new KRZRow(KQSValue::List("a", 3, "c"), &values));
  KRZRow* row = RowOf(r);
  EXPECT_EQ(Text(row->ColNames()), "{'a',?,'c'}");
  EXPECT_EQ(Text(row->GetRow()), "{1,2,3}");
  KQSValue arr[2] = {KQSValue(8), KQSValue(9)};
  EXPECT_FALSE(row->SetRow(KQSValue(1)));
  EXPECT_TRUE(row->SetRow(Ints({7})));
  EXPECT_TRUE(row->SetArray(2, arr));
  EXPECT_EQ(Text(row->GetRow()), "{8,9,3}");
  EXPECT_EQ(row->InsertColumnAt(2, 2), 2);
  EXPECT_EQ(row->AddColumn(1), 6);
  row->DeleteColumns(1, 2);
  row->DeleteColumns(4, 5);  // beyond the width: nothing
  EXPECT_EQ(Text(row->GetRow()), "{?,9,3,?}");
  DebugCapture capture;
  EXPECT_EQ(row->InsertColumnAt(6, 1), 0);
  EXPECT_EQ(row->InsertColumnAt(1, LONG_MAX - 1), 0);  // refused before allocating
  EXPECT_EQ(row->AddColumns(LONG_MAX), 4);
  EXPECT_EQ(row->Width(), 4);
  EXPECT_EQ(RowOf(KRZRow::MakeValue(new KRZRow(row->Names(), nullptr)))->Width(), 3);
  EXPECT_EQ(RowOf(KRZRow::MakeValue(new KRZRow(KQSValue(5), nullptr)))->Width(), 0);
  EXPECT_EQ(capture.Texts().size(), 4u);
  EXPECT_NE(capture.All().find("KRZRow::AddColumns - too many columns (width, added): 4, "), std::string::npos);
}

TEST_F(KRZTableTest, RecordDotAndSubscripts) {
  Table t({"Name", "Size"});
  KQSValue l = KQSValue::List(KQSValue("report.pdf"), KQSValue(4096));
  KQSValue rec = t->AddRow(&l), out;
  EXPECT_TRUE(rec.IsFeature(KQSValue("size")));
  EXPECT_FALSE(rec.IsFeature(KQSValue(1)));
  EXPECT_EQ(rec.DotValueGet(KQSValue("SIZE"), nullptr), KQSValue(4096));
  ExpectDebug({"KRZRow::Dot - no such column: 'owner'\n"}, [&] { EXPECT_EQ(rec.Dot(KQSValue("owner"), out, nullptr), 0); });
  EXPECT_EQ(out, KQSValue::Error(0x26AD000F));
  EXPECT_EQ(rec.DotValuePut(KQSValue("name"), KQSValue("x")), 0);
  EXPECT_EQ(rec.DotValuePut(KQSValue("owner"), KQSValue("x")), 0x26AD000F);
  // A Record takes one index, a RecArray one or two.
  EXPECT_EQ(rec.Subscript(KQSValue(1), KQSValue(2), out), KRZRow::kBadSubscript);
  EXPECT_EQ(rec.Subscript(KQSValue(3), KQSValue(3), out), 0);
  EXPECT_TRUE(out.IsUndefined());
  EXPECT_EQ(t.v.Subscript(KQSValue(1), KQSValue(1), out), 0);
  EXPECT_EQ(out.Instance(), rec.Instance());
  EXPECT_EQ(t.v.SubscriptValuePut(KQSValue(1), KQSValue(2), KQSValue(5)), 0);
  EXPECT_EQ(rec.SubscriptValuePut(KQSValue(3), KQSValue(3), KQSValue(5)), KRZRow::kBadSubscript);
  EXPECT_EQ(rec.Subscript(KQSValue(2), KQSValue(2), out), 0);
  EXPECT_EQ(Text(out), "5");
  EXPECT_EQ(Text(rec), "R<'Name'='x','Size'=5>");
  EXPECT_EQ(rec.Length(), 2);
  EXPECT_EQ(t.v.Length(), 1);
}

TEST_F(KRZTableTest, TextFormsWithUnnamedColumnsAndBackReferences) {
  Table t({"x", "y"});
  t.Rows({{1, 2}, {3, 4}});
  EXPECT_EQ(Text(t->GetRow(2)), "R<'x'=3,'y'=4>");
  EXPECT_EQ(Text(t->Names()), "R<'x'='x','y'='y'>");
  EXPECT_EQ(Text(Table(new KRZTable()).v), "V{<>}");
  t->AddRows(1, nullptr);
  t->InsertColumnAt(KQSValue(), 1);  // an unnamed column
  EXPECT_EQ(Text(t.v), "V{<?,'x','y'><?,1,2><?,3,4><?,?,?>}");
  EXPECT_EQ(Str(t->ReferenceDebugStr(0).String()), "\tRecArray has 3 records; ColNames: ?, x, y");
  EXPECT_EQ(Str(RowOf(t->GetRow(1))->ReferenceDebugStr(0).String()), "?, x, y");
  KQSValue rec = t->GetRow(1);
  RowOf(rec)->SetColumn(rec, 1);
  EXPECT_EQ(Text(rec), "R<?=[Record:1],'x'=1,'y'=2>");
  RowOf(rec)->SetColumn(t.v, 1);
  EXPECT_EQ(Text(rec).substr(0, 24), "R<?=V{<?,'x','y'><[RecAr");
  // A formatter given from outside counts its own entries first.
  KQSClassFormatter f;
  f.Push(KQSValue(3));
  std::ostringstream out;
  rec.FormattedOutput(out, &f);
  EXPECT_EQ(out.str().substr(0, 34), "R<?=V{<?,'x','y'><[RecArray:3],1,2");
  RowOf(rec)->SetColumn(KQSValue(), 1);  // break the cycle
}

constexpr int kUndef = -1000000;  // the model's Undefined

struct Model {
  Names names;
  std::vector<std::vector<int>> rows;
};

void ExpectSame(KRZTable* t, const Model& m, std::mt19937& rng) {
  ASSERT_EQ(t->Length(), static_cast<long>(m.rows.size()));
  std::string names = "{";
  for (const std::string& n : m.names) names += (names.size() > 1 ? ",'" : "'") + n + "'";
  ASSERT_EQ(Text(t->ColNames()), names + "}");
  const long width = static_cast<long>(m.names.size());
  auto check = [&](size_t i) {
    const long n = static_cast<long>(i + 1);
    const KQSValue* v = t->GetArray(n);
    const KRZRow* row = RowOf(t->GetRow(n));
    ASSERT_NE(v, nullptr) << "row " << n;
    ASSERT_EQ(row->Width(), width) << "row " << n;
    ASSERT_TRUE(row->GetColumn(width + 1).IsUndefined()) << "row " << n;
    ASSERT_TRUE(row->GetColumn(0).IsUndefined()) << "row " << n;
    for (size_t c = 0; c < m.names.size(); ++c) {
      const KQSValue want = m.rows[i][c] == kUndef ? KQSValue() : KQSValue(m.rows[i][c]);
      ASSERT_EQ(v[c], want) << "row " << n << " col " << c + 1;
    }
  };
  // In order (one step per row), then in a random order (cache jumps).
  std::vector<size_t> order(m.rows.size());
  for (size_t i = 0; i < order.size(); ++i) check(order[i] = i);
  std::shuffle(order.begin(), order.end(), rng);
  for (size_t i : order) check(i);
  ASSERT_TRUE(t->GetRow(0).IsUndefined());
  ASSERT_TRUE(t->GetRow(t->Length() + 1).IsUndefined());
}

TEST_F(KRZTableTest, RandomOperationsMatchAModel) {
  const unsigned seed = 20261206;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  Table t({"c0", "c1"});
  Model m{{"c0", "c1"}, {}};
  int next = 1, nextName = 2;
  DebugCapture capture;  // the refusals' lines
  auto pick = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
  auto fresh = [&](long n) {  // n values never used before
    std::vector<long> vals(static_cast<size_t>(n));
    for (long& x : vals) x = next++;
    return vals;
  };
  for (int step = 0; step < 1500; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    const long rows = static_cast<long>(m.rows.size()), width = static_cast<long>(m.names.size());
    const std::string name = "c" + std::to_string(nextName);
    switch (pick(0, 10)) {
      case 0:
      case 1: {  // insert rows from a List, possibly shorter than the width
        const long pos = pick(1, rows + 1), count = pick(1, 3);
        const std::vector<long> vals = fresh(pick(0, width));
        KQSValue l = Ints(vals);
        ASSERT_TRUE(t->InsertRowAt(pos, count, &l).IsDefined());
        std::vector<int> row(static_cast<size_t>(width), kUndef);
        std::copy(vals.begin(), vals.end(), row.begin());
        m.rows.insert(m.rows.begin() + (pos - 1), static_cast<size_t>(count), row);
        break;
      }
      case 2: {  // delete a range, possibly running past the end
        if (rows == 0) break;
        const long from = pick(1, rows), to = from + pick(0, 3);
        ASSERT_TRUE(t->DeleteRows(from, to));
        m.rows.erase(m.rows.begin() + (from - 1), m.rows.begin() + std::min(to, rows));
        break;
      }
      case 3: {  // set one row's values
        if (rows == 0) break;
        const long i = pick(1, rows);
        const std::vector<long> vals = fresh(width);
        t->SetRowValues(Ints(vals), i);
        m.rows[static_cast<size_t>(i - 1)].assign(vals.begin(), vals.end());
        break;
      }
      case 4:
      case 5: {  // add a column at the end or insert one
        if (width >= 8) break;
        const long pos = pick(0, 1) ? width + 1 : pick(1, width + 1);
        const long got = pos == width + 1 ? t->AddColumn(KQSValue(name.c_str()))
                                          : t->InsertColumnAt(KQSValue(name.c_str()), pos);
        ASSERT_EQ(got, pos);
        ++nextName;
        m.names.insert(m.names.begin() + (pos - 1), name);
        for (auto& r : m.rows) r.insert(r.begin() + (pos - 1), kUndef);
        break;
      }
      case 6: {  // delete columns
        if (width <= 1) break;
        const long from = pick(1, width), to = pick(from, std::min(width, from + 1));
        ASSERT_TRUE(t->DeleteColumns(from, to));
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
      case 9: {  // refused ranges and names already present: nothing changes
        const long past = rows + 1 + pick(0, 2);
        ASSERT_FALSE(t->DeleteRows(past, past + pick(0, 2)));
        ASSERT_FALSE(t->DeleteRows(0, pick(0, rows)));
        if (rows > 1) {
          ASSERT_FALSE(t->DeleteRows(rows, rows - 1));
        }
        KQSValue l = Ints({1});
        ASSERT_TRUE(t->InsertRowAt(rows + 2, 1, &l).IsUndefined());
        ASSERT_TRUE(t->InsertRowAt(0, 1, &l).IsUndefined());
        ASSERT_TRUE(t->InsertRowAt(1, 0, &l).IsUndefined());
        ASSERT_FALSE(t->DeleteColumns(width + 1, width + 1));
        ASSERT_FALSE(t->DeleteColumns(0, 1));
        if (width > 1) {
          ASSERT_FALSE(t->DeleteColumns(2, 1));
        }
        std::string present = m.names[static_cast<size_t>(pick(0, width - 1))];
        present[0] = 'C';
        ASSERT_EQ(t->InsertColumnAt(KQSValue(name.c_str()), width + 2), 0);
        ASSERT_EQ(t->InsertColumnAt(KQSValue(present.c_str()), 1), 0);
        ASSERT_FALSE(t->RenameColumn(width + 1, "x"));
        ASSERT_FALSE(t->RenameColumn(0, "x"));
        break;
      }
      case 10:  // read a few random rows (moves the cache)
        for (int k = 0; k < 3 && rows > 0; ++k) t->GetRow(pick(1, rows));
        break;
    }
    if (step % 10 == 0 || step > 1400) ExpectSame(t.t, m, rng);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
