// KStack: last in, first out, for values and for copied elements.
#include "vxkernel/text/KStack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/debug_capture.h"

namespace {

// A value stack and a stack of whole elements against a vector model; empty, they give null and
// report nothing.
TEST(KStackTest, PopsInReverseOrderAgainstVectorModel) {
  struct Frame {
    long a;
    double b;
    char c[11];
  };
  KStack values, frames(sizeof(Frame));
  std::vector<long> model;
  auto pop = [&] {
    Frame f{}, top{};
    ASSERT_TRUE(frames.TopOfStackElement(&top));
    ASSERT_TRUE(frames.PopElement(&f));
    EXPECT_EQ(f.a, model.back());
    EXPECT_EQ(top.a, f.a);
    EXPECT_EQ(f.b, f.a * 0.5);
    EXPECT_STREQ(f.c, "frame");
    EXPECT_EQ(reinterpret_cast<long>(values.Pop()), model.back());
    model.pop_back();
  };
  for (long i = 1; i <= 100; ++i) {
    values.Push(reinterpret_cast<void*>(i * 3));
    Frame f{i * 3, i * 1.5, "frame"};
    frames.PushElement(&f);
    model.push_back(i * 3);
    if (i % 4 == 0) pop();
    EXPECT_EQ(reinterpret_cast<long>(values.TopOfStack()), model.back());
  }
  EXPECT_EQ(values.NumElements(), model.size());
  EXPECT_EQ(frames.NumElements(), model.size());
  while (!model.empty()) pop();
  Frame out{-1, 0, ""};
  ExpectDebug({}, [&] {
    EXPECT_EQ(values.Pop(), nullptr);
    EXPECT_EQ(values.TopOfStack(), nullptr);
    EXPECT_FALSE(frames.PopElement(&out));
    EXPECT_FALSE(frames.TopOfStackElement(&out));
    EXPECT_TRUE(values.IsEmpty());
  });
  EXPECT_EQ(out.a, -1);
}

}  // namespace
