// Documents read into the small-object heap's arena, against a model: random
// documents are read from their text or binary form, some of their pieces
// are kept past the document, some handed to another thread that frees them,
// the rest freed with the document. After each step every kept piece still
// reads as it was made, the class counters count exactly the kept storage,
// and the arena holds no more chunks than the kept pieces can pin; at the
// end every chunk has gone back. Run under TSan and ASan.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/small_heap_internal.h"
#include "support/started_process.h"
#include "values/value_test_util.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/threads/KCondition.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

using namespace valtest;

constexpr short kCounted[] = {kString, kReal, kList, kAssoc};

struct Piece {
  KQSValue value;
  std::string text;     // as made, before any reading
  long storage[4] = {};  // storage objects per class of kCounted
};

class Maker {
 public:
  // The binary form holds Integers, Strings and Lists only.
  Maker(std::mt19937& rng, bool binary) : fRng(rng), fKinds(binary ? "01" "3" : "012" "34") {}

  Piece Make() {
    Piece p;
    p.value = Value(p, 0);
    p.text = Str(p.value.FormattedString());
    return p;
  }

 private:
  std::string Word() {
    std::string s(1 + fRng() % 24, 'a');
    for (char& c : s) c = static_cast<char>('a' + fRng() % 26);
    return s;
  }

  KQSValue Value(Piece& p, int depth) {
    // Scalars come first in fKinds; below two levels only they are made.
    const size_t scalars = fKinds.find('3');
    switch (fKinds[fRng() % (depth < 2 ? fKinds.size() : scalars)]) {
      case '0':
        return KQSValue(static_cast<long>(fRng() % 100000));
      case '1':
        ++p.storage[0];
        return KQSValue(Word().c_str());
      case '2':
        ++p.storage[1];
        return KQSValue(static_cast<double>(fRng() % 1000) + 0.25);
      case '3': {
        ++p.storage[2];
        KQSValue list = KQSValue::List();
        for (unsigned n = 1 + fRng() % 5; n > 0; --n) list.ListAppendValue(Value(p, depth + 1));
        return list;
      }
      default: {
        ++p.storage[3];
        KQSValue assoc = NewAssoc();
        for (unsigned n = fRng() % 6; n > 0; --n) {
          KQSValue key(Word().c_str()), old;
          if (A(assoc).Get(key, old)) continue;  // an equal key: no new pair
          ++p.storage[0];
          A(assoc).Add(key, Value(p, depth + 1));
        }
        return assoc;
      }
    }
  }

  std::mt19937& fRng;
  std::string fKinds;
};

// Frees what it is handed, on its own thread, after checking its text.
class Freer {
 public:
  Freer() : fThread([this] { Run(); }) {
    KLockGuard lock(fLock);
    while (!fStarted) fChanged.Wait(fLock);
  }
  ~Freer() {
    {
      KLockGuard lock(fLock);
      fStop = true;
    }
    fChanged.Broadcast();
    fThread.join();
  }

  void Hand(std::vector<Piece>&& pieces) {
    {
      KLockGuard lock(fLock);
      for (Piece& p : pieces) fQueue.push_back(std::move(p));
    }
    pieces.clear();
    fChanged.Broadcast();
  }

  // Waits until everything handed over is freed; the pieces whose text had changed.
  long Drain() {
    KLockGuard lock(fLock);
    while (!fQueue.empty() || fBusy) fChanged.Wait(fLock);
    return fDamaged;
  }

 private:
  void Run() {
    KAt::ThreadStartup();
    {
      KLockGuard lock(fLock);
      fStarted = true;
      fChanged.Broadcast();
    }
    for (;;) {
      Piece p;
      {
        KLockGuard lock(fLock);
        while (!fStop && fQueue.empty()) fChanged.Wait(fLock);
        if (fQueue.empty()) break;
        p = std::move(fQueue.front());
        fQueue.pop_front();
        fBusy = true;
      }
      const bool intact = Str(p.value.FormattedString()) == p.text;
      p.value.Undefine();
      KLockGuard lock(fLock);
      fDamaged += intact ? 0 : 1;
      fBusy = false;
      fChanged.Broadcast();
    }
    KAt::ThreadShutdown();
  }

  KMutex fLock;
  KCondition fChanged;
  std::deque<Piece> fQueue VXK_GUARDED_BY(fLock);
  bool fStarted VXK_GUARDED_BY(fLock) = false;
  bool fBusy VXK_GUARDED_BY(fLock) = false;
  bool fStop VXK_GUARDED_BY(fLock) = false;
  long fDamaged VXK_GUARDED_BY(fLock) = 0;
  std::thread fThread;
};

KQSValue ReadBack(const KQSValue& doc, bool binary) {
  if (!binary) return Parse(Str(doc.FormattedString()));
  std::istringstream in(Binary(doc));
  return KQSValue::ReadBinary(in, nullptr);
}

TEST(ValueArena, KeptAndHandedPiecesOutliveTheirDocumentsAndEveryChunkGoesBack) {
  std::mt19937 rng(31);
  const long chunksBefore = vxk_internal::ArenaChunksHeld();
  std::vector<Counters> before;
  for (short t : kCounted) before.push_back(Counters::Of(t));
  std::vector<Piece> kept;
  {
    Freer freer;
    size_t handedBefore = 0;  // freed by the other thread, maybe not yet counted by this one
    for (int step = 0; step < 60; ++step) {
      const bool binary = step % 3 == 2;
      Maker maker(rng, binary);
      // Up to about three chunks of blocks per document.
      std::vector<Piece> made(rng() % 700);
      KQSValue doc = KQSValue::List();
      for (Piece& p : made) {
        p = maker.Make();
        doc.ListAppendValue(p.value);
      }
      const KQSValue read = ReadBack(doc, binary);
      doc.Undefine();
      ASSERT_EQ(read.ListEntries(), static_cast<long>(made.size())) << "step " << step;
      std::vector<Piece> handed;
      for (size_t i = 0; i < made.size(); ++i) {
        made[i].value = read.ListGetValue(static_cast<long>(i) + 1);
        const unsigned fate = rng() % 32;
        if (fate == 0) kept.push_back(std::move(made[i]));
        else if (fate == 1) handed.push_back(std::move(made[i]));
      }
      made.clear();
      // The rest goes with the document, while the other thread frees the
      // previous step's pieces.
      const_cast<KQSValue&>(read).Undefine();
      ASSERT_EQ(freer.Drain(), 0);
      for (size_t k = kept.size(); k-- > 0;) {
        ASSERT_EQ(Str(kept[k].value.FormattedString()), kept[k].text) << "step " << step;
        if (rng() % 8 == 0) {
          kept[k] = std::move(kept.back());
          kept.pop_back();
        }
      }
      for (size_t t = 0; t < std::size(kCounted); ++t) {
        // Each storage object left is held once: by its container or the piece.
        long storage = 0;
        for (const Piece& p : kept) storage += p.storage[t];
        for (const Piece& p : handed) storage += p.storage[t];
        const Counters now = Counters::Of(kCounted[t]) - before[t];
        EXPECT_EQ(now.obj, storage) << "type " << kCounted[t] << " step " << step;
        EXPECT_EQ(now.ref, storage) << "type " << kCounted[t] << " step " << step;
      }
      // A kept piece pins at most the two chunks its blocks may straddle;
      // the reading thread serves from one more. Blocks the other thread
      // freed count once this thread opens its next scope.
      const size_t pinning = kept.size() + handed.size() + handedBefore;
      EXPECT_LE(vxk_internal::ArenaChunksHeld() - chunksBefore, 2 * static_cast<long>(pinning) + 1);
      handedBefore = handed.size();
      freer.Hand(std::move(handed));
    }
    ASSERT_EQ(freer.Drain(), 0);
  }
  kept.clear();
  vxk_internal::ArenaLetGo();
  EXPECT_EQ(vxk_internal::ArenaChunksHeld(), chunksBefore);
  for (size_t t = 0; t < std::size(kCounted); ++t) {
    EXPECT_EQ((Counters::Of(kCounted[t]) - before[t]).obj, 0) << "type " << kCounted[t];
  }
}

}  // namespace
