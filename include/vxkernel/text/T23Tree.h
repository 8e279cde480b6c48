// The library's ordered map: a 2-3 tree with every pair in its leaves.
#ifndef VXKERNEL_TEXT_T23TREE_H_
#define VXKERNEL_TEXT_T23TREE_H_

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "vxkernel/text/KStack.h"

template <class K, class V>
class T23Tree;
template <class K, class V>
class T23Iter;
template <class K, class V>
class T23Index;

// A node of a T23Tree: a leaf (one pair) or an inner node that only routes.
// Nodes carry a kind tag instead of a virtual table: the tree walks its paths
// in loops, so no call per level is needed, and a leaf stays key + value +
// one word. Nodes are owned by their tree; they are never shared.
template <class K, class V>
class T23Node {
 public:
  T23Node(const T23Node&) = delete;
  T23Node& operator=(const T23Node&) = delete;

  bool IsLeaf() const { return fIsLeaf; }
  // Pairs below this node: 1 for a leaf.
  long Count() const;

 protected:
  explicit T23Node(bool isLeaf) : fIsLeaf(isLeaf) {}
  ~T23Node() = default;  // deleted through the tree, which knows the kind

 private:
  friend class T23Tree<K, V>;
  friend class T23Iter<K, V>;
  const bool fIsLeaf;
};

// One key and its value, copied in when the pair was first added. The key
// stays as first inserted; a later Add of an equal key replaces the value.
template <class K, class V>
class T23Leaf : public T23Node<K, V> {
 private:
  friend class T23Tree<K, V>;
  friend class T23Iter<K, V>;
  T23Leaf(const K& key, const V& value) : T23Node<K, V>(true), fKey(key), fValue(value) {}

  K fKey;
  V fValue;
};

// An inner node with two or three children. fKey1 is a lower bound of every
// key below fChild[1] and above every key below fChild[0] (and fKey2 likewise
// for fChild[2]); insertion sets it to the smallest key below that child,
// deletion may leave a removed key there, which still routes correctly.
// fKey2 is alive exactly while fChild[2] is not null, so K needs no default
// constructor. fCount is the number of pairs below, kept current on every
// change along the changed path.
template <class K, class V>
class T23Index : public T23Node<K, V> {
 public:
  ~T23Index() {
    if (fChild[2] != nullptr) std::destroy_at(&fKey2);
  }

 private:
  friend class T23Node<K, V>;
  friend class T23Tree<K, V>;
  friend class T23Iter<K, V>;
  T23Index(K&& key1, T23Node<K, V>* c0, T23Node<K, V>* c1, long count)
      : T23Node<K, V>(false), fCount(count), fKey1(std::move(key1)), fChild{c0, c1, nullptr} {}

  long fCount;
  K fKey1;
  union {
    K fKey2;
  };
  T23Node<K, V>* fChild[3];
};

template <class K, class V>
long T23Node<K, V>::Count() const {
  return fIsLeaf ? 1 : static_cast<const T23Index<K, V>*>(this)->fCount;
}

// T23Tree<K, V> maps keys to values in ascending operator< order; two keys
// are the same key when operator== says so. K needs copy construction,
// assignment, == and <; V copy construction and assignment (and a default
// constructor for operator[]). The map owns its nodes and the copies of keys
// and values inside them; copies of a map re-insert its pairs one by one.
// Length() is constant time and positional access logarithmic: every node
// keeps its pair count current. Not synchronized: callers lock.
template <class K, class V>
class T23Tree {
 public:
  T23Tree() = default;
  T23Tree(const T23Tree& other) { Merge(other); }
  T23Tree(T23Tree&& other) noexcept : fRoot(std::exchange(other.fRoot, nullptr)) {}
  // Clears, then merges other's pairs; assigning a map to itself keeps it.
  T23Tree& operator=(const T23Tree& other) {
    if (this != &other) {
      Clear();
      Merge(other);
    }
    return *this;
  }
  T23Tree& operator=(T23Tree&& other) noexcept {
    if (this != &other) {
      Clear();
      fRoot = std::exchange(other.fRoot, nullptr);
    }
    return *this;
  }
  virtual ~T23Tree() { Clear(); }

  // Inserts the pair; when an equal key is present only its value is
  // replaced and the stored key is kept as first inserted.
  void Add(const K& key, const V& value);
  // Removes the pair with an equal key; false when there is none.
  bool Delete(const K& key);
  virtual bool IsKey(const K& key) const { return FindLeaf(key) != nullptr; }
  // Copies the value of an equal key into value; false (value untouched)
  // when absent.
  bool Get(const K& key, V& value) const {
    const Leaf* leaf = FindLeaf(key);
    if (leaf == nullptr) return false;
    value = leaf->fValue;
    return true;
  }
  // The n-th pair in key order, counting from 1; false (key and value
  // untouched) for n below 1 or above Length().
  bool GetIndexed(long n, K& key, V& value) const {
    const Leaf* leaf = LeafAt(n);
    if (leaf == nullptr) return false;
    key = leaf->fKey;
    value = leaf->fValue;
    return true;
  }
  // The value of the n-th pair, or a default-constructed V out of range.
  V operator[](long n) const {
    const Leaf* leaf = LeafAt(n);
    return leaf != nullptr ? leaf->fValue : V();
  }
  // The number of pairs, in constant time.
  long Length() const { return fRoot != nullptr ? fRoot->Count() : 0; }
  // Adds every pair of other in ascending order, so values of keys present
  // in both maps are taken from other.
  void Merge(const T23Tree& other);
  // Calls visit(keys, values, n) with every pair in ascending key order,
  // at most kVisitBatch pairs a call, through pointers that stay valid until
  // the map changes; visit must not change the map. A subtree of up to
  // kVisitBatch pairs is fetched a level at a time with the nodes of each
  // level requested together, so a walk over a map that is not in the cache
  // waits for memory once per level instead of once per node.
  static constexpr int kVisitBatch = 32;
  template <class F>
  void VisitInBatches(F&& visit) const {
    if (fRoot != nullptr) VisitNode(fRoot, visit);
  }
  // Asks the cache for the nodes depth levels below the root (the root is
  // level 0) of a map of at most kVisitBatch pairs, reading the levels
  // above, which an earlier call should have asked for; a writer calls it
  // with rising depths for maps it will walk soon. A depth past the leaves
  // calls onPair(key, value) for every pair instead, so that the caller can
  // ask for what they point to. Larger maps are left to VisitInBatches.
  template <class F>
  void PrefetchLevel(int depth, F&& onPair) const {
    const Node* level[kVisitBatch];
    if (fRoot == nullptr || (depth > 0 && fRoot->Count() > kVisitBatch)) return;
    level[0] = fRoot;
    int count = 1;
    for (; depth > 0; --depth) {
      if (level[0]->fIsLeaf) {
        for (int i = 0; i < count; ++i) onPair(AsLeaf(level[i])->fKey, AsLeaf(level[i])->fValue);
        return;
      }
      int m = 0;
      const Node* next[kVisitBatch];
      for (int i = 0; i < count; ++i) {
        for (const Node* c : AsIndex(level[i])->fChild) {
          if (c != nullptr) next[m++] = c;
        }
      }
      std::copy(next, next + m, level);
      count = m;
    }
    for (int i = 0; i < count; ++i) __builtin_prefetch(level[i]);
  }
  // Deletes every node; the map becomes empty.
  void Clear() {
    Destroy(fRoot);
    fRoot = nullptr;
  }

  // Test and debug aid: checks that every inner node has two or three
  // children, all leaves lie at one depth, the routing keys separate the
  // children, keys ascend strictly and every count is the sum below it. With
  // exactRouting, also that each routing key equals the smallest key below
  // its child (true after insertions only). On failure stores the reason in
  // *why (when given) and returns false.
  bool CheckStructure(bool exactRouting = false, std::string* why = nullptr) const;

 private:
  friend class T23Iter<K, V>;
  using Node = T23Node<K, V>;
  using Leaf = T23Leaf<K, V>;
  using Index = T23Index<K, V>;
  // Height bound: a 2-3 tree of height h holds at least 2^h pairs.
  static constexpr int kMaxDepth = 64;

  static Leaf* AsLeaf(Node* n) { return static_cast<Leaf*>(n); }
  static const Leaf* AsLeaf(const Node* n) { return static_cast<const Leaf*>(n); }
  static Index* AsIndex(Node* n) { return static_cast<Index*>(n); }
  static const Index* AsIndex(const Node* n) { return static_cast<const Index*>(n); }
  static int NumChildren(const Index* x) { return x->fChild[2] != nullptr ? 3 : 2; }

  // Routing: below key1 to child 0; at or above key2 (when present) to
  // child 2; otherwise child 1.
  static int Route(const Index* x, const K& key) {
    if (key < x->fKey1) return 0;
    if (x->fChild[2] != nullptr && !(key < x->fKey2)) return 2;
    return 1;
  }
  // Walks from an inner node n down to the leaf where key belongs,
  // recording each inner node and the child taken in path/pos; returns the
  // leaf and stores the number of recorded steps in *depth.
  static Leaf* Descend(Node* n, const K& key, Index** path, int* pos, int* depth) {
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
  static void Destroy(Node* n);
  template <class F>
  static void VisitNode(const Node* n, F& visit);
  static void SetKey2(Index* x, K&& k) { std::construct_at(&x->fKey2, std::move(k)); }
  static void ClearChild2(Index* x) {
    x->fChild[2] = nullptr;
    std::destroy_at(&x->fKey2);
  }
  // Deletes an emptied inner node without its (moved) children.
  static void DropIndex(Index* x) {
    x->fChild[0] = x->fChild[1] = nullptr;
    delete x;
  }

  const Leaf* FindLeaf(const K& key) const;
  const Leaf* LeafAt(long n) const;
  void Repair(Index* x, int p);
  bool CheckNode(const Node* n, int depth, int& leafDepth, const K** lo, const K** hi, bool exact,
                 std::string& why) const;

  Node* fRoot = nullptr;  // null for an empty map, a leaf for one pair
};

// In-order iteration over a T23Tree. It keeps a stack of nodes still to
// visit and borrows the map, which must outlive it and not change while it
// runs. Not synchronized: one thread at a time.
template <class K, class V>
class T23Iter {
 public:
  explicit T23Iter(const T23Tree<K, V>& tree) : fTree(tree) { Reset(); }

  // Starts again at the smallest key.
  void Reset() {
    while (fStack.Pop() != nullptr) {
    }
    if (fTree.fRoot != nullptr) fStack.Push(const_cast<T23Node<K, V>*>(fTree.fRoot));
  }
  // Copies the next pair in ascending key order; false at the end.
  bool Next(K& key, V& value) {
    const T23Leaf<K, V>* leaf = NextLeaf();
    if (leaf == nullptr) return false;
    key = leaf->fKey;
    value = leaf->fValue;
    return true;
  }
  // The next pair without copies; the pointers stay valid until the map
  // changes. False (pointers untouched) at the end.
  bool Next(const K*& key, const V*& value) {
    const T23Leaf<K, V>* leaf = NextLeaf();
    if (leaf == nullptr) return false;
    key = &leaf->fKey;
    value = &leaf->fValue;
    return true;
  }

 private:
  const T23Leaf<K, V>* NextLeaf() {
    for (;;) {
      auto* n = static_cast<T23Node<K, V>*>(fStack.Pop());
      if (n == nullptr) return nullptr;  // nothing null is ever pushed
      if (n->fIsLeaf) return static_cast<const T23Leaf<K, V>*>(n);
      auto* x = static_cast<T23Index<K, V>*>(n);
      for (int i = 2; i >= 0; --i) {
        if (x->fChild[i] != nullptr) fStack.Push(x->fChild[i]);
      }
    }
  }

  const T23Tree<K, V>& fTree;
  KStack fStack;  // node pointers; the top is visited next
};

// ===== Implementation =====

template <class K, class V>
void T23Tree<K, V>::Destroy(Node* n) {
  if (n == nullptr) return;
  if (n->fIsLeaf) {
    delete AsLeaf(n);
    return;
  }
  Index* x = AsIndex(n);
  for (Node* c : x->fChild) Destroy(c);
  delete x;
}

template <class K, class V>
template <class F>
void T23Tree<K, V>::VisitNode(const Node* n, F& visit) {
  if (n->Count() > kVisitBatch) {
    const Index* x = AsIndex(n);
    for (const Node* c : x->fChild) {
      if (c != nullptr) __builtin_prefetch(c);
    }
    for (const Node* c : x->fChild) {
      if (c != nullptr) VisitNode(c, visit);
    }
    return;
  }
  // Every leaf lies at one depth, and no level holds more nodes than the
  // subtree has pairs.
  const Node* level[kVisitBatch];
  const Node* next[kVisitBatch];
  level[0] = n;
  int count = 1;
  while (!level[0]->fIsLeaf) {
    int m = 0;
    for (int i = 0; i < count; ++i) {
      for (const Node* c : AsIndex(level[i])->fChild) {
        if (c == nullptr) continue;
        __builtin_prefetch(c);
        next[m++] = c;
      }
    }
    std::copy(next, next + m, level);
    count = m;
  }
  const K* keys[kVisitBatch];
  const V* values[kVisitBatch];
  for (int i = 0; i < count; ++i) {
    keys[i] = &AsLeaf(level[i])->fKey;
    values[i] = &AsLeaf(level[i])->fValue;
  }
  visit(keys, values, count);
}

template <class K, class V>
const typename T23Tree<K, V>::Leaf* T23Tree<K, V>::FindLeaf(const K& key) const {
  const Node* n = fRoot;
  if (n == nullptr) return nullptr;
  while (!n->fIsLeaf) {
    const Index* x = AsIndex(n);
    n = x->fChild[Route(x, key)];
  }
  const Leaf* leaf = AsLeaf(n);
  return leaf->fKey == key ? leaf : nullptr;
}

template <class K, class V>
const typename T23Tree<K, V>::Leaf* T23Tree<K, V>::LeafAt(long n) const {
  if (fRoot == nullptr || n < 1 || n > fRoot->Count()) return nullptr;
  const Node* node = fRoot;
  while (!node->fIsLeaf) {
    const Index* x = AsIndex(node);
    const long c0 = x->fChild[0]->Count();
    if (n <= c0) {
      node = x->fChild[0];
      continue;
    }
    n -= c0;
    const long c1 = x->fChild[1]->Count();
    if (n <= c1 || x->fChild[2] == nullptr) {
      node = x->fChild[1];
    } else {
      n -= c1;
      node = x->fChild[2];
    }
  }
  return AsLeaf(node);
}

template <class K, class V>
void T23Tree<K, V>::Add(const K& key, const V& value) {
  if (fRoot == nullptr) {
    fRoot = new Leaf(key, value);
    return;
  }
  Index* path[kMaxDepth];
  int pos[kMaxDepth];
  int depth = 0;
  Leaf* leaf = Descend(fRoot, key, path, pos, &depth);
  if (leaf->fKey == key) {
    leaf->fValue = value;
    return;
  }

  // Everything that can fail is allocated before the tree changes: the new
  // leaf, the sibling's key and one inner node per full node on the path
  // (plus a new root when every node is full), so an allocation failure
  // leaves the map as it was.
  int splits = 0;
  while (splits < depth && path[depth - 1 - splits]->fChild[2] != nullptr) ++splits;
  const int newNodes = splits + (splits == depth ? 1 : 0);
  void* spare[kMaxDepth + 1];
  int made = 0;
  std::unique_ptr<Leaf> fresh;
  std::optional<K> upKey;
  try {
    fresh.reset(new Leaf(key, value));
    // The sibling handed up is the leaf with the larger key; when the new
    // key is the smaller one, the new leaf takes the old leaf's place.
    upKey.emplace(leaf->fKey < key ? key : leaf->fKey);
    for (; made < newNodes; ++made) spare[made] = ::operator new(sizeof(Index));
  } catch (...) {
    while (made > 0) ::operator delete(spare[--made]);
    throw;
  }
  Node* up;
  if (leaf->fKey < key) {
    up = fresh.release();
  } else {
    up = leaf;
    Node*& slot = depth == 0 ? fRoot : path[depth - 1]->fChild[pos[depth - 1]];
    slot = fresh.release();
  }

  int used = 0;
  for (int i = depth - 1; i >= 0; --i) {
    Index* x = path[i];
    if (up == nullptr) {
      ++x->fCount;
      continue;
    }
    const int p = pos[i];
    if (x->fChild[2] == nullptr) {
      if (p == 0) {
        x->fChild[2] = x->fChild[1];
        SetKey2(x, std::move(x->fKey1));
        x->fChild[1] = up;
        x->fKey1 = std::move(*upKey);
      } else {
        x->fChild[2] = up;
        SetKey2(x, std::move(*upKey));
      }
      ++x->fCount;
      up = nullptr;
      continue;
    }
    // A full node splits into itself (two children) and a new right node.
    Index* right;
    if (p == 2) {
      right = new (spare[used++]) Index(std::move(*upKey), x->fChild[2], up, 0);
      upKey = std::move(x->fKey2);
    } else if (p == 1) {
      right = new (spare[used++]) Index(std::move(x->fKey2), up, x->fChild[2], 0);
    } else {
      right = new (spare[used++]) Index(std::move(x->fKey2), x->fChild[1], x->fChild[2], 0);
      K oldKey1 = std::move(x->fKey1);
      x->fChild[1] = up;
      x->fKey1 = std::move(*upKey);
      upKey = std::move(oldKey1);
    }
    ClearChild2(x);
    x->fCount = x->fChild[0]->Count() + x->fChild[1]->Count();
    right->fCount = right->fChild[0]->Count() + right->fChild[1]->Count();
    up = right;
  }
  if (up != nullptr) {
    Node* old = fRoot;
    fRoot = new (spare[used++]) Index(std::move(*upKey), old, up, old->Count() + up->Count());
  }
}

template <class K, class V>
bool T23Tree<K, V>::Delete(const K& key) {
  if (fRoot == nullptr) return false;
  if (fRoot->fIsLeaf) {
    if (!(AsLeaf(fRoot)->fKey == key)) return false;
    delete AsLeaf(fRoot);
    fRoot = nullptr;
    return true;
  }
  Index* path[kMaxDepth];
  int pos[kMaxDepth];
  int depth = 0;
  Node* n = Descend(fRoot, key, path, pos, &depth);
  if (!(AsLeaf(n)->fKey == key)) return false;

  // The bottom node closes the gap; with one child left it underflows.
  Index* bottom = path[depth - 1];
  const int p = pos[depth - 1];
  delete AsLeaf(n);
  if (p < 2) {
    bottom->fChild[p] = bottom->fChild[p + 1];
    if (p == 0) bottom->fChild[1] = bottom->fChild[2];
    if (bottom->fChild[2] != nullptr) {
      bottom->fKey1 = std::move(bottom->fKey2);
      ClearChild2(bottom);
    } else {
      bottom->fChild[1] = nullptr;
    }
  } else {
    ClearChild2(bottom);
  }
  --bottom->fCount;
  bool underflow = bottom->fChild[1] == nullptr;
  for (int i = depth - 2; i >= 0; --i) {
    Index* x = path[i];
    --x->fCount;
    if (underflow) {
      Repair(x, pos[i]);
      underflow = x->fChild[1] == nullptr;
    }
  }
  if (underflow) {
    Index* old = AsIndex(fRoot);
    fRoot = old->fChild[0];
    DropIndex(old);
  }
  return true;
}

// Child p of x has a single child c left: merge it into a neighbour with two
// children, or borrow the nearest child of a neighbour with three. The right
// neighbour serves child 0, the left one children 1 and 2. A merge can leave
// x with one child (its caller repairs x); a borrow never does.
template <class K, class V>
void T23Tree<K, V>::Repair(Index* x, int p) {
  Index* u = AsIndex(x->fChild[p]);
  Node* c = u->fChild[0];
  if (p == 0) {
    Index* r = AsIndex(x->fChild[1]);
    if (r->fChild[2] == nullptr) {
      r->fChild[2] = r->fChild[1];
      SetKey2(r, std::move(r->fKey1));
      r->fChild[1] = r->fChild[0];
      r->fKey1 = std::move(x->fKey1);
      r->fChild[0] = c;
      r->fCount += c->Count();
      x->fChild[0] = r;
      x->fChild[1] = x->fChild[2];
      if (x->fChild[2] != nullptr) {
        x->fKey1 = std::move(x->fKey2);
        ClearChild2(x);
      }
      DropIndex(u);
    } else {
      Node* moved = r->fChild[0];
      u->fChild[1] = moved;
      u->fKey1 = std::move(x->fKey1);
      x->fKey1 = std::move(r->fKey1);
      r->fChild[0] = r->fChild[1];
      r->fKey1 = std::move(r->fKey2);
      r->fChild[1] = r->fChild[2];
      ClearChild2(r);
      u->fCount = c->Count() + moved->Count();
      r->fCount -= moved->Count();
    }
  } else {
    // p == 1 borrows from or merges into child 0 against fKey1; p == 2 into
    // child 1 against fKey2.
    Index* l = AsIndex(x->fChild[p - 1]);
    K& sep = p == 1 ? x->fKey1 : x->fKey2;
    if (l->fChild[2] == nullptr) {
      l->fChild[2] = c;
      SetKey2(l, std::move(sep));
      l->fCount += c->Count();
      if (p == 1) {
        x->fChild[1] = x->fChild[2];
        if (x->fChild[2] != nullptr) {
          x->fKey1 = std::move(x->fKey2);
          ClearChild2(x);
        }
      } else {
        ClearChild2(x);
      }
      DropIndex(u);
    } else {
      Node* moved = l->fChild[2];
      u->fChild[1] = c;
      u->fKey1 = std::move(sep);
      u->fChild[0] = moved;
      sep = std::move(l->fKey2);
      ClearChild2(l);
      u->fCount = c->Count() + moved->Count();
      l->fCount -= moved->Count();
    }
  }
}

template <class K, class V>
void T23Tree<K, V>::Merge(const T23Tree& other) {
  if (&other == this || other.fRoot == nullptr) return;
  const Node* stack[3 * kMaxDepth];
  int top = 0;
  stack[top++] = other.fRoot;
  while (top > 0) {
    const Node* n = stack[--top];
    if (n->fIsLeaf) {
      Add(AsLeaf(n)->fKey, AsLeaf(n)->fValue);
      continue;
    }
    const Index* x = AsIndex(n);
    for (int i = 2; i >= 0; --i) {
      if (x->fChild[i] != nullptr) stack[top++] = x->fChild[i];
    }
  }
}

template <class K, class V>
bool T23Tree<K, V>::CheckStructure(bool exactRouting, std::string* why) const {
  std::string reason;
  bool ok = true;
  if (fRoot != nullptr) {
    int leafDepth = -1;
    const K* lo = nullptr;
    const K* hi = nullptr;
    ok = CheckNode(fRoot, 0, leafDepth, &lo, &hi, exactRouting, reason);
  }
  if (!ok && why != nullptr) *why = reason;
  return ok;
}

// Checks the subtree at n and reports its smallest and largest key.
template <class K, class V>
bool T23Tree<K, V>::CheckNode(const Node* n, int depth, int& leafDepth, const K** lo, const K** hi,
                              bool exact, std::string& why) const {
  if (n->fIsLeaf) {
    if (leafDepth < 0) leafDepth = depth;
    if (depth != leafDepth) {
      why = "leaves at depths " + std::to_string(leafDepth) + " and " + std::to_string(depth);
      return false;
    }
    *lo = *hi = &AsLeaf(n)->fKey;
    return true;
  }
  const Index* x = AsIndex(n);
  if (x->fChild[0] == nullptr || x->fChild[1] == nullptr) {
    why = "inner node with fewer than two children at depth " + std::to_string(depth);
    return false;
  }
  const int kids = NumChildren(x);
  long sum = 0;
  const K* prevHi = nullptr;
  for (int i = 0; i < kids; ++i) {
    const K* clo = nullptr;
    const K* chi = nullptr;
    if (!CheckNode(x->fChild[i], depth + 1, leafDepth, &clo, &chi, exact, why)) return false;
    if (prevHi != nullptr && !(*prevHi < *clo)) {
      why = "keys not ascending across children at depth " + std::to_string(depth);
      return false;
    }
    if (i > 0) {
      const K& sep = i == 1 ? x->fKey1 : x->fKey2;
      if (!(*prevHi < sep) || *clo < sep) {
        why = "routing key " + std::to_string(i) + " does not separate at depth " +
              std::to_string(depth);
        return false;
      }
      if (exact && !(sep == *clo)) {
        why = "routing key " + std::to_string(i) + " is not the smallest key below";
        return false;
      }
    } else {
      *lo = clo;
    }
    prevHi = chi;
    sum += x->fChild[i]->Count();
  }
  *hi = prevHi;
  if (sum != x->fCount) {
    why = "count " + std::to_string(x->fCount) + " but " + std::to_string(sum) + " pairs below";
    return false;
  }
  return true;
}

#endif  // VXKERNEL_TEXT_T23TREE_H_
