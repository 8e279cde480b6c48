// Random values of every readable type written, read back and written again
// in every text mode; Records against a case-insensitive std::map.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "support/child_process.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KRZRow.h"
#include "vxkernel/values/KRZTable.h"

namespace {

using namespace valtest;

// ASCII order without regard to case, folded to upper case ("_" after letters).
bool CaseLess(const std::string& a, const std::string& b) {
  const auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return upper(a[i]) < upper(b[i]);
  }
  return a.size() < b.size();
}
using NameMap = std::map<std::string, int, bool (*)(const std::string&, const std::string&)>;

// Random strings: any bytes; whole characters of a double-byte code page
// and maybe a lone lead byte at the end; or bytes with UTF-8 sequences.
enum class Alphabet { kBytes, kShiftJis, kGbk, kUtf8 };

class Generator {
 public:
  Generator(uint32_t seed, Alphabet alphabet) : fRng(seed), fAlphabet(alphabet) {}

  KQSValue Value(int depth) {
    const auto word = [this] { return static_cast<int32_t>(fRng()); };
    switch (Pick(depth < 5 ? 18 : 13)) {
      case 0: return KQSValue();
      case 1: return KQSValue(static_cast<int>(word()));
      case 2: return KQSValue::BlobId(word());
      case 3: return KQSValue::Boolean(static_cast<unsigned char>(Pick(2)));
      case 4: return KQSValue(GEOM_point{static_cast<int16_t>(word()), static_cast<int16_t>(word())});
      case 5: return KQSValue::NotSet();
      case 6: return KQSValue(Real());
      case 7: return KQSValue(static_cast<int64>((static_cast<uint64_t>(fRng()) << 32) | fRng()));
      case 8: return KQSValue(MakeDate(1 + Pick(9999), 1 + Pick(12), 1 + Pick(28), Pick(24), Pick(60), Pick(60)));
      case 9: {
        std::string b(Pick(12), ' ');
        for (char& c : b) c = static_cast<char>(fRng());
        return KQSValue::NewBytesValue(b.data(), static_cast<long>(b.size()));
      }
      case 10:
      case 11: return StringValue(Text(Pick(16)));
      case 12: {  // type code texts end at the next quote, so they hold none
        std::string t = Text(Pick(10));
        std::replace(t.begin(), t.end(), '\'', '.');
        return KQSValue::NewTypeCodeValue(KString(t.data(), static_cast<unsigned>(t.size())));
      }
      case 13:
      case 14: return Row(Pick(5), depth);
      case 15: {
        auto* a = new KAssocVal(Value(5));
        const KQSValue assoc(kAssoc, static_cast<void*>(a));
        for (int i = Pick(5); i > 0; --i) a->Add(Key(), Value(depth + 1));
        return assoc;
      }
      case 16: return Table(depth);
      default: return SortedRecord(depth);
    }
  }

  // Short ASCII names, so that the model's case-insensitive order is the library's.
  std::string Name() {
    static const char kLetters[] = "aAbBcCzZ_1";
    std::string n;
    for (int i = 1 + Pick(3); i > 0; --i) n += kLetters[Pick(10)];
    return n;
  }

  int Pick(int n) { return static_cast<int>(fRng() % static_cast<uint32_t>(n)); }

 private:
  // A double that 15 significant digits write exactly.
  double Real() {
    char text[64];
    const double raw = (static_cast<double>(fRng()) / 4294967296.0 - 0.5) * std::pow(10.0, Pick(40) - 20);
    std::snprintf(text, sizeof text, "%.15g", raw);
    return std::strtod(text, nullptr);
  }

  void Ascii(std::string& s) {
    static const char kSpecial[] = {'\'', '\\', '\n', '\r', '\t', '\0', '"', 'n', ',', '}', '>', '<'};
    if (Pick(2) == 0) s += kSpecial[Pick(sizeof kSpecial)];
    else s += static_cast<char>(0x20 + Pick(0x5F));
  }

  bool Lead(unsigned char b) const {
    if (fAlphabet == Alphabet::kShiftJis) return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    return b >= 0x81 && b <= 0xFE;
  }

  std::string Text(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      switch (fAlphabet) {
        case Alphabet::kBytes:
          if (Pick(3) == 0) s += static_cast<char>(0x80 + Pick(0x80));
          else Ascii(s);
          break;
        case Alphabet::kUtf8: {
          static const char* const kSequences[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC3",
                                                   "\xE2\x82", "\x80", "\xFF"};
          if (Pick(3) == 0) s += kSequences[Pick(7)];
          else Ascii(s);
          break;
        }
        case Alphabet::kShiftJis:
        case Alphabet::kGbk: {
          const int kind = Pick(4);
          // A lead byte, often at a range end, and a next byte often escaped
          // alone; or a high byte that leads nothing.
          static const unsigned char kEdgeLeads[] = {0x81, 0x9F, 0xA0, 0xE0, 0xFC, 0xFE};
          static const char kTrails[] = {'\\', '\'', '\0', '\n', '\r'};
          unsigned char b;
          if (kind == 0) {
            do b = static_cast<unsigned char>(Pick(2) ? kEdgeLeads[Pick(6)] : 0x81 + Pick(0x7E));
            while (!Lead(b));
            s += {static_cast<char>(b), static_cast<char>(Pick(2) ? kTrails[Pick(5)] : fRng())};
          } else if (kind == 1) {
            do b = static_cast<unsigned char>(0x80 + Pick(0x80));
            while (Lead(b));
            s += static_cast<char>(b);
          } else {
            Ascii(s);
          }
          break;
        }
      }
    }
    if (fAlphabet == Alphabet::kShiftJis && Pick(4) == 0) s += '\x95';  // lone lead byte
    if (fAlphabet == Alphabet::kGbk && Pick(4) == 0) s += '\xC4';
    return s;
  }

  KQSValue Key() { return Pick(3) == 0 ? KQSValue(Pick(100)) : KQSValue(Name().c_str()); }
  static KQSValue StringValue(const std::string& s) { return KQSValue(KString(s.data(), static_cast<unsigned>(s.size()))); }

  // Distinct names in case-insensitive order (a Record so named reads back unchanged).
  KQSValue SortedNames() {
    NameMap sorted(&CaseLess);
    for (int i = 1 + Pick(3); i > 0; --i) sorted.emplace(Name(), 0);
    KQSValue names = KQSValue::List();
    for (const auto& entry : sorted) names.ListAppendValue(KQSValue(entry.first.c_str()));
    return names;
  }
  KQSValue Row(long width, int depth) {  // a List of width values
    KQSValue row = KQSValue::List();
    for (long c = width; c > 0; --c) row.ListAppendValue(Value(depth + 1));
    return row;
  }
  KQSValue Table(int depth) {
    auto* table = new KRZTable(SortedNames());
    const KQSValue value = KRZTable::MakeValue(table);
    for (int r = Pick(4); r > 0; --r) {
      KQSValue row = Row(table->Width(), depth);
      table->AddRow(&row);
    }
    return value;
  }
  KQSValue SortedRecord(int depth) {
    const KQSValue names = SortedNames();
    KQSValue values = Row(names.ListEntries(), depth);
    return KRZRow::MakeValue(new KRZRow(names, &values));
  }

  std::mt19937 fRng;
  Alphabet fAlphabet;
};

std::string RoundTrip(const KQSValue& v, KQSClassCracker* cracker) {
  const std::string first = Str(v.FormattedString());
  std::istringstream in(first);
  KQSValue back;
  KQSValue::FormattedInput(in, back, cracker);
  const std::string second = Str(back.FormattedString());
  const bool consumed = in.rdbuf()->sgetc() == std::char_traits<char>::eof();
  // Tables and Records compare by identity; all else must read back equal.
  const bool comparable = first.find("V{") == std::string::npos && first.find("R<") == std::string::npos;
  if (first == second && consumed && !in.fail() && (!comparable || back == v)) return "";
  return "wrote " + first + " read back as " + second + " consumed=" + std::to_string(consumed) +
         " failed=" + std::to_string(in.fail()) + " equal=" + std::to_string(back == v) + "\n";
}

std::string RoundTrips(uint32_t seed, Alphabet alphabet, KQSClassCracker* cracker, int count) {
  Generator g(seed, alphabet);
  std::string failures;
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    const std::string f = RoundTrip(g.Value(0), cracker);
    if (!f.empty() && ++failed <= 5) failures += f;
  }
  return failures;
}

TEST(ValueTextRoundTrip, SingleByteModeWithAndWithoutCracker) {
  EXPECT_EQ(RoundTrips(1, Alphabet::kBytes, nullptr, 2000), "");
  KQSClassCracker single;
  EXPECT_EQ(RoundTrips(2, Alphabet::kBytes, &single, 1000), "");
}

TEST(ValueTextRoundTrip, DoubleByteAndUtf8Modes) {
  // The modes are process-wide: a child.
  EXPECT_EQ(ChildTranscript([](Transcript& t) {
    std::string out;
    KIntl::Language(KIntl::kJapanese);
    KIntl::MultiByte(true);
    KQSClassCracker cp932 = CodePage(932), cp936 = CodePage(936), utf8 = CodePage(65001);
    // A pair at both ends of each lead range keeps its backslash trail unescaped.
    out += Str(KQSValue("\x81\\\x9F\\\xE0\\\xFC\\").FormattedString()) + "|";
    KQSClassCracker single;  // a single-byte cracker wins over the process: a backslash escapes
    out += Str(Parse("'\x95\\x'", &single).String()) + "|";
    out += RoundTrips(5, Alphabet::kShiftJis, nullptr, 1000);
    out += RoundTrips(6, Alphabet::kShiftJis, &cp932, 1000);
    KIntl::Language(KIntl::kKorean);  // the writer pairs by the Korean lead bytes, which are GBK's as well
    out += RoundTrips(7, Alphabet::kGbk, &cp936, 1000);
    KIntl::Encoding(KIntl::kUTF8);
    out += RoundTrips(8, Alphabet::kUtf8, &utf8, 1000);
    out += RoundTrips(9, Alphabet::kUtf8, nullptr, 500);
    t.Line(out);
  }), "'\x81\\\x9F\\\xE0\\\xFC\\'|\x95x|\n");
}

TEST(ValueTextRoundTrip, RecordsReadBackOrderedAndMergedByName) {
  // The later column wins; the first spelling is kept.
  Generator g(10, Alphabet::kBytes);
  for (int i = 0; i < 500; ++i) {
    std::map<std::string, std::string, bool (*)(const std::string&, const std::string&)> model(&CaseLess);
    KQSValue names = KQSValue::List(), values = KQSValue::List();
    for (int n = 1 + g.Pick(5); n > 0; --n) {
      const std::string name = g.Name();
      const KQSValue value = g.Value(3);
      names.ListAppendValue(KQSValue(name.c_str()));
      values.ListAppendValue(value);
      model.insert_or_assign(name, Text(value));  // the map keeps the first spelling
    }
    const KQSValue record = KRZRow::MakeValue(new KRZRow(names, &values));
    std::string expected = "R<";
    for (const auto& [name, text] : model) expected += (expected.size() > 2 ? ",'" : "'") + name + "'=" + text;
    expected += ">";
    std::istringstream in(Text(record));
    KQSValue back;
    in >> back;
    EXPECT_EQ(Text(back), expected) << Text(record);
  }
}

}  // namespace
