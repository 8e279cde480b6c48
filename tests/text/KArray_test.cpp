// KArray and KArrayIter: growth, bad indices, deletion, search.
#include "vxkernel/text/KArray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/debug_capture.h"

namespace {

void* V(long n) { return reinterpret_cast<void*>(n); }
long N(void* v) { return reinterpret_cast<long>(v); }

class KArrayTest : public ::testing::Test {
 protected:
  // Fills fArray with the given values from index 1.
  void Fill(std::initializer_list<long> values) {
    for (long v : values) fArray.AddSelement(V(v));
  }
  std::vector<long> Contents() const {
    std::vector<long> out;
    for (unsigned long i = 1; i <= fArray.NumElements(); ++i) out.push_back(N(fArray[i]));
    return out;
  }
  // Every slot past the count reads as zero (stretched over, read, cut back).
  void ExpectTailIsZero() {
    const unsigned long count = fArray.NumElements();
    const unsigned long allocated = fArray.AllocatedElements();
    if (allocated == count) return;
    fArray.PutSelementAt(nullptr, allocated);
    const std::vector<long> all = Contents();
    fArray.DeleteElementsBetween(count + 1, allocated);
    EXPECT_EQ(std::vector<long>(all.begin() + count, all.end()),
              std::vector<long>(allocated - count, 0));
    EXPECT_EQ(fArray.NumElements(), count) << "after the cut back";
    EXPECT_EQ(fArray.AllocatedElements(), allocated) << "after the cut back";
  }

  KArray fArray;
  DebugCapture fCapture;
};

TEST_F(KArrayTest, PutPastTheEndGrowsAndZeroFills) {
  ASSERT_TRUE(fArray.PutSelementAt(V(99), 10));
  EXPECT_EQ(Contents(), (std::vector<long>{0, 0, 0, 0, 0, 0, 0, 0, 0, 99}));
  EXPECT_EQ(fArray.AllocatedElements(), 24u);  // 10 + bumper 14
  ExpectTailIsZero();
  // A large request grows by a sixteenth.
  EXPECT_TRUE(fArray.PutSelementAt(V(1), 320));
  EXPECT_EQ(fArray.AllocatedElements(), 340u);
  EXPECT_EQ(fCapture.All(), "");
}

TEST_F(KArrayTest, BadIndicesReportAndChangeNothing) {
  Fill({1, 2, 3});
  long dest = 7;
  EXPECT_EQ(fArray.GetSelementAt(0), nullptr);
  EXPECT_EQ(fArray.GetSelementAt(4), nullptr);
  EXPECT_EQ(fArray[~0ul], nullptr);
  EXPECT_FALSE(fArray.GetElementAt(&dest, 9));
  EXPECT_FALSE(fArray.PutSelementAt(V(5), 0));
  EXPECT_FALSE(fArray.PutSelementAt(V(5), fArray.MaxElements() + 1));
  EXPECT_FALSE(fArray.PutSelementAt(V(5), 1ul << 40));
  EXPECT_EQ(dest, 7);
  const std::vector<std::string> texts = fCapture.Texts();  // one for each refusal
  ASSERT_EQ(texts.size(), 7u);
  EXPECT_EQ(texts[1], "Array: Getting illegal Selement 4\n");
  EXPECT_EQ(texts[2], "Array: Getting illegal Selement 18446744073709551615\n");
  EXPECT_EQ(texts[5], "Array: Putting illegal array element 268435456");
  EXPECT_EQ(Contents(), (std::vector<long>{1, 2, 3}));
}

// A value insert refuses at the limit, an element insert only past it.
TEST_F(KArrayTest, InsertShiftsAndRefusesAtTheLimit) {
  Fill({1, 2, 3});
  fArray.InsertSelementAt(V(10), 0);  // 0 and 1 both mean the front
  fArray.InsertSelementAt(V(11), 1);
  fArray.InsertSelementAt(V(12), 4);
  fArray.InsertSelementAt(V(13), 8);  // past the end: a put
  EXPECT_EQ(Contents(), (std::vector<long>{11, 10, 1, 12, 2, 3, 0, 13}));
  fArray.MaxElements(8);
  EXPECT_FALSE(fArray.InsertSelementAt(V(14), 2));
  EXPECT_EQ(fArray.NumElements(), 8u);
  KArray a(4);
  const int x = 1;
  a.MaxElements(2);
  ASSERT_TRUE(a.AddElement(&x));
  ASSERT_TRUE(a.AddElement(&x));
  EXPECT_TRUE(a.InsertElementAt(&x, 1));   // at the limit
  EXPECT_FALSE(a.InsertElementAt(&x, 1));  // past it
  EXPECT_EQ(a.NumElements(), 3u);
  EXPECT_EQ(fCapture.Texts(),
            (std::vector<std::string>{"Array index too large 8", "Array index too large 3"}));
}

// Empty or too long ranges are silent no-ops, a 0 index is reported; the block stays when
// everything goes.
TEST_F(KArrayTest, DeleteRanges) {
  Fill({1, 2, 3, 4, 5, 6});
  EXPECT_FALSE(fArray.DeleteElementsBetween(2, 1));
  EXPECT_FALSE(fArray.DeleteElementsBetween(1, 7));
  EXPECT_EQ(fCapture.All(), "");
  EXPECT_FALSE(fArray.DeleteElementsBetween(0, 3));
  EXPECT_FALSE(fArray.DeleteElementsBetween(3, 0));
  EXPECT_EQ(fCapture.All(), "DeleteBetween got a 0 index.\nDeleteBetween got a 0 index.\n");
  EXPECT_TRUE(fArray.DeleteElementsBetween(2, 4));
  EXPECT_EQ(Contents(), (std::vector<long>{1, 5, 6}));
  ExpectTailIsZero();
  EXPECT_TRUE(fArray.DeleteElementAt(3));
  EXPECT_EQ(Contents(), (std::vector<long>{1, 5}));
  EXPECT_TRUE(fArray.DeleteElementsBetween(1, 2));
  EXPECT_TRUE(fArray.IsEmpty());
  EXPECT_EQ(fArray.AllocatedElements(), 15u);  // 1 + bumper 14
}

TEST_F(KArrayTest, RemoveAndFind) {
  Fill({7, 8, 7, 9});
  EXPECT_EQ(fArray.FindSelement(V(7)), 3u);  // from the end
  EXPECT_EQ(fArray.FindSelement(V(42)), 0u);
  EXPECT_TRUE(fArray.RemoveSelement(V(7)));
  EXPECT_EQ(Contents(), (std::vector<long>{8, 7, 9}));  // the first went
  EXPECT_FALSE(fArray.RemoveSelement(V(42)));
  EXPECT_FALSE(fArray.AddUniqueSelement(V(9)));
  EXPECT_TRUE(fArray.AddUniqueSelement(V(10)));
  // A comparison sees (slot value, key, pointer size).
  auto parity = [](const void* a, const void* b, size_t size) {
    EXPECT_EQ(size, sizeof(void*));
    return static_cast<int>(reinterpret_cast<long>(a) % 2 - reinterpret_cast<long>(b) % 2);
  };
  EXPECT_EQ(fArray.FindSelement(V(1), parity), 3u);  // 9 is the last odd value
  EXPECT_EQ(fArray.LastSelement(), V(10));
  EXPECT_EQ(fArray.FirstSelement(), V(8));
}

TEST_F(KArrayTest, ElementOperationsCopyBytes) {
  struct Item {
    char name[6];
    short n;
  };
  KArray a(sizeof(Item));
  const Item items[] = {{"one", 1}, {"two", 2}, {"three", 3}, {"two", 2}};
  for (const Item& it : items) a.AddElement(&it);
  EXPECT_EQ(a.FindElement(&items[1]), 4u);
  EXPECT_FALSE(a.AddUniqueElement(&items[2]));
  EXPECT_TRUE(a.RemoveElement(&items[1]));  // the last match goes
  EXPECT_EQ(a.NumElements(), 3u);
  Item out{};
  ASSERT_TRUE(a.GetElementAt(&out, 2));
  EXPECT_STREQ(out.name, "two");
  const Item front{"zero", 0};
  a.InsertElementAt(&front, 1);
  KArrayIter it(&a);
  std::vector<short> seen;
  while (it.Next(&out)) seen.push_back(out.n);
  EXPECT_EQ(seen, std::vector<short>({0, 1, 2, 3}));
  EXPECT_FALSE(it.IsMore());
}

// Ascending data, empty arrays and misses at either end are in the lower_bound comparison below.
TEST_F(KArrayTest, BinarySearchWithADescendingComparison) {
  auto reversed = [](const void* a, const void* b, size_t) {
    return static_cast<int>(reinterpret_cast<long>(b) - reinterpret_cast<long>(a));
  };
  KArray desc;
  for (long v : {30L, 20L, 10L}) desc.AddSelement(V(v));
  EXPECT_EQ(desc.BsearchSelement(V(10), reversed), 3);
  EXPECT_EQ(desc.BsearchSelement(V(25), reversed), -2);
}

// Against std::lower_bound on random sorted data, with duplicates: a hit must hold the key, a miss
// must name the insertion position.
TEST_F(KArrayTest, BinarySearchMatchesLowerBound) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 200; ++round) {
    std::vector<long> data(rng() % 60);
    for (long& d : data) d = static_cast<long>(rng() % 100) - 50;
    std::sort(data.begin(), data.end());
    KArray values;
    KArray ints(sizeof(int));
    for (long d : data) {
      values.AddSelement(V(d));
      const int i = static_cast<int>(d);
      ints.AddElement(&i);
    }
    auto intCmp = [](const void* a, const void* b, size_t) {
      return *static_cast<const int*>(a) - *static_cast<const int*>(b);  // small: no overflow
    };
    for (long key = -52; key <= 52; ++key) {
      const long lower = std::lower_bound(data.begin(), data.end(), key) - data.begin();
      const bool present = std::binary_search(data.begin(), data.end(), key);
      const int ikey = static_cast<int>(key);
      for (long got : {values.BsearchSelement(V(key)), ints.BsearchElement(&ikey, intCmp)}) {
        if (!present) {
          ASSERT_EQ(got, -(lower + 1)) << key;
          continue;
        }
        ASSERT_GT(got, 0) << key;
        ASSERT_EQ(data[got - 1], key);
      }
    }
  }
}

TEST_F(KArrayTest, VisitorsAndPredicates) {
  Fill({1, 0, 3, 4});
  static std::vector<long> order;
  long arg = 100;
  fArray.ForEach([](void* v) { order.push_back(N(v)); });
  fArray.ForEachNotNull([](void* v) { order.push_back(N(v)); });
  fArray.ForEach1([](void* v, void* a) { order.push_back(N(v) + *static_cast<long*>(a)); }, &arg);
  fArray.For1Each([](void* a, void* v) { order.push_back(N(v) - *static_cast<long*>(a)); }, &arg);
  fArray.ForEach(nullptr);
  KArray shorts(sizeof(short));  // other element sizes visit element addresses
  for (short s : {5, 6}) shorts.AddElement(&s);
  shorts.ForEach([](void* p) { order.push_back(*static_cast<short*>(p)); });
  EXPECT_EQ(order, (std::vector<long>{1, 0, 3, 4, 1, 3, 4, 101, 100, 103, 104, -99, -100, -97, -96,
                                      5, 6}));
  auto even = [](void* v) { return N(v) % 2 == 0; };
  EXPECT_EQ(fArray.FirstSuccess(even), V(0));
  EXPECT_EQ(fArray.FirstFailure(even), V(1));
  EXPECT_EQ(fArray.FirstSuccess(nullptr), nullptr);
}

TEST_F(KArrayTest, QsortAndResize) {
  Fill({5, 3, 9, 1});
  fArray.Qsort([](const void* a, const void* b) {  // small values: no overflow
    return static_cast<int>(N(*static_cast<void* const*>(a)) - N(*static_cast<void* const*>(b)));
  });
  EXPECT_EQ(Contents(), (std::vector<long>{1, 3, 5, 9}));
  fArray.ArrayResize(2);
  EXPECT_EQ(fArray.AllocatedElements(), 2u);
  EXPECT_EQ(Contents(), (std::vector<long>{1, 3}));
  fArray.ArrayResize(40);
  EXPECT_EQ(fArray.AllocatedElements(), 54u);  // 40 + bumper
  EXPECT_TRUE(fArray.PutSelementAt(V(8), 40));
  EXPECT_EQ(fArray.GetSelementAt(3), nullptr);
  fArray.ArrayResize(0);
  EXPECT_EQ(fArray.NumElements(), 0u);
  EXPECT_EQ(fArray.AllocatedElements(), 0u);
  EXPECT_TRUE(fArray.AddSelement(7L));
  EXPECT_EQ(fArray.FirstSelement(), V(7));
}

TEST_F(KArrayTest, CopiesAreIndependent) {
  Fill({1, 2});
  KArray copy(fArray), assigned;
  copy.PutSelementAt(V(9), 1);
  EXPECT_EQ(Contents(), (std::vector<long>{1, 2}));
  assigned = copy;
  const KArray& self = assigned;
  assigned = self;
  EXPECT_EQ(N(assigned[1]), 9);
  EXPECT_EQ(assigned.NumElements(), 2u);
  KArrayIter it(&assigned);
  KArrayIter second = it;
  EXPECT_EQ(N(it.Next()), 9);
  EXPECT_EQ(N(second.Next()), 9);  // the copy walks on its own
  EXPECT_EQ(N(it.Next()), 2);
  EXPECT_EQ(it.Next(), nullptr);
  EXPECT_FALSE(KArrayIter(nullptr).IsMore());
  EXPECT_EQ(fCapture.All(), "");
}

// The limit follows the element size; no size means one pointer.
TEST_F(KArrayTest, OddElementSizesStayInsideTheBlock) {
  EXPECT_EQ(KArray(3).MaxElements(), 0x7FFFFFFFul / 3);
  EXPECT_EQ(KArray(0).ElementSize(), static_cast<long>(sizeof(void*)));
  KArray bytes(1);
  EXPECT_TRUE(bytes.AddSelement(V(0x1234)));  // keeps the low byte
  EXPECT_EQ(N(bytes.GetSelementAt(1)), 0x34);
  EXPECT_TRUE(bytes.InsertSelementAt(V(0x55), 1));
  EXPECT_EQ(bytes.BsearchSelement(V(0x55), [](const void* a, const void* b,
                                              size_t n) { return std::memcmp(a, b, n); }),
            1);
  // Elements wider than a pointer: the comparison of BsearchSelement gets slot mid at
  // pointer-sized steps, so with three elements it first sees the second half of element 1.
  KArray wide(16);
  for (unsigned char i = 1; i <= 3; ++i) {
    unsigned char e[16];
    std::memset(e, 10 * i, 8);
    std::memset(e + 8, 10 * i + 5, 8);
    wide.AddElement(e);
  }
  static std::vector<int> seen;
  EXPECT_EQ(wide.BsearchSelement(V(0),
                                 [](const void* a, const void*, size_t) {
                                   seen.push_back(*static_cast<const unsigned char*>(a));
                                   return 1;
                                 }),
            -1);
  EXPECT_EQ(seen, (std::vector<int>{15, 10}));
  // Changing the element size re-slices the block rather than overrunning it.
  Fill({1, 2, 3});
  fArray.ElementSize(64);
  EXPECT_LE(fArray.NumElements() * 64, 14u * sizeof(void*));
  fArray.ElementSize(0);
  EXPECT_EQ(fArray.ElementSize(), static_cast<long>(sizeof(void*)));
  EXPECT_LE(fArray.NumElements(), fArray.AllocatedElements());
}

}  // namespace
