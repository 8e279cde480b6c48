// VX_ValueSetPtr and VX_ValueGetPtr: boxes made, replaced in place and read
// through handles, and the status codes of values that are not Ptrs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/started_process.h"
#include "vxkernel/clientapi/vx_value.h"

namespace {

// Handles freed at the end of each test.
class VxPtrTest : public ::testing::Test {
 protected:
  VXVALUE Alloc() {
    VXVALUE h = nullptr;
    EXPECT_EQ(VX_ValueAlloc(&h), VX_OK);
    fHandles.push_back(h);
    return h;
  }
  void TearDown() override {
    for (VXVALUE h : fHandles) VX_ValueFree(h);
  }
  static long Type(VXVALUE h) {
    long t = 0;
    EXPECT_EQ(VX_ValueGetType(h, &t), VX_OK);
    return t;
  }
  static std::string String(VXVALUE h) {
    const char* s = nullptr;
    return VX_ValueGetStringPtr(h, &s) == VX_OK ? std::string(s) : std::string("<not a String>");
  }

 private:
  std::vector<VXVALUE> fHandles;
};

TEST_F(VxPtrTest, SetMakesAPtrHoldingACopyOrItselfAndGetReadsIt) {
  VXVALUE p = Alloc(), src = Alloc(), out = Alloc();
  ASSERT_EQ(VX_ValueSetString(src, "report.pdf"), VX_OK);
  ASSERT_EQ(VX_ValueSetPtr(p, src), VX_OK);
  EXPECT_EQ(Type(p), 17);
  ASSERT_EQ(VX_ValueGetPtr(p, out), VX_OK);
  EXPECT_EQ(String(out), "report.pdf");
  // The box holds a copy: changing the source handle leaves it alone.
  ASSERT_EQ(VX_ValueSetInteger(src, 5), VX_OK);
  ASSERT_EQ(VX_ValueGetPtr(p, out), VX_OK);
  EXPECT_EQ(String(out), "report.pdf");
  // A value becomes a Ptr holding itself.
  ASSERT_EQ(VX_ValueSetString(src, "self"), VX_OK);
  ASSERT_EQ(VX_ValueSetPtr(src, src), VX_OK);
  EXPECT_EQ(Type(src), 17);
  ASSERT_EQ(VX_ValueGetPtr(src, out), VX_OK);
  EXPECT_EQ(String(out), "self");
}

TEST_F(VxPtrTest, SettingAPtrReplacesTheHeldValueInPlace) {
  VXVALUE p = Alloc(), copy = Alloc(), src = Alloc(), out = Alloc();
  ASSERT_EQ(VX_ValueSetInteger(src, 1), VX_OK);
  ASSERT_EQ(VX_ValueSetPtr(p, src), VX_OK);
  ASSERT_EQ(VX_ValueSetValue(copy, p), VX_OK);
  long before = 0, after = 0;
  ASSERT_EQ(VX_ValueGetInstance(p, &before), VX_OK);
  ASSERT_EQ(VX_ValueSetInteger(src, 2), VX_OK);
  ASSERT_EQ(VX_ValueSetPtr(p, src), VX_OK);
  ASSERT_EQ(VX_ValueGetInstance(p, &after), VX_OK);
  EXPECT_EQ(before, after);  // the same box
  long n = 0;
  ASSERT_EQ(VX_ValueGetPtr(copy, out), VX_OK);
  ASSERT_EQ(VX_ValueGetInteger(out, &n), VX_OK);
  EXPECT_EQ(n, 2);  // every copy sees the new value
}

TEST_F(VxPtrTest, OtherValuesAndBarePtrsAreTheWrongType) {
  VXVALUE v = Alloc(), out = Alloc();
  ASSERT_EQ(VX_ValueSetInteger(out, 77), VX_OK);
  EXPECT_EQ(VX_ValueGetPtr(v, out), VX_ERR_WRONG_TYPE);  // Undefined
  ASSERT_EQ(VX_ValueSetString(v, "text"), VX_OK);
  EXPECT_EQ(VX_ValueGetPtr(v, out), VX_ERR_WRONG_TYPE);
  // A Ptr made from a bare data word has no box.
  ASSERT_EQ(VX_ValueSetInstance(v, 17, 0), VX_OK);
  EXPECT_EQ(Type(v), 17);
  EXPECT_EQ(VX_ValueGetPtr(v, out), VX_ERR_WRONG_TYPE);
  long n = 0;
  ASSERT_EQ(VX_ValueGetInteger(out, &n), VX_OK);
  EXPECT_EQ(n, 77);  // out untouched on failure
  // Setting it makes a box.
  ASSERT_EQ(VX_ValueSetPtr(v, out), VX_OK);
  ASSERT_EQ(VX_ValueGetPtr(v, out), VX_OK);
  ASSERT_EQ(VX_ValueGetInteger(out, &n), VX_OK);
  EXPECT_EQ(n, 77);
  for (long status : {VX_ValueSetPtr(nullptr, out), VX_ValueSetPtr(v, nullptr),
                      VX_ValueGetPtr(nullptr, out), VX_ValueGetPtr(v, nullptr)})
    EXPECT_EQ(status, VX_ERR_WRONG_TYPE);  // null handles
}

TEST_F(VxPtrTest, TheDisplayTextNamesTheHeldClass) {
  VXVALUE p = Alloc(), src = Alloc(), text = Alloc();
  ASSERT_EQ(VX_ValueSetDouble(src, 2.5), VX_OK);
  ASSERT_EQ(VX_ValueSetPtr(p, src), VX_OK);
  ASSERT_EQ(VX_ValueGetFormatted(p, text), VX_OK);
  EXPECT_EQ(String(text), "Ptr(Real)");
}

}  // namespace
