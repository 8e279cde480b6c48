// KString: capacity rule, sharing, copy on write, comparison.
#include "vxkernel/text/KString.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>

// operator new that fails on request and counts live blocks (not in sanitizer builds).
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VXK_TEST_NO_NEW_HOOK 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VXK_TEST_NO_NEW_HOOK 1
#endif

#ifndef VXK_TEST_NO_NEW_HOOK
namespace {
std::atomic<int> gAllocationsBeforeFailure{-1};
std::atomic<long> gLiveBlocks{0};
}  // namespace

void* operator new(size_t n) {
  const int left = gAllocationsBeforeFailure.load();
  if (left == 0) throw std::bad_alloc();
  if (left > 0) gAllocationsBeforeFailure.store(left - 1);
  void* p = std::malloc(n != 0 ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  ++gLiveBlocks;
  return p;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  --gLiveBlocks;
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
#endif

namespace {

bool SharesEmpty(const KString& s) { return s.Ref() == &KString::gEmptyRef; }

TEST(KStringTest, EveryEmptyStringSharesTheStaticRepresentation) {
  char text[] = "x";
  KString a;
  KString b("");
  KString c(nullptr);
  KString d(text, 0);
  KString e(nullptr, 5);
  KString f = KString::KStringFromPtr(nullptr);
  for (const KString* s : {&a, &b, &c, &d, &e, &f}) {
    EXPECT_TRUE(SharesEmpty(*s));
    EXPECT_EQ(s->Length(), 0u);
    EXPECT_STREQ(static_cast<const char*>(*s), "");
  }
  // Copies of the empty string leave its count alone.
  KString g(a);
  KString h;
  h = g;
  EXPECT_EQ(KString::gEmptyRef.fRefCount, 1);
  EXPECT_EQ(KString::gEmptyRef.fCapacity, 0u);
}

TEST(KStringTest, CapacityDoublesThenGrowsByAThird) {
  struct Case {
    uint32_t length, capacity;
  } cases[] = {{1, 47}, {3, 47}, {15, 47}, {16, 47}, {20, 47}, {24, 63}, {48, 111},
               {8159, 16319}, {8160, 10895}, {9000, 12015}};
  for (const Case& c : cases) {
    std::string text(c.length, 'q');
    KString s(text.data(), c.length);
    EXPECT_EQ(s.Capacity(), c.capacity) << c.length;
    EXPECT_EQ(KString::KStringRef::CapacityFor(c.length), c.capacity) << c.length;
  }
}

TEST(KStringTest, AppendsRunInPlaceUntilCapacityIsReached) {
  KString s("abc");
  ASSERT_EQ(s.Capacity(), 47u);
  const char* text = s;
  for (int i = 0; i < 44; ++i) {
    s += 'x';
    ASSERT_EQ(static_cast<const char*>(s), text);
    ASSERT_EQ(s.Capacity(), 47u);
  }
  EXPECT_EQ(s.Length(), 47u);
  s += 'y';
  EXPECT_EQ(s.Length(), 48u);
  EXPECT_EQ(s.Capacity(), 111u);  // 2 * 48 | 15
  EXPECT_EQ(std::string(s), "abc" + std::string(44, 'x') + "y");
  s += std::string(100, 'z').c_str();  // 148 bytes: 296 | 15
  EXPECT_EQ(s.Capacity(), 303u);
  EXPECT_EQ(s.Length(), 148u);
}

TEST(KStringTest, AppendingToOrFromTheEmptyString) {
  KString s;
  s += 'a';
  EXPECT_FALSE(SharesEmpty(s));
  EXPECT_EQ(s.Capacity(), 47u);
  KString t;
  t += "hello";
  EXPECT_EQ(t, "hello");
  EXPECT_TRUE(SharesEmpty(KString()));
  // Appending nothing changes nothing, not even the representation.
  const KString::KStringRef* rep = t.Ref();
  t += '\0';
  t += static_cast<const char*>(nullptr);
  t += "";
  t += KString();
  EXPECT_EQ(t.Ref(), rep);
  EXPECT_EQ(t.Length(), 5u);
  KString e;
  e += '\0';
  EXPECT_TRUE(SharesEmpty(e));
}

TEST(KStringTest, CopiesShareUntilOneIsWritten) {
  KString a("shared");
  {
    KString b = a;
    KString c;
    c = b;
    EXPECT_EQ(a.Ref(), b.Ref());
    EXPECT_EQ(a.Ref()->fRefCount, 3);
    const KString& self = c;
    c = self;  // self-assignment keeps the count
    EXPECT_EQ(a.Ref()->fRefCount, 3);
    b += '!';  // copies first
    EXPECT_EQ(a, "shared");
    EXPECT_EQ(a.Length(), 6u);
    EXPECT_EQ(b, "shared!");
    EXPECT_EQ(a.Ref()->fRefCount, 2);
  }
  EXPECT_EQ(a.Ref()->fRefCount, 1);  // c let go when it went
  KString d(a);
  d.DropReference();
  EXPECT_TRUE(SharesEmpty(d));
  EXPECT_EQ(a.Ref()->fRefCount, 1);
  a = "other";
  EXPECT_EQ(a, "other");
  a = nullptr;
  EXPECT_TRUE(SharesEmpty(a));
  KString e("x");
  e.DropReference();
  EXPECT_TRUE(SharesEmpty(e));
}

TEST(KStringTest, StringAppendsHandleAliasing) {
  KString s("abcd");
  s += s;
  EXPECT_EQ(s, "abcdabcd");
  s += static_cast<const char*>(s) + 6;  // a pointer into our own text
  EXPECT_EQ(s, "abcdabcdcd");
  std::string big(40, 'z');
  KString t(big.c_str());  // capacity 95, length 40
  t += static_cast<const char*>(t);     // in place
  t += static_cast<const char*>(t) + 1;  // 80 + 79 > 95: out of place
  EXPECT_EQ(std::string(t), std::string(159, 'z'));
  t = static_cast<const char*>(t) + 150;
  EXPECT_EQ(t, "zzzzzzzzz");
}

TEST(KStringTest, LargeAppendsMatchStdString) {
  KString s;
  std::string model;
  for (int i = 0; i < 20000; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    s += c;
    model += c;
    if (i % 7 == 0) {
      s += "0123456789";
      model += "0123456789";
    }
  }
  ASSERT_EQ(s.Length(), model.size());
  EXPECT_EQ(std::string(s, s.Length()), model);
  EXPECT_GE(s.Capacity(), s.Length());
}

TEST(KStringTest, LengthConstructorKeepsEmbeddedNul) {
  const char bytes[] = {'a', '\0', 'b'};
  KString s(bytes, 3);
  EXPECT_EQ(s.Length(), 3u);
  EXPECT_EQ(s[2], 'b');
  EXPECT_EQ(s, KString("a"));
  EXPECT_EQ(s, "a");
  EXPECT_EQ(s <=> KString("a"), std::weak_ordering::equivalent);
  std::ostringstream out;
  out << s;
  EXPECT_EQ(out.str(), "a");
}

TEST(KStringTest, IndexOutsideTheTextGivesZero) {
  KString s("abc");
  EXPECT_EQ(s[0], 'a');
  EXPECT_EQ(s[2], 'c');
  EXPECT_EQ(s[-1], '\0');
  EXPECT_EQ(s[3], '\0');
  EXPECT_EQ(s[1 << 30], '\0');
  EXPECT_EQ(KString()[0], '\0');
}

TEST(KStringTest, ConcatenationUsesTheCapacityRule) {
  KString a("abc");
  KString b = a + "defghijklmnopqrstu";  // 21 bytes
  EXPECT_EQ(b, "abcdefghijklmnopqrstu");
  EXPECT_EQ(b.Capacity(), 47u);
  EXPECT_EQ(a, "abc");
  KString same = a + "";
  EXPECT_EQ(same.Ref(), a.Ref());
  EXPECT_EQ((a + static_cast<const char*>(nullptr)).Ref(), a.Ref());
  EXPECT_EQ((a + KString()).Ref(), a.Ref());
  EXPECT_EQ(KString() + a, "abc");
  const char bytes[] = {'x', '\0', 'y'};
  KString withNul = a + KString(bytes, 3);
  EXPECT_EQ(withNul.Length(), 6u);
  EXPECT_EQ(withNul[5], 'y');
}

TEST(KStringTest, OrderingMatchesUnsignedByteOrder) {
  const char* texts[] = {"", "a", "ab", "abc", "b", "B", "\x7f", "\x80", "\xff", "a\xe9"};
  for (const char* x : texts) {
    for (const char* y : texts) {
      const int expected = std::string(x).compare(y);  // char_traits<char> compares unsigned
      KString a(x);
      KString b(y);
      EXPECT_EQ(a == b, expected == 0) << x << " " << y;
      EXPECT_EQ(a != b, expected != 0);
      EXPECT_EQ(a < b, expected < 0);
      EXPECT_EQ(a > y, expected > 0);
      EXPECT_EQ(a <= y, expected <= 0);
      EXPECT_EQ(x >= b, expected >= 0);
    }
  }
  EXPECT_TRUE(KString("a") == static_cast<const char*>(nullptr));  // null compares equal
}

TEST(KStringTest, LowerAndUpperMakeNewStrings) {
  KString s("MiXeD 123");
  KString lower = s.Lower();
  KString upper = s.Upper();
  EXPECT_EQ(lower, "mixed 123");
  EXPECT_EQ(upper, "MIXED 123");
  EXPECT_EQ(s, "MiXeD 123");
  EXPECT_NE(lower.Ref(), s.Ref());
  const char bytes[] = {'A', '\0', 'B'};
  KString n = KString(bytes, 3).Lower();  // bytes after the NUL are copied untouched
  EXPECT_EQ(n.Length(), 3u);
  EXPECT_EQ(n[0], 'a');
  EXPECT_EQ(n[2], 'B');
  EXPECT_TRUE(SharesEmpty(KString().Upper()));
}

TEST(KStringTest, FromPtrAdoptsTheBuffer) {
  char* p = new char[6];
  std::memcpy(p, "hello", 6);
  KString s = KString::KStringFromPtr(p);
  EXPECT_EQ(static_cast<const char*>(s), p);
  EXPECT_EQ(s.Length(), 5u);
  EXPECT_EQ(s.Capacity(), 5u);
  s += '!';  // full: moves to a new representation
  EXPECT_EQ(s, "hello!");
  EXPECT_EQ(s.Capacity(), 47u);  // 32 | 15 for length 6
  KString e = KString::KStringFromPtr(new char[1]{'\0'});  // freed, empty
  EXPECT_TRUE(SharesEmpty(e));
}

#ifndef VXK_TEST_NO_NEW_HOOK
// A failed allocation throws, and the string keeps its text and sharing; nothing leaks.
TEST(KStringTest, FailedAllocationLeavesTheStringAsItWas) {
  KString a("shared text");
  KString b(a);
  const long live = gLiveBlocks.load();
  gAllocationsBeforeFailure.store(0);
  EXPECT_THROW(b += " and more", std::bad_alloc);
  EXPECT_THROW(b = "replacement", std::bad_alloc);
  EXPECT_THROW(b += 'x', std::bad_alloc);
  EXPECT_THROW(KString("built"), std::bad_alloc);
  gAllocationsBeforeFailure.store(-1);
  EXPECT_EQ(gLiveBlocks.load(), live);
  EXPECT_EQ(b, "shared text");
  EXPECT_EQ(b.Ref(), a.Ref());
  EXPECT_EQ(a.Ref()->fRefCount, 2);
  b += "!";
  EXPECT_EQ(b, "shared text!");
}
#endif

}  // namespace
