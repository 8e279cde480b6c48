// The readers of the container tags other modules own: "A" (Assoc), "R"
// (Record) and "V" (RecArray), registered in the cracker table while the
// library loads.
//
// Each reader works on the stream's buffer for its own punctuation and reads
// every item with KQSValue::FormattedInput, which counts the nesting. A
// reader stores into out only when its closing character arrives; a failed
// item, a failed stream or the end of input leaves out as it was (Undefined).
#include <istream>
#include <string>

#include "values/value_text_crackers_internal.h"
#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"
#include "vxkernel/values/KRZTable.h"
#include "vxkernel/values/type_numbers.h"

namespace {

using Traits = std::char_traits<char>;
constexpr int kEof = Traits::eof();

// The next character without taking it; kEof on a failed stream or at the
// end (which sets eofbit, as peek does).
int Peek(std::istream& in) {
  if (in.fail()) return kEof;
  const int c = in.rdbuf()->sgetc();
  if (c == kEof) in.setstate(std::ios_base::eofbit);
  return c;
}

// The next character, as get takes it.
int Get(std::istream& in) {
  if (in.fail()) return kEof;
  const int c = in.rdbuf()->sbumpc();
  if (c == kEof) in.setstate(std::ios_base::eofbit | std::ios_base::failbit);
  return c;
}

// One item; false when the stream failed reading it.
bool Item(std::istream& in, KQSValue& out, KQSClassCracker* cracker) {
  KQSValue::FormattedInput(in, out, cracker);
  return !in.fail();
}

}  // namespace

// The text reader reads Assocs the same way itself while this is the
// registered "A" cracker (TextReader::Assoc); the two must stay alike.
void vxk_internal::ReadAssocText(std::istream& in, char /*tag*/, KQSValue& out, KQSClassCracker* cracker) {
  ReadAssocItems(
      in, out, [&in] { return Peek(in); }, [&in] { return Get(in); },
      [&in, cracker](KQSValue& v) { return Item(in, v, cracker); });
}

namespace {

// "R<" name "=" value { "," name "=" value } ">": collected in an Assoc, so
// the record's columns come out ordered and merged by name.
void ReadRecord(std::istream& in, char /*tag*/, KQSValue& out, KQSClassCracker* cracker) {
  if (Get(in) != '<') return;
  auto* assoc = new KAssocVal();
  const KQSValue collected(vxk_types::kAssoc, static_cast<void*>(assoc));
  KQSValue name;
  KQSValue item;
  for (;;) {
    const int c = Peek(in);
    if (c == kEof) return;
    if (c == '>') {
      in.rdbuf()->sbumpc();
      out = assoc->ToRecord();
      return;
    }
    if (c == ',') {
      in.rdbuf()->sbumpc();
      continue;
    }
    if (!Item(in, name, cracker)) return;
    if (Get(in) != '=') continue;  // the name is dropped
    if (!Item(in, item, cracker)) return;
    assoc->Add(name, item);
  }
}

// "<" values separated by "," ">" into a List; false (with nothing taken
// when the first character is not "<") otherwise.
bool AngleList(std::istream& in, KQSValue& list, KQSClassCracker* cracker) {
  list = KQSValue::List();
  if (Peek(in) != '<') return false;
  in.rdbuf()->sbumpc();
  KQSValue item;
  for (;;) {
    const int c = Peek(in);
    if (c == kEof) return false;
    if (c == '>') {
      in.rdbuf()->sbumpc();
      return true;
    }
    if (c == ',') {
      in.rdbuf()->sbumpc();
      continue;
    }
    if (!Item(in, item, cracker)) return false;
    list.ListAppendValue(item);
  }
}

// "V{" names-list { row-list } "}".
void ReadRecArray(std::istream& in, char /*tag*/, KQSValue& out, KQSClassCracker* cracker) {
  if (Get(in) != '{') return;
  KQSValue names;
  if (!AngleList(in, names, cracker)) return;
  KRZTable* table = new KRZTable(names);
  const KQSValue value = KRZTable::MakeValue(table);
  KQSValue row;
  for (;;) {
    const int c = Peek(in);
    if (c == '}') {
      in.rdbuf()->sbumpc();
      out = value;
      return;
    }
    if (c != '<' || !AngleList(in, row, cracker)) return;
    table->AddRow(&row);
  }
}

// Registered while the library loads, before any start-up ring runs.
[[maybe_unused]] const bool gRegistered = KQSValue::RegisterCracker('A', &vxk_internal::ReadAssocText) != 0 &&
                         KQSValue::RegisterCracker('R', &ReadRecord) != 0 &&
                         KQSValue::RegisterCracker('V', &ReadRecArray) != 0;

}  // namespace
