// How deep the walkers of nested values go, and what they do past the cap.
//
// The readers accept 512 levels of nesting: in the text form every List,
// Assoc, Record, record table and tag form opens a level, in the binary
// form every List. The text writer and the comparisons stop at the same
// depth, so whatever is written reads back and no value a caller can build,
// however deep, overflows the stack:
// - a container past the cap is written "?" (Undefined), with one debug
//   line per outermost write;
// - Lists past the cap compare by identity.
// The writer also keeps the Assocs, Records and record tables it is inside
// on this thread, whichever formatter each level uses (their undefined
// values and column names are written with a fresh one), so a container
// reached again through any path is written as a back-reference.
//
// The state is per thread, in compiler thread-local storage: values are
// written and compared on any thread, including threads that never ran the
// thread ring and so have no KContext, and the state is private to the
// values folder. Guards live on the stack of the thread that made them.
#ifndef VXKERNEL_VALUES_NESTING_INTERNAL_H_
#define VXKERNEL_VALUES_NESTING_INTERNAL_H_

#include <iosfwd>

#include "vxkernel/values/KQSValue.h"

class KQSClassFormatter;

namespace vxk_internal {

// The deepest nesting the readers accept.
constexpr int kMaxNesting = 512;

// One level of a text write, for as long as it lives. container is the
// storage of an Assoc, Record or record table (null for a List, which has
// no back-reference form).
class WriteLevel {
 public:
  explicit WriteLevel(const void* container);
  WriteLevel(const WriteLevel&) = delete;
  WriteLevel& operator=(const WriteLevel&) = delete;
  ~WriteLevel();

  // Past the cap: the caller writes "?" instead of the container (the
  // level has written its debug line, if it was the first of this write).
  bool TooDeep() const { return fTooDeep; }
  // The 1-based position of the container among the containers being
  // written further out on this thread; 0 when it is not one of them. The
  // caller then writes a back-reference instead of the container.
  long Ancestor() const { return fAncestor; }

 private:
  bool fTooDeep = false;
  bool fPushed = false;
  long fAncestor = 0;
};

// The frame of one Assoc, Record or record table being written. On
// construction it writes "[" tag ":" position "]" when the container is
// already being written further out (found on f, or on this thread's list
// of containers), or "?" past the cap; Done() is then true and the caller
// writes nothing more. Otherwise it holds a level and keeps self (when
// defined: a value of the container, so that f can find it) pushed on f
// until it goes.
class ContainerWrite {
 public:
  ContainerWrite(std::ostream& out, const char* tag, const void* container, const KQSValue& self,
                 KQSClassFormatter* f);
  ContainerWrite(const ContainerWrite&) = delete;
  ContainerWrite& operator=(const ContainerWrite&) = delete;
  ~ContainerWrite();
  bool Done() const { return fDone; }

 private:
  WriteLevel fLevel;
  KQSClassFormatter* fPushed = nullptr;
  bool fDone = false;
};

// One level of a comparison of nested Lists; Deep() past the cap.
class CompareLevel {
 public:
  CompareLevel();
  CompareLevel(const CompareLevel&) = delete;
  CompareLevel& operator=(const CompareLevel&) = delete;
  ~CompareLevel();
  bool Deep() const { return fDeep; }

 private:
  bool fDeep;
};

}  // namespace vxk_internal

#endif  // VXKERNEL_VALUES_NESTING_INTERNAL_H_
