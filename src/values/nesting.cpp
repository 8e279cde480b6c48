#include <ostream>
#include <vector>

#include "base/debug_line.h"
#include "values/nesting_internal.h"
#include "vxkernel/classes/KQSClassFormatter.h"

namespace vxk_internal {

namespace {

struct WriteState {
  int depth = 0;
  bool reported = false;  // this write's debug line is out
  // The Assocs, Records and tables being written, outermost first.
  std::vector<const void*> containers;
};

WriteState& CurrentWriteState() {
  thread_local WriteState state;
  return state;
}

thread_local int gCompareDepth = 0;

}  // namespace

WriteLevel::WriteLevel(const void* container) {
  WriteState& s = CurrentWriteState();
  if (container != nullptr) {
    for (size_t i = 0; i < s.containers.size(); ++i) {
      if (s.containers[i] == container) {
        fAncestor = static_cast<long>(i) + 1;
        return;
      }
    }
  }
  if (s.depth >= kMaxNesting) {
    fTooDeep = true;
    if (!s.reported) {
      s.reported = true;
      DebugLine("KQSValue::FormattedOutput", "values nested deeper than ", kMaxNesting,
                " levels are written as ?");
    }
    return;
  }
  if (container != nullptr) {
    s.containers.push_back(container);
    fPushed = true;
  }
  ++s.depth;
}

WriteLevel::~WriteLevel() {
  if (fTooDeep || fAncestor != 0) return;
  WriteState& s = CurrentWriteState();
  if (fPushed) s.containers.pop_back();
  if (--s.depth == 0) s.reported = false;
}

ContainerWrite::ContainerWrite(std::ostream& out, const char* tag, const void* container,
                               const KQSValue& self, KQSClassFormatter* f)
    : fLevel(container) {
  const bool tracked = f != nullptr && self.IsDefined();
  long at = tracked ? f->Lookup(self) : 0;
  if (at == 0) at = fLevel.Ancestor();
  if (at != 0) {
    out << '[' << tag << ':' << at << ']';
    fDone = true;
  } else if (fLevel.TooDeep()) {
    out << '?';
    fDone = true;
  } else if (tracked) {
    f->Push(self);
    fPushed = f;
  }
}

ContainerWrite::~ContainerWrite() {
  if (fPushed != nullptr) fPushed->Pop();
}

CompareLevel::CompareLevel() : fDeep(gCompareDepth >= kMaxNesting) {
  if (!fDeep) ++gCompareDepth;
}

CompareLevel::~CompareLevel() {
  if (!fDeep) --gCompareDepth;
}

}  // namespace vxk_internal
