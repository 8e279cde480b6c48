// The value binary form: exact bytes per type, a random round trip against
// an encoder written here, and damaged, truncated and hostile input.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/debug_capture.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/classes/KQSClassFormatter.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueBase.h"

namespace {

using namespace valtest;
using Lines = std::vector<std::string>;

// "02 00 01" -> the three bytes, and back (for readable failures).
std::string B(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 3) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}
std::string H(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) out += (out.empty() ? "" : " ") + std::string{"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return out;
}

struct ReadResult {
  KQSValue value;
  long consumed;
  bool failed;
};

ReadResult Read(const std::string& bytes) {
  std::istringstream in(bytes);
  KQSClassCracker cracker;
  ReadResult r{KQSValue::ReadBinary(in, &cracker), 0, false};
  r.failed = in.fail();
  in.clear();
  r.consumed = static_cast<long>(in.tellg());
  return r;
}

TEST(ValueBinary, OneValueOfEachTypeEncodesExactly) {
  KQSValue emptied = KQSValue::List(KQSValue(1));
  emptied.ListAllocate(0);
  const KQSValue four = KQSValue::List(KQSValue(1), KQSValue(2), KQSValue(3), KQSValue(4));
  const std::pair<KQSValue, const char*> cases[] = {
      {KQSValue(), "00 00"},
      {KQSValue(-2), "02 00 fe ff ff ff"},
      {KQSValue::Boolean(1), "05 00 01"},
      {KQSValue("ab"), "ff ff 03 00 61 62 00"},
      {KQSValue(kString, static_cast<void*>(nullptr)), "ff ff 01 00 00"},  // null storage: ""
      {KQSValue(KString("a\0b", 3)), "ff ff 02 00 61 00"},  // text stops at a NUL
      {KQSValue::NewTypeCodeValue(KString("ab")), "7c ff 03 00 61 62 00"},
      {KQSValue::List(KQSValue(), KQSValue(7)), "fe ff 02 00 00 00 00 00 02 00 07 00 00 00"},
      {KQSValue::List(), "fe ff 00 00 00 00"},  // no storage
      {emptied, "fe ff 00 00 00 00"},
      {four.ListSubrange(2, 3), "fe ff 02 00 00 00 02 00 02 00 00 00 02 00 03 00 00 00"},
  };
  for (const auto& [value, hex] : cases) EXPECT_EQ(H(Binary(value)), hex);
}

TEST(ValueBinary, AFailingOutputStreamIsReportedOnce) {
  KQSClassFormatter f;
  std::ostringstream out;
  out.setstate(std::ios_base::badbit);
  ExpectDebug({"KQSClass_List::BinaryOutput() - write failed\n"},
              [&] { KQSValue::List(KQSValue(1), KQSValue::List(KQSValue(2))).WriteBinary(out, &f); });
}

TEST(ValueBinary, AnyBooleanByteButZeroIsTrueAndACallerMayReadTheCode) {
  for (const char* byte : {"00", "01", "80", "ff"}) {
    const KQSValue v = Read(B(std::string("05 00 ") + byte)).value;
    EXPECT_EQ(H(Binary(v)), std::string(byte) == "00" ? "05 00 00" : "05 00 01") << byte;
  }
  std::istringstream in(B("07 00 00 00"));
  KQSClassCracker cracker;
  EXPECT_EQ(Text(KQSValue::ReadBinary(in, 2, &cracker)), "7");  // the code read by the caller
  EXPECT_TRUE(in.good());
}

TEST(ValueBinary, UnknownCodesAreReportedAndReadNothingMore) {
  DebugCapture capture;
  ReadResult r = Read(B("34 12 02 00 01 00 00 00"));
  EXPECT_TRUE(r.value.IsUndefined());
  EXPECT_FALSE(r.failed);
  EXPECT_EQ(r.consumed, 2);
  EXPECT_EQ(capture.Texts(), Lines{"KQSValue::ReadBinary( 4660 ) class not found\n"});
  for (const char* code : {"ff 6f", "05 ff", "00 80"}) {  // 28671, -251, -32768: outside every table
    capture.Clear();
    EXPECT_TRUE(Read(B(code)).value.IsUndefined()) << code;
    EXPECT_EQ(capture.Texts().size(), 1u) << code;
  }
  // Inside a List the element is Undefined; reading goes on after its code.
  EXPECT_EQ(Text(Read(B("fe ff 02 00 00 00 34 12 02 00 07 00 00 00")).value), "{?,7}");
}

TEST(ValueBinary, ClassesWithoutBinaryFormWriteAndReadNothingAndSaySo) {
  const struct {
    KQSValue value;
    const char* code;
    const char* name;
  } cases[] = {
      // One class with storage, one immediate, one container and one
      // without a code of its own: all of them report through KQSClass.
      {KQSValue(2.5), "fc ff", "Real"},
      {KQSValue::Error(5), "01 00", "Error"},
      {NewAssoc(), "ee ff", "Assoc"},
      {KQSValue::NotSet(), nullptr, "NotSet"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string("...class=") + c.name + "\n";
    if (c.value.Type() != kAssoc) {
      ExpectDebug({"KQSClass::BinaryOutput() Must be implemented" + name}, [&] { EXPECT_EQ(Binary(c.value), ""); });
    }
    if (c.code == nullptr) continue;
    ExpectDebug({"KQSClass::BinaryInput() Must be implemented" + name}, [&] {
      ReadResult r = Read(B(c.code) + B("02 00 01 00 00 00"));
      EXPECT_TRUE(r.value.IsUndefined());
      EXPECT_FALSE(r.failed);
      EXPECT_EQ(r.consumed, 2);
    });
  }
  // A List asks each element's own class: it writes its count and the other elements only.
  DebugCapture capture;
  EXPECT_EQ(H(Binary(KQSValue::List(KQSValue(2.5), KQSValue(1)))), "fe ff 02 00 00 00 02 00 01 00 00 00");
}

TEST(ValueBinary, AClaimedCountIsBelievedOnlyAsFarAsTheBytesGo) {
  // 2^31 - 1 elements claimed over six bytes: ends at once, nothing held.
  ReadResult huge = Read(B("fe ff ff ff ff 7f"));
  EXPECT_TRUE(huge.failed);
  EXPECT_TRUE(huge.value.IsList());
  EXPECT_EQ(huge.value.ListEntries(), 0);
  EXPECT_EQ(Read(B("fe ff ff ff ff 7f 00 00 00 00 00 00")).value.ListEntries(), 3);
  // A negative count is an empty List; what follows is left for the caller.
  ReadResult negative = Read(B("fe ff 00 00 00 80 02 00"));
  EXPECT_FALSE(negative.failed);
  EXPECT_EQ(negative.value.ListEntries(), 0);
  EXPECT_EQ(negative.consumed, 6);
  // A counted string claiming 2 GB over ten bytes.
  ReadResult text = Read(B("ff ff ff ff ff ff ff 7f 61 62"));
  EXPECT_TRUE(text.failed);
  EXPECT_TRUE(text.value.IsUndefined());
}

TEST(ValueBinary, InvalidStringCountsReadAsTheEmptyString) {
  DebugCapture capture;
  ReadResult zero = Read(B("ff ff 00 00 61"));
  EXPECT_EQ(Str(zero.value.String()), "");
  EXPECT_EQ(zero.consumed, 4);
  EXPECT_EQ(capture.Texts().size(), 1u);
  EXPECT_EQ(Str(Read(B("ff ff ff ff 03 00 00 00 61 62 00")).value.String()), "ab");
}

long Depth(const KQSValue& v) {
  long depth = 0;
  for (KQSValue x = v; x.IsList(); x = x.ListGetValue(1)) ++depth;
  return depth;
}

TEST(ValueBinary, ListsNestUpTo512Levels) {
  DebugCapture capture;
  std::string levels;
  for (int i = 0; i < 512; ++i) levels += B("fe ff 01 00 00 00");
  const std::string deepest = levels + B("02 00 2a 00 00 00"), deeper = B("fe ff 01 00 00 00") + deepest;
  ReadResult ok = Read(deepest);
  EXPECT_EQ(ok.consumed, static_cast<long>(deepest.size()));
  EXPECT_EQ(Depth(ok.value), 512);
  EXPECT_EQ(Binary(ok.value), deepest);
  EXPECT_TRUE(capture.Texts().empty());
  // Level 513 reads as Undefined; its count and contents stay unread.
  ReadResult cut = Read(deeper);
  EXPECT_FALSE(cut.failed);
  EXPECT_EQ(Depth(cut.value), 512);
  EXPECT_EQ(cut.consumed, static_cast<long>(deeper.size()) - 4 - 6);
  EXPECT_EQ(capture.Texts(), Lines{"KQSClass_List::BinaryInput() Lists nested deeper than 512 levels\n"});
}

// The expected form of a value, built without the library.
struct Model {
  short type = 0;
  int32_t integer = 0;
  bool boolean = false;
  std::string text;  // String and TypeCode; never holds a NUL
  std::vector<Model> elements;
};

Model IntegerModel(int32_t v) { return Model{kInteger, v, false, "", {}}; }
Model BooleanModel(bool b) { return Model{kBoolean, 0, b, "", {}}; }
Model TextModel(short type, const std::string& text) { return Model{type, 0, false, text, {}}; }
Model ListModel(std::vector<Model> elements) { return Model{kList, 0, false, "", std::move(elements)}; }

void Put(std::string& out, uint32_t v, int size) {
  for (int i = 0; i < size; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Encode(const Model& m, std::string& out) {
  Put(out, static_cast<uint16_t>(m.type), 2);
  if (m.type == kInteger) Put(out, static_cast<uint32_t>(m.integer), 4);
  if (m.type == kBoolean) out += m.boolean ? '\x01' : '\x00';
  if (m.type == kString || m.type == kTypeCode) {
    const uint32_t n = static_cast<uint32_t>(m.text.size() + 1);
    if (n < 0x8000) Put(out, n, 2);
    else Put(out, 0xFFFF, 2), Put(out, n, 4);
    out += m.text + '\0';
  }
  if (m.type == kList) {
    Put(out, static_cast<uint32_t>(m.elements.size()), 4);
    for (const Model& e : m.elements) Encode(e, out);
  }
}

KQSValue Build(const Model& m) {
  const KString text(m.text.data(), static_cast<unsigned>(m.text.size()));
  switch (m.type) {
    case kInteger: return KQSValue(static_cast<int>(m.integer));
    case kBoolean: return KQSValue::Boolean(m.boolean ? 1 : 0);
    case kString: return KQSValue(text);
    case kTypeCode: return KQSValue::NewTypeCodeValue(text);
    case kList: {
      KQSValue l = KQSValue::List();
      for (const Model& e : m.elements) l.ListAppendValue(Build(e));
      return l;
    }
    default: return KQSValue();
  }
}

Model RandomModel(std::mt19937& rng, int depth) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const short types[] = {kUndefined, kInteger, kBoolean, kString, kTypeCode, kList};
  Model m;
  m.type = types[pick(depth < 5 ? 6 : 5)];
  m.integer = m.type == kInteger ? static_cast<int32_t>(rng()) : 0;
  m.boolean = m.type == kBoolean && pick(2) == 1;
  if (m.type == kString || m.type == kTypeCode) {
    const int lengths[] = {0, 1, 2, 7, 254, 255, 256, 4095, 4097, 32766, 32767, 40000};
    const int n = pick(40) == 0 ? lengths[pick(12)] : pick(12);
    for (int i = 0; i < n; ++i) m.text += static_cast<char>(1 + pick(255));
  }
  for (int i = m.type == kList ? pick(6) : 0; i > 0; --i) m.elements.push_back(RandomModel(rng, depth + 1));
  return m;
}

// First the counted-string boundary on both sides (a count of 32767 is the
// last short one) and a List longer than any buffer, then random values.
Model RoundModel(std::mt19937& rng, int round) {
  if (round < 3) {
    const size_t lengths[] = {32766, 32767, 40000};
    return ListModel({TextModel(round == 1 ? kTypeCode : kString, std::string(lengths[round], 'q')), IntegerModel(round)});
  }
  if (round == 3) return ListModel(std::vector<Model>(50000, IntegerModel(-7)));
  return RandomModel(rng, 0);
}

TEST(ValueBinary, RandomNestedValuesMatchTheIndependentEncoder) {
  const unsigned seed = 20261206;
  std::mt19937 rng(seed);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    const Model model = RoundModel(rng, round);
    std::string expected;
    Encode(model, expected);
    const KQSValue value = Build(model);
    ASSERT_EQ(Binary(value), expected);
    ReadResult r = Read(expected);
    ASSERT_FALSE(r.failed);
    ASSERT_EQ(r.consumed, static_cast<long>(expected.size()));
    ASSERT_EQ(r.value, value);
    ASSERT_EQ(Binary(r.value), expected);
  }
}

// Every proper prefix: the reader stops inside it, fails the stream and
// keeps only complete elements, which write and read back unchanged.
TEST(ValueBinary, EveryTruncationIsSafe) {
  const Model model = ListModel({
      IntegerModel(-5), TextModel(kString, std::string(300, 'x')),
      ListModel({BooleanModel(true), Model(), TextModel(kTypeCode, "Thing")}),
      TextModel(kString, std::string(33000, 'y')), IntegerModel(77), });
  std::string good;
  Encode(model, good);
  DebugCapture capture;  // keeps the byte readers' lines out of the output
  for (size_t cut = 0; cut < good.size(); cut += (cut > 400 && cut < good.size() - 20) ? 97 : 1) {
    ReadResult r = Read(good.substr(0, cut));
    ASSERT_TRUE(r.failed) << cut;
    ASSERT_LE(r.consumed, static_cast<long>(cut)) << cut;
    ASSERT_TRUE(r.value.IsUndefined() || r.value.IsList()) << cut;
    ASSERT_LE(r.value.ListEntries(), static_cast<long>(model.elements.size())) << cut;
    for (long i = 1; i <= r.value.ListEntries(); ++i) {
      ASSERT_EQ(Binary(r.value.ListGetValue(i)), Binary(Build(model.elements[static_cast<size_t>(i - 1)]))) << cut;
    }
    const std::string again = Binary(r.value);
    ASSERT_EQ(Binary(Read(again).value), again) << cut;
  }
}

}  // namespace
