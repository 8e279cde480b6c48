// The built-in Assoc reader, named so that the text reader can tell it is
// the registered "A" cracker and read Assocs itself, without a
// FormattedInput call per key and value.
#ifndef VXKERNEL_VALUES_VALUE_TEXT_CRACKERS_INTERNAL_H_
#define VXKERNEL_VALUES_VALUE_TEXT_CRACKERS_INTERNAL_H_

#include <istream>
#include <string>

#include "vxkernel/values/KAssocVal.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/type_numbers.h"

class KQSClassCracker;

namespace vxk_internal {

// "A<1," undefined value { "," key "=" value } ">".
void ReadAssocText(std::istream& in, char tag, KQSValue& out, KQSClassCracker* cracker);

// The steps of reading an Assoc after its tag, shared by the registered
// reader and the text reader's own: peek() and get() give the next
// character (eof once the stream failed), item(v) reads a key or a value.
// out is set only when the closing ">" arrives.
template <class Peek, class Get, class Item>
void ReadAssocItems(std::istream& in, KQSValue& out, Peek peek, Get get, Item item) {
  constexpr int kEof = std::char_traits<char>::eof();
  if (get() != '<') return;
  auto* assoc = new KAssocVal();
  const KQSValue value(vxk_types::kAssoc, static_cast<void*>(assoc));
  KQSValue key;
  KQSValue v;
  int position = 0;
  for (;;) {
    const int c = peek();
    if (c == kEof) return;
    if (c == '>') {
      in.rdbuf()->sbumpc();
      out = value;
      return;
    }
    if (c == ',') {
      in.rdbuf()->sbumpc();
      continue;
    }
    if (position == 0) {
      // The writer's leading "1", read as operator>> reads it and dropped.
      in >> v;
      if (in.fail()) return;
    } else if (position == 1) {
      if (!item(v)) return;
      assoc->UndefinedValue(v);
    } else {
      if (!item(key)) return;
      if (get() != '=') continue;  // the key is dropped
      if (!item(v)) return;
      assoc->Add(key, v);
    }
    ++position;
  }
}

}  // namespace vxk_internal

#endif  // VXKERNEL_VALUES_VALUE_TEXT_CRACKERS_INTERNAL_H_
