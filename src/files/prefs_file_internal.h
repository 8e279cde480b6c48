// The in-memory form of one preference file: its lines in file order.
//
// A line keeps the bytes it was read with, so that a rewrite gives back
// every line an edit did not touch as it was (a "\r" before the line end
// stays), except that a plain-text line gets the '#' of a comment and the
// bytes in front of a first section header (a byte-order mark) are not part
// of the line; names and values are spans of those bytes. Lines read from
// the file point into the file's text; lines made or changed by an edit own
// their text.
//
// A PrefFile owns everything it holds. Not synchronized: one thread at a
// time (KFilePrefs locks).
#ifndef VXKERNEL_FILES_PREFS_FILE_INTERNAL_H_
#define VXKERNEL_FILES_PREFS_FILE_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vxk_internal {

enum class PrefKind : uint8_t { kSection = 0, kValue = 1, kComment = 2, kBlank = 3 };

struct PrefLine {
  std::string own;    // the line's bytes when owned
  uint32_t off = 0;   // otherwise its bytes are the file text's [off, off + len)
  uint32_t len = 0;
  uint32_t nameOff = 0, nameLen = 0;    // within the line: section or value name
  uint32_t valueOff = 0, valueLen = 0;  // within the line: value or comment text
  PrefKind kind = PrefKind::kBlank;
  bool owned = false;
};

// Result codes shared by the C interface and KFilePrefs.
constexpr long kPrefsOk = 0;
constexpr long kPrefsFile = -1;
constexpr long kPrefsNoSection = -2;
constexpr long kPrefsNoValue = -3;
constexpr long kPrefsArgument = -5;
constexpr long kPrefsTruncated = -6;

class PrefFile {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  explicit PrefFile(const char* path) : fPath(path) {}

  // Replaces the lines with the file's. On failure leaves no lines, stores
  // the errno value (0 for a file too large to hold) and returns false.
  bool Load(int* error);

  const std::string& Path() const { return fPath; }
  const std::vector<PrefLine>& Lines() const { return fLines; }
  std::string_view Raw(const PrefLine& l) const {
    return l.owned ? std::string_view(l.own) : std::string_view(fText).substr(l.off, l.len);
  }
  std::string_view Name(const PrefLine& l) const { return Raw(l).substr(l.nameOff, l.nameLen); }
  std::string_view Value(const PrefLine& l) const { return Raw(l).substr(l.valueOff, l.valueLen); }

  // The index of the first section line of that name (letter case ignored),
  // or kNone.
  size_t FindSection(std::string_view section) const;
  // The index of the first value line of that name after the section line
  // at index s and before the next section line, or kNone.
  size_t FindValue(size_t s, std::string_view name) const;

  // Sets the value, adding the section and the line where needed. Edits the
  // lines only; the caller rewrites the file. May throw std::bad_alloc.
  void Set(std::string_view section, std::string_view name, std::string_view value);
  // Removes the value line: kPrefsOk, kPrefsNoSection or kPrefsNoValue.
  long Remove(std::string_view section, std::string_view name);

  // Set or Remove, then rewrite the file (PrefsWrite for operation). When
  // the rewrite fails, or memory runs out (std::bad_alloc is thrown on),
  // the lines are put back as they were, so the handle keeps answering what
  // the file holds.
  long SetAndWrite(std::string_view section, std::string_view name, std::string_view value,
                   const char* operation);
  long RemoveAndWrite(std::string_view section, std::string_view name, const char* operation);

  // The whole file as it is written: each line and "\n", a plain-text line
  // with '#' in front.
  std::string Render() const;

 private:
  void Classify(PrefLine* l) const;
  template <class Edit>
  long EditAndWrite(const char* operation, Edit edit);

  std::string fPath;
  std::string fText;  // the file as last read
  std::vector<PrefLine> fLines;
};

// A comment line without its '#': a line of plain text.
inline bool IsPlainText(const PrefLine& l) {
  return l.kind == PrefKind::kComment && l.valueOff == 0;
}

// ASCII letter case is ignored.
bool EqualNoCase(std::string_view a, std::string_view b);

// Why a value with these texts would not read back as set (a line end in
// any of them, an '=' in the name, a name beginning with '[' or '#', a value
// ending with "\r"), or null when it would.
const char* PrefsUnstorable(std::string_view section, std::string_view name, std::string_view value);

// Makes text the file's contents: kPrefsOk, or kPrefsFile with one debug
// line for operation. May throw std::bad_alloc (nothing is then written).
long PrefsWrite(const char* path, const std::string& text, const char* operation);

// Benchmarks compare the crash-safe rewrite with the in-place one.
void PrefsForceInPlace(bool on);

// The text after every failure of the C interface and KFilePrefs that is not
// a plain result: writes "<operation> - out of memory" (or the exception's
// text) and returns.
void PrefsGuardFailed(const char* operation) noexcept;

}  // namespace vxk_internal

#endif  // VXKERNEL_FILES_PREFS_FILE_INTERNAL_H_
