// VX_ValueSetPtr and VX_ValueGetPtr: boxes made, replaced in place and read
// through handles, and the status codes of values that are not Ptrs.
#include <gtest/gtest.h>

#include <string>

#include "support/started_process.h"
#include "vxkernel/clientapi/vx_value.h"

namespace {

// The formatted text of h, or "!<status>" when a call fails.
std::string Text(VXVALUE h) {
  VXVALUE t = nullptr;
  const char* s = nullptr;
  long status = VX_ValueAlloc(&t);
  if (status == VX_OK) status = VX_ValueGetFormatted(h, t);
  if (status == VX_OK) status = VX_ValueGetStringPtr(t, &s);
  const std::string text = status == VX_OK ? s : "!" + std::to_string(status);
  VX_ValueFree(t);
  return text;
}

// What p's box holds, read through out.
std::string Held(VXVALUE p, VXVALUE out) {
  const long status = VX_ValueGetPtr(p, out);
  return status == VX_OK ? Text(out) : "!" + std::to_string(status);
}

TEST(VxPtr, BoxesHoldACopyAreReplacedInPlaceAndOtherValuesAreTheWrongType) {
  VXVALUE p = nullptr, copy = nullptr, src = nullptr, out = nullptr, v = nullptr;
  for (VXVALUE* h : {&p, &copy, &src, &out, &v}) ASSERT_EQ(VX_ValueAlloc(h), VX_OK);
  long box = 0, again = 0, type = 0;
  for (long s : {VX_ValueSetString(src, "report.pdf"), VX_ValueSetPtr(p, src),
                 VX_ValueSetValue(copy, p), VX_ValueGetInstance(p, &box), VX_ValueSetInteger(src, 5)})
    ASSERT_EQ(s, VX_OK);
  EXPECT_EQ(Held(p, out), "report.pdf");  // a copy: the source handle moved on
  ASSERT_EQ(VX_ValueSetDouble(src, 2.5), VX_OK);
  ASSERT_EQ(VX_ValueSetPtr(p, src), VX_OK);
  ASSERT_EQ(VX_ValueGetInstance(p, &again), VX_OK);
  EXPECT_EQ(again, box);  // the same box, so every copy sees the new value
  EXPECT_EQ(Held(copy, out), "G2.5");
  EXPECT_EQ(Text(p), "Ptr(Real)");
  ASSERT_EQ(VX_ValueSetString(v, "self"), VX_OK);
  ASSERT_EQ(VX_ValueSetPtr(v, v), VX_OK);  // a Ptr holding itself
  EXPECT_EQ(Held(v, out), "self");
  // Undefined, a String, and a Ptr made from a bare data word (no box) fail
  // and leave out as it was; setting the last one makes a box.
  const std::string wrong = "!" + std::to_string(VX_ERR_WRONG_TYPE);
  ASSERT_EQ(VX_ValueSetInteger(out, 77), VX_OK);
  ASSERT_EQ(VX_ValueSetUndefined(p), VX_OK);
  ASSERT_EQ(VX_ValueSetInstance(v, 17, 0), VX_OK);
  EXPECT_EQ(Held(p, out), wrong);
  EXPECT_EQ(Held(src, out), wrong);
  EXPECT_EQ(Held(v, out), wrong);
  EXPECT_EQ(Text(out), "77");
  ASSERT_EQ(VX_ValueGetType(v, &type), VX_OK);
  EXPECT_EQ(type, 17);
  ASSERT_EQ(VX_ValueSetPtr(v, out), VX_OK);
  EXPECT_EQ(Held(v, out), "77");
  for (long status : {VX_ValueSetPtr(nullptr, out), VX_ValueSetPtr(v, nullptr),
                      VX_ValueGetPtr(nullptr, out), VX_ValueGetPtr(v, nullptr)})
    EXPECT_EQ(status, VX_ERR_WRONG_TYPE);  // null handles
  for (VXVALUE h : {p, copy, src, out, v}) VX_ValueFree(h);
}

}  // namespace
