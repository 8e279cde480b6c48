// libFuzzer target: values built through the public interface, as a careless
// or hostile caller could build them, are written in both forms, read back,
// copied and freed.
//
// The input is a program for a small machine with eight value registers:
// each instruction is an opcode byte and two register bytes, some followed
// by operands. It builds Lists, Assocs, Records and record tables that hold
// each other (themselves included, through elements, undefined values and
// column names), nests them thousands of levels deep and asks for lengths
// no memory holds. Checked, beyond the sanitizers' own checks (no overrun,
// no leak, bounded stack):
// - every register's text form, read back and written again, is a fixed
//   point from the second writing on; so is its binary form;
// - copies and changes of copies leave the original's text form alone.
// Containers are emptied before the registers are dropped: an Assoc that
// holds itself is a reference cycle by the value model's own rules.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "vxkernel/vxkernel.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr short kAssoc = -18;
constexpr int kRegisters = 8;
constexpr int kMaxInstructions = 200;
// Levels of nesting one input may build in all: far past what the readers
// accept, and enough to overflow any recursive walk.
constexpr long kMaxNesting = 60000;

class Program {
 public:
  Program(const uint8_t* data, size_t size) : fData(data), fSize(size) {}
  bool More() const { return fAt < fSize; }
  unsigned Byte() { return fAt < fSize ? fData[fAt++] : 0; }
  unsigned Word() {
    const unsigned high = Byte();
    return high << 8 | Byte();
  }
  std::string Bytes(size_t n) {
    std::string s;
    while (n-- > 0 && fAt < fSize) s += static_cast<char>(fData[fAt++]);
    return s;
  }

 private:
  const uint8_t* fData;
  size_t fSize;
  size_t fAt = 0;
};

std::string Text(const KQSValue& v) {
  const KString k = v.FormattedString();
  return std::string(static_cast<const char*>(k), k.Length());
}

std::string Binary(const KQSValue& v) {
  std::ostringstream out;
  KQSClassFormatter f;
  v.WriteBinary(out, &f);
  return out.str();
}

KQSValue FromText(const std::string& text) {
  std::istringstream in(text);
  KQSValue v;
  KQSValue::FormattedInput(in, v, nullptr);
  return v;
}

KQSValue FromBinary(const std::string& bytes) {
  std::istringstream in(bytes);
  return KQSValue::ReadBinary(in, nullptr);
}

KAssocVal* AssocOf(const KQSValue& v) {
  return v.Type() == kAssoc ? static_cast<KAssocVal*>(v.User()) : nullptr;
}

// How many values the writers would visit writing v, up to budget + 1.
// Values share storage, so a few instructions can build a value whose
// written form is astronomically long (a List holding itself twice, a
// hundred times over); writing or comparing such a value is not bounded
// work for any writer, so the machine leaves those alone. Follows what the
// writers follow: containers met again inside themselves and levels past
// 512 count once.
class Size {
 public:
  explicit Size(long budget) : fLeft(budget) {}
  bool Within(const KQSValue& v) {
    Visit(v, 0);
    return fLeft >= 0;
  }

 private:
  void Visit(const KQSValue& v, int depth) {
    if (--fLeft < 0 || depth > 512) return;
    if (v.IsList()) {
      for (long i = 1; i <= v.ListEntries() && fLeft >= 0; ++i) Visit(v.ListGetValue(i), depth + 1);
      return;
    }
    const void* storage = v.User();
    if (storage == nullptr || !(v.Type() == kAssoc || KRZRow::FromValue(v) || KRZTable::FromValue(v)))
      return;
    for (const void* open : fOpen) {
      if (open == storage) return;
    }
    fOpen.push_back(storage);
    if (const KAssocVal* a = AssocOf(v)) {
      Visit(a->UndefinedValue(), depth + 1);
      KQSValue key, value;
      for (long n = 1; fLeft >= 0 && a->GetNth(n, key, value); ++n) {
        Visit(key, depth + 1);
        Visit(value, depth + 1);
      }
    } else if (const KRZRow* row = KRZRow::FromValue(v)) {
      Visit(row->ColNames(), depth + 1);
      Visit(row->GetRow(), depth + 1);
    } else if (KRZTable* t = KRZTable::FromValue(v)) {
      Visit(t->ColNames(), depth + 1);
      for (long r = 1; r <= t->Length() && fLeft >= 0; ++r) Visit(t->GetRowValues(r), depth + 1);
    }
    fOpen.pop_back();
  }

  long fLeft;
  std::vector<const void*> fOpen;
};

bool Bounded(const KQSValue& v) { return Size(200000).Within(v); }

// Written, read back and written again twice: the second and third
// writings agree (the first may hold forms that do not read back, such as
// back-references and placeholders).
void CheckFixedPoints(const KQSValue& v) {
  const std::string t2 = Text(FromText(Text(v)));
  const std::string t3 = Text(FromText(t2));
  // A Record's column name that is neither a String nor Undefined becomes
  // an Undefined name, written "?"; read back, that name orders after the
  // Strings instead of before them, so such a record settles one round trip
  // later. Every other text is a fixed point at once.
  Check(t2 == t3 || t2.find("R<") != std::string::npos);
  Check(t3 == Text(FromText(t3)));
  const std::string b2 = Binary(FromBinary(Binary(v)));
  Check(b2 == Binary(FromBinary(b2)));
}

class Machine {
 public:
  void Run(Program& p) {
    for (int n = 0; n < kMaxInstructions && p.More(); ++n) Step(p);
  }

  void Finish() {
    for (const KQSValue& v : fRegisters) {
      if (!Bounded(v)) continue;
      CheckFixedPoints(v);
      // A copy changed leaves the original as it was.
      const std::string before = Text(v);
      KQSValue copy = v;
      if (copy.IsList()) copy.ListAppendValue(KQSValue(1));
      Check(Text(v) == before);
    }
    // Emptied, so that containers holding each other let go; by Copy, not
    // key by key, since a key changed after it went in may have grown past
    // any bound on comparing it.
    for (KQSValue& a : fAssocs) AssocOf(a)->Copy(KAssocVal());
    for (KQSValue& t : fTables) {
      KRZTable* table = KRZTable::FromValue(t);
      table->DeleteRows(1, table->Length());
      if (table->Width() > 0) table->DeleteColumns(1, table->Width());
    }
  }

 private:
  KQSValue& R(unsigned b) { return fRegisters[b % kRegisters]; }

  void Step(Program& p) {
    const unsigned op = p.Byte() % 16;
    KQSValue& a = R(p.Byte());
    KQSValue& b = R(p.Byte());
    switch (op) {
      case 0:
        a = KQSValue(static_cast<long>(static_cast<int16_t>(p.Word())));
        break;
      case 1: {
        const std::string s = p.Bytes(p.Byte() % 24);
        a = KQSValue(s.c_str());
        break;
      }
      case 2:
        a = KQSValue::List();
        break;
      case 3:
        if (a.IsList()) a.ListAppendValue(b);  // b may be a itself
        break;
      case 4:
        a = KQSValue(kAssoc, static_cast<void*>(new KAssocVal(b)));
        fAssocs.push_back(a);
        break;
      case 5:
        // A key is compared with the keys there, which may have grown since
        // they went in (they share storage with the registers).
        if (KAssocVal* assoc = AssocOf(a); assoc != nullptr && Bounded(b) && Bounded(a)) assoc->Add(b, R(p.Byte()));
        break;
      case 6:
        if (KAssocVal* assoc = AssocOf(a)) assoc->UndefinedValue(b);  // b may be a
        break;
      case 7:
        a = KRZTable::MakeValue(new KRZTable(KQSValue::List(KQSValue("x"), KQSValue("y"))));
        fTables.push_back(a);
        break;
      case 8:
        if (KRZTable* t = KRZTable::FromValue(a)) t->InsertColumnAt(b, 1 + static_cast<long>(p.Byte() % 4));
        break;
      case 9:
        if (KRZTable* t = KRZTable::FromValue(a)) t->AddRow(&b);
        break;
      case 10: {
        // Nesting far beyond what the readers accept.
        const long depth = std::min(static_cast<long>(p.Word()), fNestingLeft);
        fNestingLeft -= depth;
        const bool assocs = (p.Byte() & 1) != 0;
        for (long i = 0; i < depth; ++i) {
          a = assocs ? KQSValue(kAssoc, static_cast<void*>(new KAssocVal(a))) : KQSValue::List(a);
        }
        // The outermost Assoc may be made to hold itself later.
        if (assocs && depth > 0) fAssocs.push_back(a);
        break;
      }
      case 11: {
        static const double kReals[] = {0.5, -1e300, std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::quiet_NaN(), 1e-310};
        a = KQSValue(kReals[p.Byte() % 6]);
        break;
      }
      case 12: {
        const std::string bytes = p.Bytes(p.Byte() % 8);
        a = KQSValue(static_cast<short>(-6), bytes.data(), static_cast<long>(bytes.size()));
        break;
      }
      case 13:
        a = b;
        break;
      case 14:
        // Positions and sizes at the ends of long.
        (void)a.ListGetValue(LONG_MIN);
        (void)a.ListGetValue(LONG_MAX);
        if (KRZTable* t = KRZTable::FromValue(a)) {
          t->InsertRowAt(LONG_MAX, 1, nullptr);
          t->GetRow(LONG_MIN);
        }
        if (KRZRow* row = KRZRow::FromValue(a)) {
          row->AddColumns(LONG_MAX);
          row->InsertColumnAt(1, LONG_MAX - 1);
        }
        break;
      case 15:
        if (KAssocVal* assoc = AssocOf(b)) a = assoc->ToRecord();
        else if (KRZTable* t = KRZTable::FromValue(b)) a = t->GetRow(1);
        break;
    }
  }

  long fNestingLeft = kMaxNesting;
  KQSValue fRegisters[kRegisters];
  std::vector<KQSValue> fAssocs;
  std::vector<KQSValue> fTables;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = [] {
    KAt::ProcessStartup(1);
    return true;
  }();
  (void)started;
  Program program(data, size);
  Machine machine;
  machine.Run(program);
  machine.Finish();
  return 0;
}
