// The lookup map of KFilePrefs.
#include <bit>

#include "files/prefs_map_internal.h"

using vxk_internal::PrefFile;
using vxk_internal::PrefKind;

namespace {

inline unsigned char Lower(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u | 0x20) : u;
}

constexpr uint32_t kBasis = 2166136261u;

// FNV-1a over the lowered bytes.
inline uint32_t Mix(uint32_t h, std::string_view t) {
  for (char c : t) h = (h ^ Lower(c)) * 16777619u;
  return h;
}

// A value's hash: its section's, a separator, its name.
inline uint32_t ValueHash(uint32_t sectionHash, std::string_view name) { return Mix(sectionHash * 16777619u, name); }

// True when stored (lowered, n bytes) equals lower(t).
inline bool SameLowered(const char* stored, uint32_t n, std::string_view t) {
  if (n != t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (static_cast<unsigned char>(stored[i]) != Lower(t[i])) return false;
  }
  return true;
}

}  // namespace

void KFilePrefsMap::Clear() {
  fText.clear();
  fEntries.clear();
  fSlots.clear();
  fMask = 0;
}

const KFilePrefsMap::Entry* KFilePrefsMap::Lookup(uint32_t hash, uint32_t section, std::string_view sectionText,
                                                  std::string_view key) const {
  if (fSlots.empty()) return nullptr;
  for (uint32_t i = hash & fMask;; i = (i + 1) & fMask) {
    const uint32_t slot = fSlots[i];
    if (slot == 0) return nullptr;
    const Entry& e = fEntries[slot - 1];
    if (e.hash != hash || !SameLowered(fText.data() + e.keyOff, e.keyLen, key)) continue;
    if (section == kIsSection) {
      if (e.section == kIsSection) return &e;
    } else if (e.section != kIsSection) {
      const Entry& s = fEntries[e.section];
      if (SameLowered(fText.data() + s.keyOff, s.keyLen, sectionText)) return &e;
    }
  }
}

uint32_t KFilePrefsMap::Insert(uint32_t hash, uint32_t section, std::string_view sectionText, std::string_view key,
                               std::string_view value) {
  if (Lookup(hash, section, sectionText, key) != nullptr) return kIsSection;
  Entry e{hash, static_cast<uint32_t>(fText.size()), static_cast<uint32_t>(key.size()), 0, 0, section};
  for (char c : key) fText.push_back(static_cast<char>(Lower(c)));
  e.valueOff = static_cast<uint32_t>(fText.size());
  if (value.size() > kMaxValue) {
    e.valueLen = kTooLong;
  } else {
    e.valueLen = static_cast<uint32_t>(value.size());
    fText.append(value);
  }
  fText.push_back('\0');
  fEntries.push_back(e);
  uint32_t i = hash & fMask;
  while (fSlots[i] != 0) i = (i + 1) & fMask;
  fSlots[i] = static_cast<uint32_t>(fEntries.size());
  return static_cast<uint32_t>(fEntries.size() - 1);
}

void KFilePrefsMap::Build(const PrefFile& f) {
  Clear();
  size_t n = 0;
  size_t bytes = 0;
  for (const auto& l : f.Lines()) {
    if (l.kind == PrefKind::kSection || l.kind == PrefKind::kValue) {
      ++n;
      bytes += l.len + 1;
    }
  }
  fSlots.assign(std::bit_ceil(2 * n + 2), 0);
  fMask = static_cast<uint32_t>(fSlots.size() - 1);
  fEntries.reserve(n);
  fText.reserve(bytes);
  std::string_view sectionText;
  uint32_t sectionHash = 0;
  uint32_t section = kIsSection;  // the first section of its name, or none
  for (const auto& l : f.Lines()) {
    if (l.kind == PrefKind::kSection) {
      sectionText = f.Name(l);
      sectionHash = Mix(kBasis, sectionText);
      section = Insert(sectionHash, kIsSection, {}, sectionText, {});
    } else if (l.kind == PrefKind::kValue && section != kIsSection) {
      Insert(ValueHash(sectionHash, f.Name(l)), section, sectionText, f.Name(l), f.Value(l));
    }
  }
}

bool KFilePrefsMap::Find(std::string_view section, std::string_view name, std::string_view* value) const {
  const Entry* e = Lookup(ValueHash(Mix(kBasis, section), name), 0, section, name);
  if (e == nullptr || e->valueLen == kTooLong) return false;
  *value = std::string_view(fText.data() + e->valueOff, e->valueLen);
  return true;
}
