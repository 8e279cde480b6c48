// vxhost value: reads script values in text form and shows each one's text
// form, display form, type and binary form, the way a developer checks what
// a stored or logged value really is.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "commands.h"
#include "vxkernel/vxkernel.h"

namespace {

void PrintValueHelp() {
  std::printf(
      "usage: vxhost value [TEXT...]\n"
      "\n"
      "Reads script values in their text form from TEXT (several arguments are\n"
      "joined with blanks) or, without TEXT, from standard input, one after\n"
      "another; blanks and line ends between values are skipped. For each value\n"
      "it prints:\n"
      "  text     the text form, as the value writes it back\n"
      "  display  the display form (DisplayString)\n"
      "  type     the class number and class name\n"
      "  binary   the binary form (WriteBinary) in hexadecimal, or why there is\n"
      "           none; a List holding values without a binary form is written\n"
      "           without them and is marked as not reading back\n"
      "\n"
      "examples:\n"
      "  vxhost value \"{1,'x',true}\"\n"
      "  echo \"%%'Integer' G2.5 D/2004/3/5:14:7:9\" | vxhost value\n"
      "\n"
      "Exit status: 0 when every value was read, 1 when some text could not be\n"
      "read (the message gives its line and column), 2 for bad usage.\n");
}

// Line and column (both from 1) of a byte offset in text.
struct Place {
  long line;
  long column;
};

Place PlaceOf(const std::string& text, size_t offset) {
  Place p{1, 1};
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++p.line;
      p.column = 1;
    } else {
      ++p.column;
    }
  }
  return p;
}

// At most 40 bytes of text from offset, on one line, for messages.
std::string Excerpt(const std::string& text, size_t offset, size_t end) {
  std::string s = text.substr(offset, end > offset ? end - offset : 0);
  bool cut = false;
  if (s.size() > 40) {
    s.resize(40);
    cut = true;
  }
  std::string shown;
  for (char c : s) {
    if (c == '\n') shown += "\\n";
    else if (c == '\r') shown += "\\r";
    else if (c == '\t') shown += "\\t";
    else shown += c;
  }
  return cut ? shown + "..." : shown;
}

std::string Str(const KString& k) { return std::string(static_cast<const char*>(k), k.Length()); }

std::string Binary(const KQSValue& v) {
  KQSClassFormatter f;
  std::ostringstream out;
  v.WriteBinary(out, &f);
  return out.str();
}

// The bytes in hexadecimal: one line up to 24 bytes, otherwise 16 bytes a
// line with their offsets, indented under the label.
void PrintHex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  auto hex = [&](size_t from, size_t to) {
    std::string s;
    for (size_t i = from; i < to; ++i) {
      if (i > from) s += ' ';
      const unsigned char c = static_cast<unsigned char>(bytes[i]);
      s += digits[c >> 4];
      s += digits[c & 15];
    }
    return s;
  };
  if (bytes.size() <= 24) {
    std::printf("%s  (%zu bytes)\n", hex(0, bytes.size()).c_str(), bytes.size());
    return;
  }
  std::printf("%zu bytes\n", bytes.size());
  for (size_t i = 0; i < bytes.size(); i += 16) {
    const size_t end = i + 16 < bytes.size() ? i + 16 : bytes.size();
    std::printf("             %06zx  %s\n", i, hex(i, end).c_str());
  }
}

void PrintValue(long n, const Place& at, const KQSValue& v) {
  std::printf("value %ld (line %ld, column %ld)\n", n, at.line, at.column);
  std::printf("  text     %s\n", Str(v.FormattedString()).c_str());
  std::printf("  display  %s\n", Str(v.DisplayString()).c_str());
  std::printf("  type     %d %s\n", static_cast<int>(v.Type()), v.Class()->ClassName());
  const std::string bytes = Binary(v);
  std::printf("  binary   ");
  if (bytes.empty()) {
    std::printf("none: %s has no binary form\n", v.Class()->ClassName());
    return;
  }
  PrintHex(bytes);
  // A List writes its elements without a binary form as nothing at all.
  std::istringstream in(bytes);
  const KQSValue back = KQSValue::ReadBinary(in, nullptr);
  const bool whole = !in.fail() && in.tellg() == static_cast<std::streamoff>(bytes.size());
  if (!whole || !(back == v)) {
    std::printf("           does not read back: it holds values without a binary form\n");
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

}  // namespace

int RunValue(int argc, char** argv) {
  std::string text;
  if (argc > 0 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
    PrintValueHelp();
    return 0;
  }
  if (argc > 0) {
    for (int i = 0; i < argc; ++i) {
      if (i > 0) text += ' ';
      text += argv[i];
    }
  } else {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }

  KAt::ProcessStartup(1);
  std::istringstream in(text);
  long count = 0;
  long failures = 0;
  size_t pos = 0;
  for (;;) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos >= text.size()) break;
    in.clear();
    in.seekg(static_cast<std::streamoff>(pos));
    KQSValue v;
    in >> v;
    const bool failed = in.fail();
    in.clear();
    const std::streamoff at = in.tellg();
    const size_t end = at < 0 ? text.size() : static_cast<size_t>(at);
    const Place place = PlaceOf(text, pos);
    // The reader leaves Undefined for text it cannot read; only "?" is a
    // real Undefined.
    const bool unread = failed || (v.IsUndefined() && !(end == pos + 1 && text[pos] == '?'));
    if (unread) {
      ++failures;
      std::fflush(stdout);  // keep the message in its place among the values
      std::fprintf(stderr, "vxhost value: line %ld, column %ld: could not read a value from \"%s\"\n",
                   place.line, place.column, Excerpt(text, pos, end > pos ? end : text.size()).c_str());
      if (end <= pos) break;  // no progress: the rest cannot be read either
      pos = end;
      continue;
    }
    if (count > 0) std::printf("\n");
    PrintValue(++count, place, v);
    if (end <= pos) break;
    pos = end;
  }
  if (count == 0 && failures == 0) std::printf("no values\n");
  KAt::ProcessShutdown(1);
  return failures == 0 ? 0 : 1;
}
