// KStack: last in, first out, for values and for copied elements.
#include "vxkernel/text/KStack.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/debug_capture.h"

namespace {

TEST(KStackTest, EmptyStackGivesNullAndReportsNothing) {
  DebugCapture capture;
  KStack s;
  EXPECT_EQ(s.Pop(), nullptr);
  EXPECT_EQ(s.TopOfStack(), nullptr);
  long out = 5;
  EXPECT_FALSE(s.PopElement(&out));
  EXPECT_FALSE(s.TopOfStackElement(&out));
  EXPECT_EQ(out, 5);
  EXPECT_EQ(capture.All(), "");
}

TEST(KStackTest, PopsInReverseOrderAgainstVectorModel) {
  KStack s;
  std::vector<long> model;
  for (long i = 1; i <= 100; ++i) {
    s.Push(reinterpret_cast<void*>(i * 3));
    model.push_back(i * 3);
    if (i % 4 == 0) {
      EXPECT_EQ(reinterpret_cast<long>(s.Pop()), model.back());
      model.pop_back();
    }
    EXPECT_EQ(reinterpret_cast<long>(s.TopOfStack()), model.back());
  }
  EXPECT_EQ(s.NumElements(), model.size());
  while (!model.empty()) {
    EXPECT_EQ(reinterpret_cast<long>(s.Pop()), model.back());
    model.pop_back();
  }
  EXPECT_TRUE(s.IsEmpty());
}

TEST(KStackTest, ElementStackCopiesWholeElements) {
  struct Frame {
    int a;
    double b;
    char c[11];
  };
  KStack s(sizeof(Frame));
  for (int i = 0; i < 30; ++i) {
    Frame f{i, i * 0.5, "frame"};
    s.PushElement(&f);
  }
  Frame top{};
  ASSERT_TRUE(s.TopOfStackElement(&top));
  EXPECT_EQ(top.a, 29);
  for (int i = 29; i >= 0; --i) {
    Frame f{};
    ASSERT_TRUE(s.PopElement(&f));
    EXPECT_EQ(f.a, i);
    EXPECT_EQ(f.b, i * 0.5);
    EXPECT_STREQ(f.c, "frame");
  }
  EXPECT_TRUE(s.IsEmpty());
}

}  // namespace
