/// \file
/// The library's ordered map: a balanced search tree with every pair in its
/// leaves, several pairs to a leaf.
#ifndef VXKERNEL_TEXT_T23TREE_H_
#define VXKERNEL_TEXT_T23TREE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "vxkernel/smallheap.h"

template <class K, class V>
class T23Tree;
template <class K, class V>
class T23Iter;

/// What a leaf and an inner node share: the kind and how full the node is.
/// Nodes have no virtual table: the tree walks its paths in loops. Nodes are
/// owned by their tree, never shared, and live in blocks the tree allocates
/// and frees itself (see T23Tree::NewNode).
template <class K, class V>
class T23Node {
 public:
  T23Node(const T23Node&) = delete;
  T23Node& operator=(const T23Node&) = delete;

  /// True for a T23Leaf, false for an inner node (T23Index).
  bool IsLeaf() const { return fIsLeaf; }

  /// Pairs a full leaf holds: a leaf's keys and values fill about 768 bytes.
  static constexpr int kLeafCap =
      static_cast<int>(std::clamp<std::size_t>(768 / (sizeof(K) + sizeof(V)), 8, 32));
  /// Children of a full inner node: its keys, child pointers and counts fill
  /// about 512 bytes.
  static constexpr int kIndexCap =
      static_cast<int>(std::clamp<std::size_t>(512 / (sizeof(K) + 2 * sizeof(void*)), 8, 32));

 protected:
  /// An empty node of the given kind.
  explicit T23Node(bool isLeaf) : fIsLeaf(isLeaf) {}
  ~T23Node() = default;  ///< the tree destroys the parts it knows of

 private:
  friend class T23Tree<K, V>;
  friend class T23Iter<K, V>;
  bool fIsLeaf;
  std::uint16_t fN = 0;  ///< pairs of a leaf, children of an inner node
};

/// Up to fCap pairs in ascending key order, their keys in one array and their
/// values in another, both in the leaf's own block behind these fields. A
/// key stays as first inserted; a later Add of an equal key replaces the
/// value. Every leaf but a map's only one has kLeafCap places; that one
/// starts small and grows, since most maps are small.
template <class K, class V>
class T23Leaf : public T23Node<K, V> {
 private:
  friend class T23Tree<K, V>;
  friend class T23Iter<K, V>;
  explicit T23Leaf(int cap) : T23Node<K, V>(true), fCap(static_cast<std::uint16_t>(cap)) {}

  static constexpr std::size_t RoundUp(std::size_t n, std::size_t a) { return (n + a - 1) / a * a; }
  static constexpr std::size_t KeysAt() { return RoundUp(sizeof(T23Leaf), alignof(K)); }
  static constexpr std::size_t ValuesAt(int cap) { return RoundUp(KeysAt() + cap * sizeof(K), alignof(V)); }
  static constexpr std::size_t Bytes(int cap) { return ValuesAt(cap) + cap * sizeof(V); }
  K* Keys() { return std::launder(reinterpret_cast<K*>(reinterpret_cast<char*>(this) + KeysAt())); }
  const K* Keys() const { return const_cast<T23Leaf*>(this)->Keys(); }
  V* Values() { return std::launder(reinterpret_cast<V*>(reinterpret_cast<char*>(this) + ValuesAt(fCap))); }
  const V* Values() const { return const_cast<T23Leaf*>(this)->Values(); }

  std::uint16_t fCap;
  T23Leaf* fNext = nullptr;  ///< the leaf with the next larger keys, or null
};

/// An inner node: fN children and fN - 1 routing keys. Key i is a lower
/// bound of every key below child i + 1 and above every key below child i;
/// an insertion sets it to the smallest key below child i + 1, a deletion
/// may leave a removed key there, which still routes correctly. fCounts[i]
/// is the number of pairs below child i, kept current on every change along
/// the changed path. Keys live in raw storage, so K needs no default
/// constructor.
template <class K, class V>
class T23Index : public T23Node<K, V> {
 private:
  friend class T23Tree<K, V>;
  friend class T23Iter<K, V>;
  static constexpr int kCap = T23Node<K, V>::kIndexCap;
  T23Index() : T23Node<K, V>(false) {}
  K* Keys() { return std::launder(reinterpret_cast<K*>(fKeyBytes)); }
  const K* Keys() const { return std::launder(reinterpret_cast<const K*>(fKeyBytes)); }

  T23Node<K, V>* fChild[kCap];
  long fCounts[kCap];
  alignas(K) unsigned char fKeyBytes[(kCap - 1) * sizeof(K)];
};

/// T23Tree<K, V> maps keys to values in ascending operator< order; two keys
/// are the same key when operator== says so. K needs copy construction,
/// assignment, == and <; V copy construction and assignment (and a default
/// constructor for operator[]); both are assumed not to throw when moved.
/// The map owns its nodes and the copies of keys and values inside them;
/// copies of a map re-insert its pairs one by one. Length() is constant time
/// and positional access logarithmic: every inner node keeps the pair count
/// of each child current. Not synchronized: callers lock.
template <class K, class V>
class T23Tree {
 public:
  T23Tree() = default;
  /// A copy made by inserting other's pairs one by one (Merge).
  T23Tree(const T23Tree& other) { Merge(other); }
  /// Takes other's nodes in constant time; other becomes empty.
  T23Tree(T23Tree&& other) noexcept
      : fRoot(std::exchange(other.fRoot, nullptr)), fSize(std::exchange(other.fSize, 0)) {}
  /// Clears, merges other's pairs (self-assignment keeps the map); returns a copy.
  T23Tree operator=(const T23Tree& other) {
    if (this != &other) {
      Clear();
      Merge(other);
    }
    return *this;
  }
  /// Clears this map and takes other's nodes; other becomes empty.
  T23Tree& operator=(T23Tree&& other) noexcept {
    if (this != &other) {
      Clear();
      fRoot = std::exchange(other.fRoot, nullptr);
      fSize = std::exchange(other.fSize, 0);
    }
    return *this;
  }
  virtual ~T23Tree() { Clear(); }

  /// Inserts the pair; when an equal key is present only its value is
  /// replaced and the stored key is kept as first inserted.
  void Add(const K& key, const V& value);
  /// Removes the pair with an equal key; false when there is none.
  bool Delete(const K& key);
  /// True when a pair with an equal key is present.
  virtual bool IsKey(const K& key) const {
    int i = 0;
    return Find(key, &i) != nullptr;
  }
  /// Copies the value of an equal key into value; false (value untouched)
  /// when absent.
  bool Get(const K& key, V& value) const {
    int i = 0;
    const Leaf* leaf = Find(key, &i);
    if (leaf == nullptr) return false;
    value = leaf->Values()[i];
    return true;
  }
  /// The n-th pair in key order, counting from 1; false (key and value
  /// untouched) for n below 1 or above Length().
  bool GetIndexed(long n, K& key, V& value) const {
    int i = 0;
    const Leaf* leaf = LeafAt(n, &i);
    if (leaf == nullptr) return false;
    key = leaf->Keys()[i];
    value = leaf->Values()[i];
    return true;
  }
  /// The value of the n-th pair, or a default-constructed V out of range.
  V operator[](long n) const {
    int i = 0;
    const Leaf* leaf = LeafAt(n, &i);
    return leaf != nullptr ? leaf->Values()[i] : V();
  }
  /// The number of pairs, in constant time.
  long Length() const { return fSize; }
  /// Adds every pair of other in ascending order, so values of keys present
  /// in both maps are taken from other.
  void Merge(const T23Tree& other);
  static constexpr int kVisitBatch = 32;  ///< the most pairs one visit call gets
  /// Calls visit(keys, values, n) with every pair in ascending key order,
  /// at most kVisitBatch pairs a call (the pairs of one leaf), through
  /// pointers that stay valid until the map changes; visit must not change
  /// the map. The next leaf is asked of the cache while one is visited, so a
  /// walk over a map that is not in the cache overlaps its waits.
  template <class F>
  void VisitInBatches(F&& visit) const {
    if (fRoot != nullptr) VisitNode(fRoot, visit);
  }
  /// Asks the cache for the nodes depth levels below the root (the root is
  /// level 0) of a map of at most kVisitBatch pairs, reading the levels
  /// above, which an earlier call should have asked for; a writer calls it
  /// with rising depths for maps it will walk soon. The level below the
  /// leaves is their pairs; one further down calls onPair(key, value) for
  /// every pair instead, so that the caller can ask for what they point to.
  /// Larger maps are left to VisitInBatches.
  template <class F>
  void PrefetchLevel(int depth, F&& onPair) const;
  /// Deletes every node; the map becomes empty.
  void Clear() {
    Destroy(fRoot);
    fRoot = nullptr;
    fSize = 0;
  }

  /// Test and debug aid: checks that all leaves lie at one depth, every
  /// node holds no more than its places and at least one pair (a leaf) or
  /// two children (an inner node), keys ascend strictly, within and across
  /// leaves and along the leaf chain, routing keys separate the children, and
  /// every count is the number of pairs below. With exactRouting, also that
  /// each routing key equals the smallest key below its child (true after
  /// insertions only). On failure stores the reason in *why (when given) and
  /// returns false.
  bool CheckStructure(bool exactRouting = false, std::string* why = nullptr) const;

 private:
  friend class T23Iter<K, V>;
  using Node = T23Node<K, V>;
  using Leaf = T23Leaf<K, V>;
  using Index = T23Index<K, V>;
  static constexpr int kLeafCap = Node::kLeafCap;
  static constexpr int kIndexCap = Node::kIndexCap;
  static constexpr int kFirstCap = 4;  ///< places of a map's first leaf
  /// Fewer pairs or children than this after a deletion: the node takes
  /// some from a neighbour or merges with it.
  static constexpr int kLeafMin = kLeafCap / 2;
  static constexpr int kIndexMin = kIndexCap / 2;
  /// Height bound: every inner node has at least two children.
  static constexpr int kMaxDepth = 64;
  static_assert(kLeafCap <= kVisitBatch, "a leaf is visited in one batch");

  /// Every node block comes from the library's small-object heap (nodes are
  /// many, small and short-lived) and goes back through FreeNode, with its
  /// size.
  static void* NewNode(std::size_t bytes) { return vxk::SmallAlloc(bytes); }
  static void FreeNode(void* p, std::size_t bytes) noexcept { vxk::SmallFree(p, bytes); }
  static Leaf* NewLeaf(int cap) { return new (NewNode(Leaf::Bytes(cap))) Leaf(cap); }
  /// Frees a leaf whose pairs are gone.
  static void FreeLeaf(Leaf* leaf) noexcept { FreeNode(leaf, Leaf::Bytes(leaf->fCap)); }
  /// Frees an inner node whose keys are gone.
  static void FreeIndex(Index* x) noexcept { FreeNode(x, sizeof(Index)); }

  static Leaf* AsLeaf(Node* n) { return static_cast<Leaf*>(n); }
  static const Leaf* AsLeaf(const Node* n) { return static_cast<const Leaf*>(n); }
  static Index* AsIndex(Node* n) { return static_cast<Index*>(n); }
  static const Index* AsIndex(const Node* n) { return static_cast<const Index*>(n); }

  /// Moves count objects from src to dst (either may overlap the other),
  /// ending each source's life; dst is raw storage where nothing lives.
  template <class T>
  static void Relocate(T* dst, T* src, int count) noexcept {
    if (dst < src) {
      for (int i = 0; i < count; ++i) Relocate1(dst + i, src + i);
    } else {
      for (int i = count - 1; i >= 0; --i) Relocate1(dst + i, src + i);
    }
  }
  template <class T>
  static void Relocate1(T* dst, T* src) noexcept {
    std::construct_at(dst, std::move(*src));
    std::destroy_at(src);
  }
  /// The child of x where key belongs: the number of routing keys at or
  /// below it.
  static int Route(const Index* x, const K& key) {
    const K* keys = x->Keys();
    int lo = 0;
    int hi = x->fN - 1;
    while (lo < hi) {
      const int mid = (lo + hi) / 2;
      if (key < keys[mid]) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    return lo;
  }
  /// The first place of leaf whose key is not below key.
  static int LowerBound(const Leaf* leaf, const K& key) {
    const K* keys = leaf->Keys();
    int lo = 0;
    int hi = leaf->fN;
    while (lo < hi) {
      const int mid = (lo + hi) / 2;
      if (keys[mid] < key) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  }
  /// Walks from the root down to the leaf where key belongs, recording each
  /// inner node and the child taken in path/pos; stores the number of steps
  /// in *depth.
  Leaf* Descend(const K& key, Index** path, int* pos, int* depth) const;
  const Leaf* Find(const K& key, int* at) const;
  const Leaf* LeafAt(long n, int* at) const;
  static long PairsBelow(const Index* x) {
    long sum = 0;
    for (int i = 0; i < x->fN; ++i) sum += x->fCounts[i];
    return sum;
  }
  static void Destroy(Node* n) noexcept;
  template <class F>
  static void VisitNode(const Node* n, F& visit);
  static void PrefetchPairs(const Leaf* leaf) {
    const char* keys = reinterpret_cast<const char*>(leaf->Keys());
    const char* values = reinterpret_cast<const char*>(leaf->Values());
    for (std::size_t b = 0; b < leaf->fN * sizeof(K); b += 64) __builtin_prefetch(keys + b);
    for (std::size_t b = 0; b < leaf->fN * sizeof(V); b += 64) __builtin_prefetch(values + b);
  }

  /// Insertion below the path: the pair goes to place i of leaf.
  void Insert(Index** path, int* pos, int depth, Leaf* leaf, int i, const K& key, const V& value,
              bool append);
  /// Splits the full leaf with the pair at combined place i into leaf and
  /// right; returns how many pairs leaf keeps.
  static int SplitLeaf(Leaf* leaf, Leaf* right, int i, K&& key, V&& value, bool append) noexcept;
  /// Splits the full x with child c (pairs below: count) after child p, and
  /// the routing key *up in front of c, into x and right; *up becomes the
  /// routing key for right.
  static void SplitIndex(Index* x, Index* right, int p, Node* c, long count, std::optional<K>& up,
                         bool append) noexcept;
  /// Child p of x has too few pairs or children: takes some from a
  /// neighbour or merges with it.
  static void Rebalance(Index* x, int p);
  static void RemoveChild(Index* x, int p) noexcept;

  bool CheckNode(const Node* n, int depth, int& leafDepth, const Leaf*& lastLeaf, const K** lo,
                 const K** hi, long* pairs, bool exact, std::string& why) const;

  Node* fRoot = nullptr;  ///< null for an empty map
  long fSize = 0;         ///< pairs in the map
};

/// In-order iteration over a T23Tree along its chain of leaves. It borrows
/// the map, which must outlive it and not change while it runs. Not
/// synchronized: one thread at a time.
template <class K, class V>
class T23Iter {
 public:
  /// Starts before the smallest key of tree (see Reset).
  explicit T23Iter(const T23Tree<K, V>& tree) : fTree(tree) { Reset(); }

  /// Starts again at the smallest key.
  void Reset() {
    const T23Node<K, V>* n = fTree.fRoot;
    while (n != nullptr && !n->fIsLeaf) n = static_cast<const T23Index<K, V>*>(n)->fChild[0];
    fLeaf = static_cast<const T23Leaf<K, V>*>(n);
    fPos = 0;
  }
  /// Copies the next pair in ascending key order; false at the end.
  bool Next(K& key, V& value) {
    if (!Step()) return false;
    key = fLeaf->Keys()[fPos - 1];
    value = fLeaf->Values()[fPos - 1];
    return true;
  }
  /// The next pair without copies; the pointers stay valid until the map
  /// changes. False (pointers untouched) at the end.
  bool Next(const K*& key, const V*& value) {
    if (!Step()) return false;
    key = &fLeaf->Keys()[fPos - 1];
    value = &fLeaf->Values()[fPos - 1];
    return true;
  }

 private:
  /// Moves past the next pair, which is then at fPos - 1 of fLeaf.
  bool Step() {
    if (fLeaf == nullptr) return false;
    if (fPos == fLeaf->fN) {
      if (fLeaf->fNext == nullptr) return false;
      fLeaf = fLeaf->fNext;  // no leaf is empty
      fPos = 0;
    }
    ++fPos;
    return true;
  }

  const T23Tree<K, V>& fTree;
  const T23Leaf<K, V>* fLeaf = nullptr;  ///< null for an empty map
  int fPos = 0;                          ///< pairs of fLeaf already yielded
};

// ===== Implementation =====

template <class K, class V>
void T23Tree<K, V>::Destroy(Node* n) noexcept {
  if (n == nullptr) return;
  if (n->fIsLeaf) {
    Leaf* leaf = AsLeaf(n);
    std::destroy_n(leaf->Keys(), leaf->fN);
    std::destroy_n(leaf->Values(), leaf->fN);
    FreeLeaf(leaf);
    return;
  }
  Index* x = AsIndex(n);
  for (int i = 0; i < x->fN; ++i) Destroy(x->fChild[i]);
  std::destroy_n(x->Keys(), x->fN - 1);
  FreeIndex(x);
}

template <class K, class V>
template <class F>
void T23Tree<K, V>::VisitNode(const Node* n, F& visit) {
  if (n->fIsLeaf) {
    const Leaf* leaf = AsLeaf(n);
    const K* keys[kVisitBatch];
    const V* values[kVisitBatch];
    for (int i = 0; i < leaf->fN; ++i) {
      keys[i] = leaf->Keys() + i;
      values[i] = leaf->Values() + i;
    }
    visit(keys, values, static_cast<int>(leaf->fN));
    return;
  }
  /// Children below the root are full-size blocks: the whole of the next
  /// one is requested while this one is visited.
  const Index* x = AsIndex(n);
  const std::size_t bytes = x->fChild[0]->fIsLeaf ? Leaf::Bytes(kLeafCap) : 128;
  for (int i = 0; i < x->fN; ++i) {
    if (i + 1 < x->fN) {
      const char* next = reinterpret_cast<const char*>(x->fChild[i + 1]);
      for (std::size_t b = 0; b < bytes; b += 64) __builtin_prefetch(next + b);
    }
    VisitNode(x->fChild[i], visit);
  }
}

template <class K, class V>
template <class F>
void T23Tree<K, V>::PrefetchLevel(int depth, F&& onPair) const {
  const Node* level[kVisitBatch];
  if (fRoot == nullptr || (depth > 0 && fSize > kVisitBatch)) return;
  level[0] = fRoot;
  int count = 1;
  for (; depth > 0; --depth) {
    if (level[0]->fIsLeaf) {
      for (int i = 0; i < count; ++i) {
        const Leaf* leaf = AsLeaf(level[i]);
        if (depth == 1) {
          PrefetchPairs(leaf);
        } else {
          for (int j = 0; j < leaf->fN; ++j) onPair(leaf->Keys()[j], leaf->Values()[j]);
        }
      }
      return;
    }
    // Every leaf lies at one depth, and no level holds more nodes than the
    // map has pairs.
    int m = 0;
    const Node* next[kVisitBatch];
    for (int i = 0; i < count; ++i) {
      const Index* x = AsIndex(level[i]);
      for (int j = 0; j < x->fN; ++j) next[m++] = x->fChild[j];
    }
    std::copy(next, next + m, level);
    count = m;
  }
  for (int i = 0; i < count; ++i) __builtin_prefetch(level[i]);
}

template <class K, class V>
typename T23Tree<K, V>::Leaf* T23Tree<K, V>::Descend(const K& key, Index** path, int* pos,
                                                    int* depth) const {
  Node* n = fRoot;
  int d = 0;
  while (!n->fIsLeaf) {
    Index* x = AsIndex(n);
    const int p = Route(x, key);
    path[d] = x;
    pos[d] = p;
    ++d;
    n = x->fChild[p];
  }
  *depth = d;
  return AsLeaf(n);
}

template <class K, class V>
const typename T23Tree<K, V>::Leaf* T23Tree<K, V>::Find(const K& key, int* at) const {
  const Node* n = fRoot;
  if (n == nullptr) return nullptr;
  while (!n->fIsLeaf) {
    const Index* x = AsIndex(n);
    n = x->fChild[Route(x, key)];
  }
  const Leaf* leaf = AsLeaf(n);
  const int i = LowerBound(leaf, key);
  if (i == leaf->fN || !(leaf->Keys()[i] == key)) return nullptr;
  *at = i;
  return leaf;
}

template <class K, class V>
const typename T23Tree<K, V>::Leaf* T23Tree<K, V>::LeafAt(long n, int* at) const {
  if (n < 1 || n > fSize) return nullptr;
  const Node* node = fRoot;
  while (!node->fIsLeaf) {
    const Index* x = AsIndex(node);
    int i = 0;
    while (n > x->fCounts[i]) n -= x->fCounts[i++];
    node = x->fChild[i];
  }
  *at = static_cast<int>(n - 1);
  return AsLeaf(node);
}

template <class K, class V>
void T23Tree<K, V>::Add(const K& key, const V& value) {
  if (fRoot == nullptr) {
    Leaf* leaf = NewLeaf(kFirstCap);
    try {
      std::construct_at(leaf->Keys(), key);
      try {
        std::construct_at(leaf->Values(), value);
      } catch (...) {
        std::destroy_at(leaf->Keys());
        throw;
      }
    } catch (...) {
      FreeLeaf(leaf);
      throw;
    }
    leaf->fN = 1;
    fRoot = leaf;
    fSize = 1;
    return;
  }
  Index* path[kMaxDepth];
  int pos[kMaxDepth];
  int depth = 0;
  /// Keys often come in ascending order (a reader of sorted text): a key
  /// above the largest goes straight down the right edge to the last leaf.
  Node* n = fRoot;
  while (!n->fIsLeaf) {
    Index* x = AsIndex(n);
    path[depth] = x;
    pos[depth++] = x->fN - 1;
    n = x->fChild[x->fN - 1];
  }
  Leaf* leaf = AsLeaf(n);
  if (leaf->Keys()[leaf->fN - 1] < key) {
    Insert(path, pos, depth, leaf, leaf->fN, key, value, true);
    return;
  }
  leaf = Descend(key, path, pos, &depth);
  const int i = LowerBound(leaf, key);
  if (i < leaf->fN && leaf->Keys()[i] == key) {
    leaf->Values()[i] = value;
    return;
  }
  Insert(path, pos, depth, leaf, i, key, value, false);
}

template <class K, class V>
void T23Tree<K, V>::Insert(Index** path, int* pos, int depth, Leaf* leaf, int i, const K& key,
                           const V& value, bool append) {
  /// Everything that can fail happens before the map changes: the copies
  /// of the pair, the routing key for a split leaf, and every block needed,
  /// so an exception leaves the map as it was.
  K k(key);
  V v(value);
  if (leaf->fN < leaf->fCap) {
    K* keys = leaf->Keys();
    V* values = leaf->Values();
    Relocate(keys + i + 1, keys + i, leaf->fN - i);
    Relocate(values + i + 1, values + i, leaf->fN - i);
    std::construct_at(keys + i, std::move(k));
    std::construct_at(values + i, std::move(v));
    ++leaf->fN;
    for (int d = 0; d < depth; ++d) ++path[d]->fCounts[pos[d]];
    ++fSize;
    return;
  }
  if (depth == 0 && leaf->fCap < kLeafCap) {
    // The only leaf grows by half (at least four places) up to full size.
    const int cap = std::min(kLeafCap, leaf->fCap + std::max(4, leaf->fCap / 2));
    Leaf* grown = NewLeaf(cap);
    const int count = leaf->fN;
    Relocate(grown->Keys(), leaf->Keys(), i);
    Relocate(grown->Values(), leaf->Values(), i);
    std::construct_at(grown->Keys() + i, std::move(k));
    std::construct_at(grown->Values() + i, std::move(v));
    Relocate(grown->Keys() + i + 1, leaf->Keys() + i, count - i);
    Relocate(grown->Values() + i + 1, leaf->Values() + i, count - i);
    grown->fN = static_cast<std::uint16_t>(count + 1);
    FreeLeaf(leaf);
    fRoot = grown;
    ++fSize;
    return;
  }

  int splits = 0;
  while (splits < depth && path[depth - 1 - splits]->fN == kIndexCap) ++splits;
  const bool newRoot = splits == depth;
  const int mid = append && i == kLeafCap ? kLeafCap : (kLeafCap + 1) / 2;
  std::optional<K> up;
  if (mid == i) {
    up.emplace(k);
  } else {
    up.emplace(leaf->Keys()[mid < i ? mid : mid - 1]);
  }
  Leaf* right = NewLeaf(kLeafCap);
  Index* spare[kMaxDepth + 1];
  int made = 0;
  try {
    for (; made < splits + (newRoot ? 1 : 0); ++made) {
      spare[made] = new (NewNode(sizeof(Index))) Index();
    }
  } catch (...) {
    while (made > 0) FreeIndex(spare[--made]);
    FreeLeaf(right);
    throw;
  }

  const int kept = SplitLeaf(leaf, right, i, std::move(k), std::move(v), append);
  Node* upNode = right;
  long leftCount = kept;
  long upCount = kLeafCap + 1 - kept;
  int used = 0;
  for (int d = depth - 1; d >= 0; --d) {
    Index* x = path[d];
    const int p = pos[d];
    if (upNode == nullptr) {
      ++x->fCounts[p];
      continue;
    }
    x->fCounts[p] = leftCount;
    if (x->fN < kIndexCap) {
      const int n = x->fN;
      std::copy_backward(x->fChild + p + 1, x->fChild + n, x->fChild + n + 1);
      std::copy_backward(x->fCounts + p + 1, x->fCounts + n, x->fCounts + n + 1);
      Relocate(x->Keys() + p + 1, x->Keys() + p, n - 1 - p);
      std::construct_at(x->Keys() + p, std::move(*up));
      x->fChild[p + 1] = upNode;
      x->fCounts[p + 1] = upCount;
      ++x->fN;
      upNode = nullptr;
      continue;
    }
    Index* r = spare[used++];
    SplitIndex(x, r, p, upNode, upCount, up, append);
    leftCount = PairsBelow(x);
    upCount = PairsBelow(r);
    upNode = r;
  }
  if (upNode != nullptr) {
    Index* root = spare[used++];
    root->fChild[0] = fRoot;
    root->fChild[1] = upNode;
    root->fCounts[0] = leftCount;
    root->fCounts[1] = upCount;
    std::construct_at(root->Keys(), std::move(*up));
    root->fN = 2;
    fRoot = root;
  }
  ++fSize;
}

template <class K, class V>
int T23Tree<K, V>::SplitLeaf(Leaf* leaf, Leaf* right, int i, K&& key, V&& value,
                             bool append) noexcept {
  /// Of the kLeafCap + 1 pairs in order, the first mid stay and the rest
  /// move right; appends keep the leaf full, so ascending keys fill leaves.
  const int mid = append && i == kLeafCap ? kLeafCap : (kLeafCap + 1) / 2;
  K* keys = leaf->Keys();
  V* values = leaf->Values();
  for (int j = mid; j <= kLeafCap; ++j) {
    K* rk = right->Keys() + (j - mid);
    V* rv = right->Values() + (j - mid);
    if (j == i) {
      std::construct_at(rk, std::move(key));
      std::construct_at(rv, std::move(value));
    } else {
      const int from = j < i ? j : j - 1;
      Relocate1(rk, keys + from);
      Relocate1(rv, values + from);
    }
  }
  if (i < mid) {
    Relocate(keys + i + 1, keys + i, mid - 1 - i);
    Relocate(values + i + 1, values + i, mid - 1 - i);
    std::construct_at(keys + i, std::move(key));
    std::construct_at(values + i, std::move(value));
  }
  leaf->fN = static_cast<std::uint16_t>(mid);
  right->fN = static_cast<std::uint16_t>(kLeafCap + 1 - mid);
  right->fNext = leaf->fNext;
  leaf->fNext = right;
  return mid;
}

template <class K, class V>
void T23Tree<K, V>::SplitIndex(Index* x, Index* right, int p, Node* c, long count,
                               std::optional<K>& up, bool append) noexcept {
  /// Of the kIndexCap + 1 children in order, with c at p + 1, the first mid
  /// stay; an append leaves two children to the new node.
  constexpr int kAll = kIndexCap + 1;
  const int mid = append && p == kIndexCap - 1 ? kIndexCap - 1 : kAll / 2;
  Node* children[kAll];
  long counts[kAll];
  std::copy(x->fChild, x->fChild + p + 1, children);
  std::copy(x->fCounts, x->fCounts + p + 1, counts);
  children[p + 1] = c;
  counts[p + 1] = count;
  std::copy(x->fChild + p + 1, x->fChild + kIndexCap, children + p + 2);
  std::copy(x->fCounts + p + 1, x->fCounts + kIndexCap, counts + p + 2);
  std::copy(children, children + mid, x->fChild);
  std::copy(counts, counts + mid, x->fCounts);
  std::copy(children + mid, children + kAll, right->fChild);
  std::copy(counts + mid, counts + kAll, right->fCounts);

  /// Keys in order: x's with *up at p; the first mid - 1 stay, the next goes
  /// up and the rest move right.
  K* keys = x->Keys();
  auto source = [&](int j) -> K* { return j < p ? keys + j : j == p ? &*up : keys + j - 1; };
  for (int j = mid; j < kIndexCap; ++j) {
    K* s = source(j);
    std::construct_at(right->Keys() + (j - mid), std::move(*s));
    if (s != &*up) std::destroy_at(s);
  }
  K* s = source(mid - 1);
  K lifted(std::move(*s));
  if (s != &*up) std::destroy_at(s);
  if (p < mid - 1) {
    Relocate(keys + p + 1, keys + p, mid - 2 - p);
    std::construct_at(keys + p, std::move(*up));
  }
  *up = std::move(lifted);
  x->fN = static_cast<std::uint16_t>(mid);
  right->fN = static_cast<std::uint16_t>(kAll - mid);
}

template <class K, class V>
bool T23Tree<K, V>::Delete(const K& key) {
  if (fRoot == nullptr) return false;
  Index* path[kMaxDepth];
  int pos[kMaxDepth];
  int depth = 0;
  Leaf* leaf = Descend(key, path, pos, &depth);
  const int i = LowerBound(leaf, key);
  if (i == leaf->fN || !(leaf->Keys()[i] == key)) return false;
  std::destroy_at(leaf->Keys() + i);
  std::destroy_at(leaf->Values() + i);
  Relocate(leaf->Keys() + i, leaf->Keys() + i + 1, leaf->fN - 1 - i);
  Relocate(leaf->Values() + i, leaf->Values() + i + 1, leaf->fN - 1 - i);
  --leaf->fN;
  --fSize;
  for (int d = 0; d < depth; ++d) --path[d]->fCounts[pos[d]];
  /// Underfull nodes are repaired bottom up, as long as a repair leaves the
  /// parent underfull too.
  bool under = leaf->fN < kLeafMin;
  for (int d = depth - 1; d >= 0 && under; --d) {
    Rebalance(path[d], pos[d]);
    under = path[d]->fN < kIndexMin;
  }
  if (fRoot->fIsLeaf) {
    if (fSize == 0) {
      FreeLeaf(AsLeaf(fRoot));
      fRoot = nullptr;
    }
  } else if (AsIndex(fRoot)->fN == 1) {
    Index* old = AsIndex(fRoot);
    fRoot = old->fChild[0];
    FreeIndex(old);
  }
  return true;
}

/// Removes routing key p and child p + 1 of x, whose pairs child p now holds.
template <class K, class V>
void T23Tree<K, V>::RemoveChild(Index* x, int p) noexcept {
  const int n = x->fN;
  x->fCounts[p] += x->fCounts[p + 1];
  std::copy(x->fChild + p + 2, x->fChild + n, x->fChild + p + 1);
  std::copy(x->fCounts + p + 2, x->fCounts + n, x->fCounts + p + 1);
  std::destroy_at(x->Keys() + p);
  Relocate(x->Keys() + p, x->Keys() + p + 1, n - 2 - p);
  --x->fN;
}

template <class K, class V>
void T23Tree<K, V>::Rebalance(Index* x, int p) {
  /// The pair of neighbours l (at li) and r (at li + 1), separated by key li.
  const int li = p > 0 ? p - 1 : 0;
  K& sep = x->Keys()[li];
  if (x->fChild[li]->fIsLeaf) {
    Leaf* l = AsLeaf(x->fChild[li]);
    Leaf* r = AsLeaf(x->fChild[li + 1]);
    const int total = l->fN + r->fN;
    if (total <= kLeafCap) {
      Relocate(l->Keys() + l->fN, r->Keys(), r->fN);
      Relocate(l->Values() + l->fN, r->Values(), r->fN);
      l->fN = static_cast<std::uint16_t>(total);
      l->fNext = r->fNext;
      FreeLeaf(r);
      RemoveChild(x, li);
      return;
    }
    // Share the pairs evenly; the routing key becomes r's first.
    const int keep = total / 2;
    if (l->fN > keep) {
      const int k = l->fN - keep;
      K first(l->Keys()[keep]);
      Relocate(r->Keys() + k, r->Keys(), r->fN);
      Relocate(r->Values() + k, r->Values(), r->fN);
      Relocate(r->Keys(), l->Keys() + keep, k);
      Relocate(r->Values(), l->Values() + keep, k);
      sep = std::move(first);
    } else {
      const int k = keep - l->fN;
      K first(r->Keys()[k]);
      Relocate(l->Keys() + l->fN, r->Keys(), k);
      Relocate(l->Values() + l->fN, r->Values(), k);
      Relocate(r->Keys(), r->Keys() + k, r->fN - k);
      Relocate(r->Values(), r->Values() + k, r->fN - k);
      sep = std::move(first);
    }
    l->fN = static_cast<std::uint16_t>(keep);
    r->fN = static_cast<std::uint16_t>(total - keep);
    x->fCounts[li] = keep;
    x->fCounts[li + 1] = total - keep;
    return;
  }
  Index* l = AsIndex(x->fChild[li]);
  Index* r = AsIndex(x->fChild[li + 1]);
  const int total = l->fN + r->fN;
  if (total <= kIndexCap) {
    // The routing key comes down between l's keys and r's.
    std::construct_at(l->Keys() + l->fN - 1, std::move(sep));
    Relocate(l->Keys() + l->fN, r->Keys(), r->fN - 1);
    std::copy(r->fChild, r->fChild + r->fN, l->fChild + l->fN);
    std::copy(r->fCounts, r->fCounts + r->fN, l->fCounts + l->fN);
    l->fN = static_cast<std::uint16_t>(total);
    FreeIndex(r);
    RemoveChild(x, li);
    return;
  }
  /// Rotate children through the routing key until the two are even.
  while (l->fN > r->fN + 1) {
    const int ln = l->fN;
    const int rn = r->fN;
    Relocate(r->Keys() + 1, r->Keys(), rn - 1);
    std::construct_at(r->Keys(), std::move(sep));
    sep = std::move(l->Keys()[ln - 2]);
    std::destroy_at(l->Keys() + ln - 2);
    std::copy_backward(r->fChild, r->fChild + rn, r->fChild + rn + 1);
    std::copy_backward(r->fCounts, r->fCounts + rn, r->fCounts + rn + 1);
    r->fChild[0] = l->fChild[ln - 1];
    r->fCounts[0] = l->fCounts[ln - 1];
    x->fCounts[li] -= r->fCounts[0];
    x->fCounts[li + 1] += r->fCounts[0];
    --l->fN;
    ++r->fN;
  }
  while (r->fN > l->fN + 1) {
    const int ln = l->fN;
    const int rn = r->fN;
    std::construct_at(l->Keys() + ln - 1, std::move(sep));
    sep = std::move(r->Keys()[0]);
    std::destroy_at(r->Keys());
    Relocate(r->Keys(), r->Keys() + 1, rn - 2);
    l->fChild[ln] = r->fChild[0];
    l->fCounts[ln] = r->fCounts[0];
    std::copy(r->fChild + 1, r->fChild + rn, r->fChild);
    std::copy(r->fCounts + 1, r->fCounts + rn, r->fCounts);
    x->fCounts[li] += l->fCounts[ln];
    x->fCounts[li + 1] -= l->fCounts[ln];
    ++l->fN;
    --r->fN;
  }
}

template <class K, class V>
void T23Tree<K, V>::Merge(const T23Tree& other) {
  if (&other == this) return;
  for (T23Iter<K, V> it(other);;) {
    const K* key = nullptr;
    const V* value = nullptr;
    if (!it.Next(key, value)) break;
    Add(*key, *value);
  }
}

template <class K, class V>
bool T23Tree<K, V>::CheckStructure(bool exactRouting, std::string* why) const {
  std::string reason;
  bool ok = true;
  long pairs = 0;
  if (fRoot != nullptr) {
    int leafDepth = -1;
    const Leaf* lastLeaf = nullptr;
    const K* lo = nullptr;
    const K* hi = nullptr;
    ok = CheckNode(fRoot, 0, leafDepth, lastLeaf, &lo, &hi, &pairs, exactRouting, reason);
    if (ok && lastLeaf->fNext != nullptr) {
      ok = false;
      reason = "the last leaf has a successor";
    }
    if (ok && !fRoot->fIsLeaf && AsIndex(fRoot)->fN < 2) {
      ok = false;
      reason = "inner root with one child";
    }
  }
  if (ok && pairs != fSize) {
    ok = false;
    reason = "size " + std::to_string(fSize) + " but " + std::to_string(pairs) + " pairs";
  }
  if (!ok && why != nullptr) *why = reason;
  return ok;
}

/// Checks the subtree at n, the leaf chain through it (lastLeaf is the leaf
/// before it), and reports its smallest and largest key and its pairs.
template <class K, class V>
bool T23Tree<K, V>::CheckNode(const Node* n, int depth, int& leafDepth, const Leaf*& lastLeaf,
                              const K** lo, const K** hi, long* pairs, bool exact,
                              std::string& why) const {
  const std::string at = " at depth " + std::to_string(depth);
  if (n->fIsLeaf) {
    const Leaf* leaf = AsLeaf(n);
    if (leafDepth < 0) leafDepth = depth;
    if (depth != leafDepth) {
      why = "leaves at depths " + std::to_string(leafDepth) + " and " + std::to_string(depth);
      return false;
    }
    if (leaf->fN < 1 || leaf->fN > leaf->fCap || (depth > 0 && leaf->fCap != kLeafCap)) {
      why = "leaf of " + std::to_string(leaf->fN) + " pairs in " + std::to_string(leaf->fCap) +
            " places" + at;
      return false;
    }
    if (lastLeaf != nullptr && lastLeaf->fNext != leaf) {
      why = "leaf chain skips a leaf" + at;
      return false;
    }
    lastLeaf = leaf;
    for (int i = 1; i < leaf->fN; ++i) {
      if (!(leaf->Keys()[i - 1] < leaf->Keys()[i])) {
        why = "keys not ascending in a leaf" + at;
        return false;
      }
    }
    *lo = leaf->Keys();
    *hi = leaf->Keys() + leaf->fN - 1;
    *pairs = leaf->fN;
    return true;
  }
  const Index* x = AsIndex(n);
  if (x->fN < 2 || x->fN > kIndexCap) {
    why = "inner node with " + std::to_string(x->fN) + " children" + at;
    return false;
  }
  long sum = 0;
  const K* prevHi = nullptr;
  for (int i = 0; i < x->fN; ++i) {
    const K* clo = nullptr;
    const K* chi = nullptr;
    long below = 0;
    if (!CheckNode(x->fChild[i], depth + 1, leafDepth, lastLeaf, &clo, &chi, &below, exact, why)) {
      return false;
    }
    if (below != x->fCounts[i]) {
      why = "count " + std::to_string(x->fCounts[i]) + " but " + std::to_string(below) +
            " pairs below" + at;
      return false;
    }
    if (i > 0) {
      const K& sep = x->Keys()[i - 1];
      if (!(*prevHi < *clo)) {
        why = "keys not ascending across children" + at;
        return false;
      }
      if (!(*prevHi < sep) || *clo < sep) {
        why = "routing key " + std::to_string(i - 1) + " does not separate" + at;
        return false;
      }
      if (exact && !(sep == *clo)) {
        why = "routing key " + std::to_string(i - 1) + " is not the smallest key below" + at;
        return false;
      }
    } else {
      *lo = clo;
    }
    prevHi = chi;
    sum += below;
  }
  *hi = prevHi;
  *pairs = sum;
  return true;
}

#endif  // VXKERNEL_TEXT_T23TREE_H_
