// The strs_ string tables: strings numbered from 1, packed into one memory
// block so that a table is a single allocation that can be copied or
// stored as it is.
//
// Block layout (16-bit unsigned fields in native byte order):
//   0 count    strings in use
//   2 slots    entries of the offset array
//   4 end      offset of the first free byte == the block's size
//   6 garbage  bytes held by deleted strings
//   8 offsets  slots entries: offset of each string from the block start,
//              0 for a free slot
//     data     NUL-terminated strings, each padded to an even length
#include "vxkernel/text/str.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/debug_line.h"
#include "vxkernel/base/mem.h"

namespace {

constexpr size_t kCountAt = 0;
constexpr size_t kSlotsAt = 2;
constexpr size_t kEndAt = 4;
constexpr size_t kGarbageAt = 6;
constexpr size_t kHeaderSize = 2 + 2 + 2 + 2;
static_assert(kHeaderSize == 8);
constexpr unsigned kSlotsPerGrowth = 10;
// Deleted bytes a table tolerates before it is compacted.
constexpr unsigned kGarbageLimit = 1024;
// Every field is 16 bits, so no table grows past this.
constexpr size_t kMaxTableBytes = 0xFFFF;

using vxk_internal::DebugLine;
using vxk_internal::DebugText;

unsigned char* Data(mem_handle t) { return static_cast<unsigned char*>(*t); }

unsigned Get(mem_handle t, size_t at) {
  uint16_t v;
  std::memcpy(&v, Data(t) + at, 2);
  return v;
}

void Put(mem_handle t, size_t at, unsigned v) {
  const auto w = static_cast<uint16_t>(v);
  std::memcpy(Data(t) + at, &w, 2);
}

size_t SlotAt(unsigned n) { return kHeaderSize + 2 * (static_cast<size_t>(n) - 1); }

size_t Padded(size_t textBytes) { return (textBytes + 1 + 1) & ~size_t{1}; }  // NUL, then even

// Whether the header describes a block that every access below stays
// inside: no reads past the block even when a caller hands in garbage.
bool Valid(mem_handle t) {
  if (t == nullptr || *t == nullptr) return false;
  const long size = mem_gethsize(t);
  if (size < static_cast<long>(kHeaderSize)) return false;
  const size_t slots = Get(t, kSlotsAt);
  const size_t end = Get(t, kEndAt);
  return kHeaderSize + 2 * slots <= end && end <= static_cast<size_t>(size);
}

// The string in slot n, or null for a free or invalid slot; *room is the
// number of bytes from it to the end of the used part.
const char* StringAt(mem_handle t, long n, size_t* room) {
  if (!Valid(t) || n < 1 || n > static_cast<long>(Get(t, kSlotsAt))) return nullptr;
  const size_t offset = Get(t, SlotAt(static_cast<unsigned>(n)));
  const size_t end = Get(t, kEndAt);
  const size_t dataStart = kHeaderSize + 2 * static_cast<size_t>(Get(t, kSlotsAt));
  if (offset == 0 || offset < dataStart || offset >= end) return nullptr;
  *room = end - offset;
  return reinterpret_cast<const char*>(Data(t) + offset);
}

// Adds kSlotsPerGrowth free slots: the data moves up by their 20 bytes and
// every offset with it.
bool GrowSlots(mem_handle t) {
  const unsigned slots = Get(t, kSlotsAt);
  const size_t end = Get(t, kEndAt);
  const size_t grow = 2 * kSlotsPerGrowth;
  if (end + grow > kMaxTableBytes || slots + kSlotsPerGrowth > 0xFFFF) return false;
  if (!mem_resize(t, static_cast<long>(end + grow))) return false;
  const size_t dataStart = kHeaderSize + 2 * static_cast<size_t>(slots);
  unsigned char* d = Data(t);
  std::memmove(d + dataStart + grow, d + dataStart, end - dataStart);
  std::memset(d + dataStart, 0, grow);
  for (unsigned i = 1; i <= slots; ++i) {
    const unsigned off = Get(t, SlotAt(i));
    if (off != 0) Put(t, SlotAt(i), off + static_cast<unsigned>(grow));
  }
  Put(t, kSlotsAt, slots + kSlotsPerGrowth);
  Put(t, kEndAt, static_cast<unsigned>(end + grow));
  return true;
}

// Rebuilds the table without the bytes of deleted strings. Live strings are
// added in slot order and free slots stay where they are, so every string
// keeps its number.
void Compact(mem_handle t) {
  const unsigned slots = Get(t, kSlotsAt);
  const size_t dataStart = kHeaderSize + 2 * static_cast<size_t>(slots);
  std::vector<unsigned char> fresh(dataStart, 0);
  unsigned count = 0;
  for (unsigned i = 1; i <= slots; ++i) {
    size_t room;
    const char* s = StringAt(t, i, &room);
    if (s == nullptr) continue;
    const size_t len = strnlen(s, room);
    const size_t at = fresh.size();
    fresh.resize(at + Padded(len), 0);
    std::memcpy(fresh.data() + at, s, len);
    const auto off = static_cast<uint16_t>(at);
    std::memcpy(fresh.data() + SlotAt(i), &off, 2);
    ++count;
  }
  if (!mem_resize(t, static_cast<long>(fresh.size()))) return;  // keeps the old, still valid table
  std::memcpy(Data(t), fresh.data(), fresh.size());
  Put(t, kCountAt, count);
  Put(t, kSlotsAt, slots);
  Put(t, kEndAt, static_cast<unsigned>(fresh.size()));
  Put(t, kGarbageAt, 0);
}

}  // namespace

mem_handle strs_new_table() {
  mem_handle t = mem_new(static_cast<long>(kHeaderSize));
  if (t == nullptr) {
    DebugLine("strs_new_table", "out of memory");
    return nullptr;
  }
  std::memset(*t, 0, kHeaderSize);
  Put(t, kEndAt, kHeaderSize);
  if (!GrowSlots(t)) {
    mem_dispose(t);
    DebugLine("strs_new_table", "out of memory");
    return nullptr;
  }
  return t;
}

long strs_add_string(mem_handle t, const char* s) {
  if (!Valid(t)) {
    DebugText("Illegal STRS add string .. data structure corrupt\n");
    return 0;
  }
  if (s == nullptr) s = "";
  const size_t len = std::strlen(s);
  const size_t padded = Padded(len);
  if (Get(t, kEndAt) + padded > kMaxTableBytes && Get(t, kGarbageAt) > 0) Compact(t);
  const size_t end = Get(t, kEndAt);
  if (end + padded > kMaxTableBytes) {
    DebugLine("strs_add_string", "table full");
    return 0;
  }
  const unsigned slots = Get(t, kSlotsAt);
  unsigned slot = 0;
  for (unsigned i = 1; i <= slots; ++i) {
    if (Get(t, SlotAt(i)) == 0) {
      slot = i;
      break;
    }
  }
  if (slot == 0) {
    DebugText("Illegal STRS add string .. data structure corrupt\n");
    return 0;
  }
  if (!mem_resize(t, static_cast<long>(end + padded))) {
    DebugLine("strs_add_string", "out of memory");
    return 0;
  }
  std::memcpy(Data(t) + end, s, len);
  std::memset(Data(t) + end + len, 0, padded - len);
  Put(t, SlotAt(slot), static_cast<unsigned>(end));
  Put(t, kEndAt, static_cast<unsigned>(end + padded));
  const unsigned count = Get(t, kCountAt) + 1;
  Put(t, kCountAt, count);
  // Keep a free slot for the next add. A table that cannot grow any more
  // fails that add with the corruption line, as a full offset array does.
  if (count >= Get(t, kSlotsAt)) GrowSlots(t);
  if (Get(t, kGarbageAt) > kGarbageLimit) Compact(t);
  return static_cast<long>(slot);
}

char* strs_get_string(mem_handle t, long n, char* buf, long size) {
  if (buf != nullptr && size > 0) *buf = '\0';
  size_t room;
  const char* s = StringAt(t, n, &room);
  if (s == nullptr || buf == nullptr || size < 1) return nullptr;
  size_t len = strnlen(s, room);
  if (len > static_cast<size_t>(size - 1)) len = static_cast<size_t>(size - 1);
  std::memcpy(buf, s, len);
  buf[len] = '\0';
  return buf;
}

char* strs_get_string_ptr(mem_handle t, long n) {
  size_t room;
  const char* s = StringAt(t, n, &room);
  if (s == nullptr) return nullptr;
  const size_t len = strnlen(s, room);
  char* r = new char[len + 1];
  std::memcpy(r, s, len);
  r[len] = '\0';
  return r;
}

void strs_delete_string(mem_handle t, long n) {
  size_t room;
  const char* s = StringAt(t, n, &room);
  if (s == nullptr) {
    DebugLine("strs_delete_string", "no string ", n);
    return;
  }
  const size_t padded = Padded(strnlen(s, room));
  Put(t, SlotAt(static_cast<unsigned>(n)), 0);
  const unsigned count = Get(t, kCountAt);
  Put(t, kCountAt, count > 0 ? count - 1 : 0);
  Put(t, kGarbageAt, static_cast<unsigned>(Get(t, kGarbageAt) + padded));
  if (Get(t, kGarbageAt) > kGarbageLimit) Compact(t);
}

long strs_count(mem_handle t) { return Valid(t) ? static_cast<long>(Get(t, kCountAt)) : 0; }

void strs_copy_table(mem_handle dst, mem_handle src) {
  if (!mem_copy(dst, src)) DebugLine("strs_copy_table", "could not copy the table");
}

void strs_dispose_table(mem_handle t) { mem_dispose(t); }
