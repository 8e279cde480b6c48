// The fileprefs_ C interface over PrefFile. Each entry point turns an
// escaping exception (only std::bad_alloc is expected) into its failure
// result with one debug line.
#include "vxkernel/files/fileprefs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/debug_line.h"
#include "files/prefs_file_internal.h"

using vxk_internal::DebugLine;
using vxk_internal::PrefFile;
using vxk_internal::PrefKind;

namespace {

PrefFile* File(void* h) { return static_cast<PrefFile*>(h); }

long NullArgument(const char* operation) {
  DebugLine(operation, "null argument");
  return vxk_internal::kPrefsArgument;
}

void LoadFailed(const char* operation, const char* path, int error) {
  DebugLine(operation, "could not read file: ", path, " (",
            error != 0 ? std::strerror(error) : "larger than 1 GB", ")");
}

// A malloc'ed null-terminated array of malloc'ed copies; null when memory
// runs out.
template <class Names>
char** NewList(const Names& names, size_t n) {
  auto** list = static_cast<char**>(std::calloc(n + 1, sizeof(char*)));
  if (list == nullptr) return nullptr;
  size_t i = 0;
  bool ok = names([&](std::string_view name) {
    char* copy = static_cast<char*>(std::malloc(name.size() + 1));
    if (copy == nullptr) return false;
    std::memcpy(copy, name.data(), name.size());
    copy[name.size()] = '\0';
    list[i++] = copy;
    return true;
  });
  if (!ok) {
    fileprefs_list_release(list);
    return nullptr;
  }
  return list;
}

long GetPref(void* h, const char* section, const char* name, char* buf, unsigned long size) {
  if (h == nullptr || section == nullptr || name == nullptr || buf == nullptr || size == 0) {
    return NullArgument("fileprefs_get_pref");
  }
  const PrefFile& f = *File(h);
  size_t s = f.FindSection(section);
  if (s == PrefFile::kNone) return vxk_internal::kPrefsNoSection;
  size_t v = f.FindValue(s, name);
  if (v == PrefFile::kNone) return vxk_internal::kPrefsNoValue;
  std::string_view value = f.Value(f.Lines()[v]);
  const bool cut = value.size() >= size;
  const size_t n = cut ? size - 1 : value.size();
  std::memcpy(buf, value.data(), n);
  buf[n] = '\0';
  return cut ? vxk_internal::kPrefsTruncated : vxk_internal::kPrefsOk;
}

}  // namespace

extern "C" {

void* fileprefs_open(const char* path) {
  if (path == nullptr) {
    NullArgument("fileprefs_open");
    return nullptr;
  }
  try {
    auto* f = new PrefFile(path);
    int error = 0;
    if (!f->Load(&error)) {
      LoadFailed("fileprefs_open", path, error);
      delete f;
      return nullptr;
    }
    return f;
  } catch (...) {
    vxk_internal::PrefsGuardFailed("fileprefs_open");
    return nullptr;
  }
}

long fileprefs_create(const char* path) {
  if (path == nullptr) return NullArgument("fileprefs_create");
  try {
    return vxk_internal::PrefsWrite(path, std::string(), "fileprefs_create");
  } catch (...) {
    vxk_internal::PrefsGuardFailed("fileprefs_create");
    return vxk_internal::kPrefsFile;
  }
}

long fileprefs_close(void* h) {
  delete File(h);
  return 0;
}

long fileprefs_refresh(void* h) {
  if (h == nullptr) return 0;
  try {
    int error = 0;
    if (File(h)->Load(&error)) return 0;
    LoadFailed("fileprefs_refresh", File(h)->Path().c_str(), error);
  } catch (...) {
    vxk_internal::PrefsGuardFailed("fileprefs_refresh");
  }
  return vxk_internal::kPrefsFile;
}

long fileprefs_add_pref(void* h, const char* section, const char* name, const char* value) {
  if (h == nullptr || section == nullptr || name == nullptr || value == nullptr) {
    return NullArgument("fileprefs_add_pref");
  }
  if (const char* why = vxk_internal::PrefsUnstorable(section, name, value)) {
    DebugLine("fileprefs_add_pref", "cannot store as one line: ", why);
    return vxk_internal::kPrefsArgument;
  }
  try {
    return File(h)->SetAndWrite(section, name, value, "fileprefs_add_pref");
  } catch (...) {
    vxk_internal::PrefsGuardFailed("fileprefs_add_pref");
    return vxk_internal::kPrefsFile;
  }
}

long fileprefs_get_pref(void* h, const char* section, const char* name, char* buf, unsigned long size) {
  return GetPref(h, section, name, buf, size);
}

long fileprefs_get_path(void* h, const char* section, const char* name, char* buf, unsigned long size) {
  long r = GetPref(h, section, name, buf, size);
  if (r == 0) fileprefs_FixDirSep(buf);
  return r;
}

long fileprefs_del_pref(void* h, const char* section, const char* name) {
  if (h == nullptr || section == nullptr || name == nullptr) return NullArgument("fileprefs_del_pref");
  try {
    return File(h)->RemoveAndWrite(section, name, "fileprefs_del_pref");
  } catch (...) {
    vxk_internal::PrefsGuardFailed("fileprefs_del_pref");
    return vxk_internal::kPrefsFile;
  }
}

char** fileprefs_list_sections(void* h) {
  if (h == nullptr) return nullptr;
  const PrefFile& f = *File(h);
  size_t n = 0;
  for (const auto& l : f.Lines()) n += l.kind == PrefKind::kSection;
  char** list = NewList(
      [&](auto add) {
        for (const auto& l : f.Lines()) {
          if (l.kind == PrefKind::kSection && !add(f.Name(l))) return false;
        }
        return true;
      },
      n);
  if (list == nullptr) DebugLine("fileprefs_list_sections", "out of memory");
  return list;
}

char** fileprefs_list_values(void* h, const char* section) {
  if (h == nullptr || section == nullptr) return nullptr;
  const PrefFile& f = *File(h);
  const size_t s = f.FindSection(section);
  if (s == PrefFile::kNone) return nullptr;
  const auto& lines = f.Lines();
  size_t end = s + 1;
  size_t n = 0;
  for (; end < lines.size() && lines[end].kind != PrefKind::kSection; ++end) n += lines[end].kind == PrefKind::kValue;
  char** list = NewList(
      [&](auto add) {
        for (size_t i = s + 1; i < end; ++i) {
          if (lines[i].kind == PrefKind::kValue && !add(f.Name(lines[i]))) return false;
        }
        return true;
      },
      n);
  if (list == nullptr) DebugLine("fileprefs_list_values", "out of memory");
  return list;
}

void fileprefs_list_release(char** list) {
  if (list == nullptr) return;
  for (char** p = list; *p != nullptr; ++p) std::free(*p);
  std::free(list);
}

void fileprefs_dump(void* h) {
  if (h == nullptr) return;
  try {
    std::string text = File(h)->Render();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  } catch (...) {
    vxk_internal::PrefsGuardFailed("fileprefs_dump");
  }
}

char* fileprefs_FixDirSep(char* path) {
  if (path == nullptr) return nullptr;
  for (char* p = path; *p != '\0'; ++p) {
    if (*p == '\\') *p = '/';
  }
  return path;
}

}  // extern "C"
