// The lookup map of a KFilePrefs: section and value name to value.
//
// Built from a file's lines in one pass. A value's key is its section entry
// and its lowered (ASCII) name, kept apart, so "a[b" + "c" and "a" + "b[c"
// stay apart. The first section of a name
// counts, and in it the first value of a name, as the C interface finds
// them. Values longer than kMaxValue are kept out (they read as absent).
//
// Storage: one text block for keys and values and an open-addressing table
// of entry numbers, so building costs two allocations and a lookup hashes
// and compares without making the key. The map owns copies of its texts.
// Not synchronized: KFilePrefs locks.
#ifndef VXKERNEL_FILES_PREFS_MAP_INTERNAL_H_
#define VXKERNEL_FILES_PREFS_MAP_INTERNAL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/prefs_file_internal.h"

class KFilePrefsMap {
 public:
  static constexpr size_t kMaxValue = 10239;

  // Replaces the contents with the file's values. May throw std::bad_alloc.
  void Build(const vxk_internal::PrefFile& f);
  // Empties the map (reads find nothing).
  void Clear();
  // Stores the value and returns true, or returns false when absent.
  bool Find(std::string_view section, std::string_view name, std::string_view* value) const;

 private:
  struct Entry {
    uint32_t hash;
    uint32_t keyOff, keyLen;  // in fText: the lowered section or value name
    uint32_t valueOff;        // in fText, followed by a NUL
    uint32_t valueLen;        // kTooLong: present in the file but kept out
    uint32_t section;         // a value's section entry; kIsSection for sections
  };
  static constexpr uint32_t kTooLong = 0xFFFFFFFFu;
  static constexpr uint32_t kIsSection = 0xFFFFFFFFu;

  // The entry with that key (section is kIsSection or a section entry's
  // number, sectionText its name), or null.
  const Entry* Lookup(uint32_t hash, uint32_t section, std::string_view sectionText,
                      std::string_view key) const;
  // Adds an entry unless one with the key exists; returns its number, or
  // kIsSection when it existed.
  uint32_t Insert(uint32_t hash, uint32_t section, std::string_view sectionText, std::string_view key,
                  std::string_view value);

  std::string fText;
  std::vector<Entry> fEntries;
  std::vector<uint32_t> fSlots;  // 0 free, else entry number + 1
  uint32_t fMask = 0;
};

#endif  // VXKERNEL_FILES_PREFS_MAP_INTERNAL_H_
