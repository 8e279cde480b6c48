// Reading, editing and writing the lines of a preference file.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "base/debug_line.h"
#include "files/prefs_file_internal.h"
#include "port/port.h"

namespace vxk_internal {
namespace {

std::atomic<bool> gForceInPlace{false};

// Lines and the lookup map hold 32-bit offsets.
constexpr size_t kMaxFileSize = size_t{1} << 30;

inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c; }

// Others may read and write while the file is read; an open that denies
// reading (a copy writing it, say) refuses the read (EBUSY). The open never
// waits, and only a regular file is read (EINVAL): a FIFO would wait for a
// writer.
bool ReadAll(const char* path, std::string* text, int* error) {
  constexpr unsigned kShareReadWrite = 3;
  bool refused = false;
  std::FILE* f = port::OpenShared(path, "re", kShareReadWrite | port::kShareRegularOnly, &refused);
  if (f == nullptr) {
    *error = refused ? EBUSY : errno;
    return false;
  }
  bool ok = true;
  char chunk[65536];
  size_t k;
  while ((k = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (text->size() + k > kMaxFileSize) {
      *error = 0;
      ok = false;
      break;
    }
    text->append(chunk, k);
  }
  if (ok && std::ferror(f)) {
    *error = errno;
    ok = false;
  }
  std::fclose(f);
  return ok;
}

PrefLine Made(std::string text, PrefKind kind, uint32_t nameOff, uint32_t nameLen,
              uint32_t valueOff, uint32_t valueLen) {
  PrefLine l;
  l.len = static_cast<uint32_t>(text.size());
  l.own = std::move(text);
  l.owned = true;
  l.kind = kind;
  l.nameOff = nameOff;
  l.nameLen = nameLen;
  l.valueOff = valueOff;
  l.valueLen = valueLen;
  return l;
}

PrefLine MadeValue(std::string_view name, std::string_view value) {
  std::string text;
  text.reserve(name.size() + 1 + value.size());
  text.append(name).append(1, '=').append(value);
  const auto n = static_cast<uint32_t>(name.size());
  return Made(std::move(text), PrefKind::kValue, 0, n, n + 1, static_cast<uint32_t>(value.size()));
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Sets kind and spans of a line from its bytes.
void PrefFile::Classify(PrefLine* l) const {
  std::string_view t = Raw(*l);
  if (!t.empty() && t.back() == '\r') t.remove_suffix(1);  // a line end written elsewhere
  if (t.empty()) {
    l->kind = PrefKind::kBlank;
  } else if (t[0] == '#') {
    l->kind = PrefKind::kComment;
    l->valueOff = 1;
    l->valueLen = static_cast<uint32_t>(t.size() - 1);
  } else if (t[0] == '[') {
    // The closing ']' and any blanks or tabs after it are not part of the name;
    // without a closing ']' the line's last character is dropped.
    size_t e = t.size();
    while (e > 1 && (t[e - 1] == ' ' || t[e - 1] == '\t')) --e;
    if (!(e >= 2 && t[e - 1] == ']')) e = t.size();
    l->kind = PrefKind::kSection;
    l->nameOff = 1;
    l->nameLen = static_cast<uint32_t>(e > 1 ? e - 2 : 0);
  } else if (size_t eq = t.find('='); eq != std::string_view::npos) {
    l->kind = PrefKind::kValue;
    l->nameOff = 0;
    l->nameLen = static_cast<uint32_t>(eq);
    l->valueOff = static_cast<uint32_t>(eq + 1);
    l->valueLen = static_cast<uint32_t>(t.size() - eq - 1);
  } else {
    // Plain text: a comment that is written back with '#' in front.
    l->kind = PrefKind::kComment;
    l->valueOff = 0;
    l->valueLen = static_cast<uint32_t>(t.size());
  }
}

bool PrefFile::Load(int* error) {
  fLines.clear();
  fText.clear();
  if (!ReadAll(fPath.c_str(), &fText, error)) {
    fText.clear();
    return false;
  }
  size_t lines = 0;
  for (char c : fText) lines += c == '\n';
  fLines.reserve(lines + 1);
  size_t pos = 0;
  while (pos < fText.size()) {
    size_t nl = fText.find('\n', pos);
    if (nl == std::string::npos) nl = fText.size();
    PrefLine& l = fLines.emplace_back();
    l.off = static_cast<uint32_t>(pos);
    l.len = static_cast<uint32_t>(nl - pos);
    if (pos == 0 && l.len > 0 && fText[0] != '[') {
      // Bytes in front of a first section header (a byte-order mark) are
      // not part of the line: they are dropped when the file is written.
      size_t bracket = std::string_view(fText.data(), l.len).find('[', 1);
      if (bracket != std::string_view::npos) {
        l.off = static_cast<uint32_t>(bracket);
        l.len -= static_cast<uint32_t>(bracket);
      }
    }
    Classify(&l);
    pos = nl + 1;
  }
  return true;
}

size_t PrefFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < fLines.size(); ++i) {
    if (fLines[i].kind == PrefKind::kSection && EqualNoCase(Name(fLines[i]), section)) return i;
  }
  return kNone;
}

size_t PrefFile::FindValue(size_t s, std::string_view name) const {
  for (size_t i = s + 1; i < fLines.size() && fLines[i].kind != PrefKind::kSection; ++i) {
    if (fLines[i].kind == PrefKind::kValue && EqualNoCase(Name(fLines[i]), name)) return i;
  }
  return kNone;
}

// Every allocation happens before the first change, so a failed one leaves
// the lines as they were.
void PrefFile::Set(std::string_view section, std::string_view name, std::string_view value) {
  size_t s = FindSection(section);
  if (s == kNone) {
    const bool blank = !fLines.empty() && fLines.back().kind != PrefKind::kBlank;
    std::string text;
    text.reserve(section.size() + 2);
    text.append(1, '[').append(section).append(1, ']');
    PrefLine head = Made(std::move(text), PrefKind::kSection, 1, static_cast<uint32_t>(section.size()), 0, 0);
    PrefLine line = MadeValue(name, value);
    fLines.reserve(fLines.size() + 3);
    if (blank) fLines.push_back(Made("", PrefKind::kBlank, 0, 0, 0, 0));
    fLines.push_back(std::move(head));
    fLines.push_back(std::move(line));
    return;
  }
  size_t last = s;  // the section's last line that is not blank
  for (size_t i = s + 1; i < fLines.size() && fLines[i].kind != PrefKind::kSection; ++i) {
    PrefLine& l = fLines[i];
    if (l.kind == PrefKind::kValue && EqualNoCase(Name(l), name)) {
      // The line keeps its name as written and whatever followed the value.
      std::string_view raw = Raw(l);
      std::string text;
      text.reserve(raw.size() + value.size());
      text.append(raw.substr(0, l.valueOff)).append(value).append(raw.substr(l.valueOff + l.valueLen));
      l = Made(std::move(text), PrefKind::kValue, l.nameOff, l.nameLen, l.valueOff,
               static_cast<uint32_t>(value.size()));
      return;
    }
    if (l.kind != PrefKind::kBlank) last = i;
  }
  PrefLine line = MadeValue(name, value);
  fLines.reserve(fLines.size() + 1);
  fLines.insert(fLines.begin() + static_cast<std::ptrdiff_t>(last + 1), std::move(line));
}

long PrefFile::Remove(std::string_view section, std::string_view name) {
  size_t s = FindSection(section);
  if (s == kNone) return kPrefsNoSection;
  size_t v = FindValue(s, name);
  if (v == kNone) return kPrefsNoValue;
  fLines.erase(fLines.begin() + static_cast<std::ptrdiff_t>(v));
  return kPrefsOk;
}

template <class Edit>
long PrefFile::EditAndWrite(const char* operation, Edit edit) {
  std::vector<PrefLine> before = fLines;
  long r;
  try {
    r = edit();
    if (r == kPrefsOk) r = PrefsWrite(fPath.c_str(), Render(), operation);
  } catch (...) {
    fLines = std::move(before);
    throw;
  }
  if (r == kPrefsFile) fLines = std::move(before);
  return r;
}

long PrefFile::SetAndWrite(std::string_view section, std::string_view name, std::string_view value,
                           const char* operation) {
  return EditAndWrite(operation, [&] {
    Set(section, name, value);
    return kPrefsOk;
  });
}

long PrefFile::RemoveAndWrite(std::string_view section, std::string_view name,
                              const char* operation) {
  return EditAndWrite(operation, [&] { return Remove(section, name); });
}

std::string PrefFile::Render() const {
  size_t n = 0;
  for (const PrefLine& l : fLines) n += l.len + 2;
  std::string out;
  out.reserve(n);
  for (const PrefLine& l : fLines) {
    if (IsPlainText(l)) out.append(1, '#');
    out.append(Raw(l)).append(1, '\n');
  }
  return out;
}

const char* PrefsUnstorable(std::string_view section, std::string_view name, std::string_view value) {
  const auto hasLineEnd = [](std::string_view t) { return t.find('\n') != std::string_view::npos; };
  if (hasLineEnd(section) || hasLineEnd(name) || hasLineEnd(value)) return "line end in the text";
  if (name.find('=') != std::string_view::npos) return "'=' in the name";
  if (!name.empty() && (name[0] == '[' || name[0] == '#')) return "name begins with '[' or '#'";
  if (!value.empty() && value.back() == '\r') return "value ends with a carriage return";
  return nullptr;
}

long PrefsWrite(const char* path, const std::string& text, const char* operation) {
  int error = 0;
  port::ReplaceResult r = port::ReplaceFileContents(path, text.data(), text.size(),
                                                    gForceInPlace.load(std::memory_order_relaxed), &error);
  switch (r) {
    case port::ReplaceResult::kFailed:
      DebugLine(operation, "could not write file: ", path, " (", std::strerror(error), ")");
      return kPrefsFile;
    // A rewrite in place can be torn by a kill: say why it was needed.
    case port::ReplaceResult::kInPlaceDirectory:
      DebugLine(operation, "directory not writable, rewrote in place: ", path);
      break;
    case port::ReplaceResult::kInPlaceLinks:
      DebugLine(operation, "file has other links, rewrote in place: ", path);
      break;
    case port::ReplaceResult::kInPlaceOwner:
      DebugLine(operation, "owner, group or mode cannot be kept, rewrote in place: ", path);
      break;
    case port::ReplaceResult::kRenamed:
    case port::ReplaceResult::kInPlace:
      break;
  }
  return kPrefsOk;
}

void PrefsForceInPlace(bool on) { gForceInPlace.store(on, std::memory_order_relaxed); }

void PrefsGuardFailed(const char* operation) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    DebugLine(operation, "out of memory");
  } catch (const std::length_error&) {
    DebugLine(operation, "out of memory");
  } catch (const std::exception& e) {
    DebugLine(operation, "failed: ", e.what());
  } catch (...) {
    DebugLine(operation, "failed: an exception of unknown type");
  }
}

}  // namespace vxk_internal
