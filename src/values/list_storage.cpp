// KQSValueListStorage: the shared element sequence under list windows.
//
// Slots are addressed by offset: a segment spans 1024 offsets (16 blocks of
// 64 slots). A block holds a contiguous part of its 64 slots, so a short
// list does not pay for 64 values; it grows by doubling and is full-sized
// once the storage has 64 elements. Blocks and segments carry share counts:
// a storage may write into one only when it is the only holder, and copies
// it otherwise (a path copy: segment first, then block). A storage filled in
// one go (AppendMoved, the text reader's lists) gets exactly sized blocks
// instead, as no growth is to be expected.
//
// Memory: windows, storages, segments and blocks are all pieces, made and
// freed by the one pair below (NewPieces / FreePiece). An allocation starts
// with a word holding its live-piece count and its size (which the
// small-object heap wants back), and each piece is preceded by an 8-byte
// prefix pointing at that word; nothing in a piece needs more than 8-byte
// alignment. A piece made alone is its allocation; a new list makes its
// window, storage, segment and first block as four pieces of one
// allocation, which goes back to the heap when the last of them is freed
// (pieces die at different times: a window may move to another storage,
// a clone may keep the segment and block alive).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "vxkernel/smallheap.h"
#include "vxkernel/values/KQSValueList.h"

using vxk_internal::ValNode;

namespace {

constexpr int kBlockShift = 6;
constexpr long kBlockSlots = 1L << kBlockShift;
constexpr int kSegmentShift = 4;
constexpr long kSegmentBlocks = 1L << kSegmentShift;
constexpr int kSpanShift = kBlockShift + kSegmentShift;
constexpr long kSegmentSpan = 1L << kSpanShift;
constexpr int kFirstSlots = KQSValueList::kFirstSlots;

// The allocation's first word: the live-piece count in the low byte, the
// allocation's size above.
using LiveWord = long;
constexpr int kLiveBits = 8;
constexpr long kLiveMask = (1L << kLiveBits) - 1;
// A piece's prefix: the address of its allocation's live word.
using PiecePrefix = LiveWord*;
static_assert(sizeof(PiecePrefix) == 8 && sizeof(LiveWord) == 8, "pieces stay 8-byte aligned");

constexpr size_t Rounded(size_t bytes) { return (bytes + 7) & ~size_t{7}; }

// One allocation holding n pieces of the given sizes; piece[k] receives the
// k-th. Their memory is raw.
// Inline, so that the loops over a known number of pieces unroll.
inline void NewPieces(const size_t* sizes, int n, void** piece) {
  size_t total = sizeof(LiveWord);
  for (int k = 0; k < n; ++k) total += sizeof(PiecePrefix) + Rounded(sizes[k]);
  char* at = static_cast<char*>(vxk::SmallAlloc(total));
  auto* live = reinterpret_cast<LiveWord*>(at);
  *live = static_cast<long>(total) << kLiveBits | n;
  at += sizeof(LiveWord);
  for (int k = 0; k < n; ++k) {
    auto* prefix = reinterpret_cast<PiecePrefix*>(at);
    *prefix = live;
    piece[k] = prefix + 1;
    at += sizeof(PiecePrefix) + Rounded(sizes[k]);
  }
}

void* NewPiece(size_t bytes) {
  void* piece;
  NewPieces(&bytes, 1, &piece);
  return piece;
}

// Frees a piece whose object is already destroyed; its allocation goes with
// its last piece.
void FreePiece(void* piece) {
  if (piece == nullptr) return;
  LiveWord* live = *(static_cast<PiecePrefix*>(piece) - 1);
  if ((--*live & kLiveMask) != 0) return;
  vxk::SmallFree(live, static_cast<size_t>(*live >> kLiveBits));
}

}  // namespace

void* KQSValueList::operator new(size_t bytes) { return NewPiece(bytes); }
void KQSValueList::operator delete(void* piece) { FreePiece(piece); }
void* KQSValueListStorage::operator new(size_t bytes) { return NewPiece(bytes); }
void KQSValueListStorage::operator delete(void* piece) { FreePiece(piece); }

namespace vxk_internal {

// The header is followed in the same allocation by fCap constructed
// ValNodes, for slots fLo .. fLo + fCap - 1 of the block's 64.
struct ListBlock {
  long fShares;
  int fLo;
  int fCap;
  ValNode* Nodes() { return reinterpret_cast<ValNode*>(this + 1); }
};
static_assert(sizeof(ListBlock) % alignof(ValNode) == 0, "nodes follow the header aligned");

static_assert(alignof(KQSValueList) <= 8 && alignof(KQSValueListStorage) <= 8 && alignof(ValNode) <= 8,
              "pieces need no more than their prefixes' alignment");
// A list of up to four values made in one go is one 320-byte block of the
// small-object heap; a bigger storage would put every such list in the next
// class.
static_assert(sizeof(KQSValueListStorage) <= 120, "a short list stays in its heap class");

// The header is followed in the same piece by fCap block pointers, for the
// segment's first fCap blocks. A list made in one go with up to 64 values
// has one block, so its segment holds one pointer; a segment that must
// reach a block past fCap is replaced by a full one. The share count is
// 32 bits: every share is a storage of more than 100 bytes.
struct ListSegment {
  uint32_t fShares;
  uint32_t fCap;
  ListBlock** Blocks() { return reinterpret_cast<ListBlock**>(this + 1); }
};
static_assert(sizeof(ListSegment) == 8, "block pointers follow the header aligned");

}  // namespace vxk_internal

namespace {

using Block = vxk_internal::ListBlock;
using Segment = vxk_internal::ListSegment;

size_t BlockBytes(long cap) { return sizeof(Block) + static_cast<size_t>(cap) * sizeof(ValNode); }

Block* NewBlock(int lo, int cap) {
  auto* b = ::new (NewPiece(BlockBytes(cap))) Block{1, lo, cap};
  ValNode* n = b->Nodes();
  for (int k = 0; k < cap; ++k) new (n + k) ValNode();
  return b;
}

void FreeBlock(Block* b) {
  ValNode* n = b->Nodes();
  for (int k = 0; k < b->fCap; ++k) n[k].~ValNode();
  b->~Block();
  FreePiece(b);
}

size_t SegmentBytes(long cap) { return sizeof(Segment) + static_cast<size_t>(cap) * sizeof(Block*); }

// A segment with cap empty block pointers in the raw piece at.
Segment* MakeSegment(void* at, long cap) {
  auto* s = ::new (at) Segment{1, static_cast<uint32_t>(cap)};
  std::fill_n(s->Blocks(), cap, nullptr);
  return s;
}

Segment* NewSegment(long cap = kSegmentBlocks) { return MakeSegment(NewPiece(SegmentBytes(cap)), cap); }

// The block pointer for offset off in its segment s, which must reach it.
Block*& BlockAt(Segment* s, long off) { return s->Blocks()[(off >> kBlockShift) & (kSegmentBlocks - 1)]; }

void ReleaseBlock(Block* b) {
  if (b != nullptr && --b->fShares == 0) FreeBlock(b);
}

void ReleaseSegment(Segment* s) {
  if (--s->fShares != 0) return;
  for (uint32_t k = 0; k < s->fCap; ++k) ReleaseBlock(s->Blocks()[k]);
  s->~Segment();
  FreePiece(s);
}

// A private, full copy of s for the caller, which gives up its share of s.
Segment* CopySegment(Segment* s) {
  Segment* copy = NewSegment();
  for (uint32_t k = 0; k < s->fCap; ++k) {
    if ((copy->Blocks()[k] = s->Blocks()[k]) != nullptr) ++copy->Blocks()[k]->fShares;
  }
  ReleaseSegment(s);
  return copy;
}

// A private block for the caller holding b's values and covering slot; the
// caller gives up its share of b. A block b alone holds gives its values
// up by moving; a shared one is copied.
Block* Reshape(Block* b, int slot) {
  int lo = b->fLo;
  int hi = b->fLo + b->fCap;
  if (slot < lo || slot >= hi) {
    const int want = std::max({2 * b->fCap, hi - std::min(lo, slot), std::max(hi, slot + 1) - lo});
    if (slot >= hi) {
      lo = std::min(lo, slot);
      hi = std::min(static_cast<int>(kBlockSlots), lo + want);
    } else {
      hi = std::max(hi, slot + 1);
      lo = std::max(0, hi - want);
    }
  }
  Block* c = NewBlock(lo, hi - lo);
  ValNode* from = b->Nodes();
  ValNode* to = c->Nodes() + (b->fLo - lo);
  if (b->fShares == 1) {
    for (int k = 0; k < b->fCap; ++k) to[k].value = std::move(from[k].value);
  } else {
    for (int k = 0; k < b->fCap; ++k) to[k].value = from[k].value;
  }
  ReleaseBlock(b);
  return c;
}

}  // namespace

KQSValueListStorage::~KQSValueListStorage() {
  for (Segment* s : fSegments) ReleaseSegment(s);
}

ValNode* KQSValueListStorage::Writable(long off, bool upward) {
  Segment*& s = fSegments[static_cast<size_t>(off >> kSpanShift)];
  if (s->fShares > 1 || ((off >> kBlockShift) & (kSegmentBlocks - 1)) >= s->fCap) s = CopySegment(s);
  Block*& b = BlockAt(s, off);
  const int slot = static_cast<int>(off & (kBlockSlots - 1));
  if (b == nullptr) {
    // Short lists start with a few slots; longer ones fill whole blocks.
    const int cap = fCount < kBlockSlots ? kFirstSlots : static_cast<int>(kBlockSlots);
    const int lo = upward ? std::min(slot, static_cast<int>(kBlockSlots) - cap) : std::max(0, slot + 1 - cap);
    b = NewBlock(lo, cap);
    DropCaches();
  } else if (b->fShares > 1 || slot < b->fLo || slot >= b->fLo + b->fCap) {
    b = Reshape(b, slot);
    DropCaches();
  }
  return b->Nodes() + (slot - b->fLo);
}

void KQSValueListStorage::DropCaches() {
  fAppendRoom = 0;
  fCacheLength = 0;
  for (KQSValueList* w : fWindows) w->fCacheLength = 0;
}

const ValNode* KQSValueListStorage::FillCache(long pos) {
  const long off = pos - fFirst + fHead;
  Block* b = BlockAt(fSegments[static_cast<size_t>(off >> kSpanShift)], off);
  const long base = off & ~(kBlockSlots - 1);
  // The part of the block that is both held and inside the storage.
  const long lo = std::max(base + b->fLo, fHead);
  const long hi = std::min(base + b->fLo + b->fCap, fHead + fCount);
  fCacheNodes = b->Nodes() + (lo - base - b->fLo);
  fCacheLo = pos - (off - lo);
  fCacheLength = static_cast<unsigned long>(hi - lo);
  return fCacheNodes + (off - lo);
}

void KQSValueListStorage::AppendSlow(const KQSValue& v) {
  const long off = fHead + fCount;
  if ((off >> kSpanShift) >= static_cast<long>(fSegments.size())) fSegments.push_back(NewSegment());
  ValNode* node = Writable(off, true);
  node->value = v;
  ++fCount;
  // Writable left the segment and block private to this storage; the
  // block's slots past this one are the next appends' (until a clone
  // shares the segment or a block is replaced, which close the run).
  const Block* b = BlockAt(fSegments[static_cast<size_t>(off >> kSpanShift)], off);
  fAppendRoom = b->fLo + b->fCap - static_cast<long>(off & (kBlockSlots - 1)) - 1;
  fAppendNext = node + 1;
}

void KQSValueListStorage::AppendMoved(KQSValue* values, long n) {
  if (n <= 0 || fCount != 0) {
    for (long k = 0; k < n; ++k) {
      Append(values[k]);
      values[k] = KQSValue();
    }
    return;
  }
  // An empty storage may still hold a segment from a Prepend or a removal;
  // start over from a clean slot space.
  for (Segment* s : fSegments) ReleaseSegment(s);
  while (!fSegments.empty()) fSegments.pop_back();
  fHead = 0;
  DropCaches();
  fSegments.reserve(static_cast<size_t>((n + kSegmentSpan - 1) >> kSpanShift));
  long k = 0;
  while (k < n) {
    // As many block pointers as the segment will hold.
    Segment* s = NewSegment(std::min(kSegmentBlocks, (n - k + kBlockSlots - 1) >> kBlockShift));
    fSegments.push_back(s);
    for (long b = 0; b < static_cast<long>(s->fCap); ++b) {
      // A short list gets exactly its size; a long one whole blocks, as
      // appending would have made them.
      const int cap = n < kBlockSlots ? static_cast<int>(n) : static_cast<int>(kBlockSlots);
      Block* block = NewBlock(0, cap);
      s->Blocks()[b] = block;
      ValNode* nodes = block->Nodes();
      const long take = std::min(static_cast<long>(cap), n - k);
      for (long i = 0; i < take; ++i) nodes[i].value = std::move(values[k + i]);
      k += take;
      fCount = k;  // a failing allocation leaves a consistent storage
    }
  }
}

void KQSValueListStorage::Prepend(const KQSValue& v) {
  if (fHead == 0) {
    fSegments.push_front(NewSegment());
    fHead = kSegmentSpan;
  }
  Writable(fHead - 1, false)->value = v;
  --fHead;
  --fFirst;
  ++fCount;
}

void KQSValueListStorage::Set(long pos, const KQSValue& v) {
  if (pos < fFirst || pos >= fFirst + fCount) return;
  Writable(pos - fFirst + fHead, true)->value = v;
}

KQSValue KQSValueListStorage::Get(long pos) {
  const ValNode* n = FindNode(pos);
  return n != nullptr ? n->value : KQSValue();
}

KQSValueListStorage* KQSValueListStorage::Clone(long from, long to) {
  auto* copy = new KQSValueListStorage();
  fAppendRoom = 0;  // the segments are about to be shared
  from = std::max(from, fFirst);
  to = std::min(to, fFirst + fCount - 1);
  if (from > to) return copy;
  const long a = from - fFirst + fHead;
  const long z = to - fFirst + fHead;
  copy->fSegments.reserve(static_cast<size_t>((z >> kSpanShift) - (a >> kSpanShift) + 1));
  for (long k = a >> kSpanShift; k <= z >> kSpanShift; ++k) {
    Segment* s = fSegments[static_cast<size_t>(k)];
    ++s->fShares;
    copy->fSegments.push_back(s);
  }
  copy->fHead = a & (kSegmentSpan - 1);
  copy->fCount = to - from + 1;
  return copy;
}

int KQSValueListStorage::AccessCount(long pos) const { return AccessCount(pos, pos); }

int KQSValueListStorage::AccessCount(long from, long to) const {
  int count = 0;
  for (const KQSValueList* w : fWindows) {
    if (w->Start() <= from && to < w->End() && ++count == 2) break;
  }
  return count;
}

bool KQSValueListStorage::RemoveRef(KQSValueList* window) {
  for (size_t i = 0; i < fWindows.size(); ++i) {
    if (fWindows[i] == window) {
      fWindows[i] = fWindows.back();
      fWindows.pop_back();
      break;
    }
  }
  return fWindows.empty();
}

KQSValueList* KQSValueList::MadeInOne(long n, KQSValue* values) {
  const size_t sizes[] = {sizeof(KQSValueList), sizeof(KQSValueListStorage), SegmentBytes(1), BlockBytes(n)};
  void* piece[4];
  if (n > 0) NewPieces(sizes, 4, piece);
  else NewPieces(sizes, 2, piece);
  auto* storage = ::new (piece[1]) KQSValueListStorage();
  auto* window = ::new (piece[0]) KQSValueList(storage);
  if (n == 0) return window;
  Block* b = ::new (piece[3]) Block{1, 0, static_cast<int>(n)};
  ValNode* nodes = b->Nodes();
  if (values != nullptr) {
    for (long k = 0; k < n; ++k) ::new (nodes + k) ValNode(std::move(values[k]));
  } else {
    for (long k = 0; k < n; ++k) ::new (nodes + k) ValNode();
  }
  Segment* s = MakeSegment(piece[2], 1);
  s->Blocks()[0] = b;
  storage->fSegments.push_back(s);
  if (values == nullptr) {
    // Alone on its block: the slots are the first appends'.
    storage->fAppendNext = nodes;
    storage->fAppendRoom = n;
    return window;
  }
  storage->fCount = n;
  window->fEnd = n + 1;
  // Both runs start out covering the whole list: the first reads need no
  // lookup.
  storage->fCacheNodes = nodes;
  storage->fCacheLo = 1;
  storage->fCacheLength = static_cast<unsigned long>(n);
  window->fCacheNodes = nodes;
  window->fCacheLo = 1;
  window->fCacheLength = static_cast<unsigned long>(n);
  return window;
}

KQSValueList* KQSValueList::ForAppends() { return MadeInOne(kFirstSlots, nullptr); }
