// KProperties: loading, lookups and changes of the table.
#include "vxkernel/bundles/KProperties.h"

#include <istream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "bundles/properties_internal.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/values/KQSValue.h"
#include "vxkernel/values/KQSValueList.h"

namespace {

// Bounds a walk along defaults pointers that a caller turned into a loop.
constexpr int kMaxDefaultsDepth = 64;

}  // namespace

// The pointer, too, is read under the lock: an assignment to this object on
// another thread replaces and frees the table.
KPropertiesTable* KProperties::TableCopy() const {
  KLockGuard guard(fLock);
  return new KPropertiesTable(*fTable);
}

KProperties::KProperties(unsigned char readOnly, KProperties* defaults)
    : fReadOnly(readOnly), fDefaults(defaults), fTable(new KPropertiesTable), fLock(KLock::kCriticalSection) {}

KProperties::KProperties(const KProperties& other)
    : fReadOnly(other.fReadOnly),
      fDefaults(other.fDefaults),
      fTable(other.TableCopy()),
      fLock(KLock::kCriticalSection),
      fHeaderComment(other.fHeaderComment),
      fTimestampComment(other.fTimestampComment) {}

KProperties& KProperties::operator=(const KProperties& other) {
  if (this == &other) return *this;
  KPropertiesTable* copy = other.TableCopy();
  {
    KLockGuard guard(fLock);
    std::swap(fTable, copy);
  }
  delete copy;
  fReadOnly = other.fReadOnly;
  fDefaults = other.fDefaults;
  fHeaderComment = other.fHeaderComment;
  fTimestampComment = other.fTimestampComment;
  return *this;
}

KProperties::~KProperties() { delete fTable; }

long KProperties::Load(std::istream& in) {
  if (ReadOnly()) return kReadOnly;
  // The comments belong to the text last stored or loaded: any load clears
  // them, also one that fails and keeps the old table.
  fHeaderComment = KStringKey();
  fTimestampComment = KStringKey();
  auto* table = new KPropertiesTable;
  const long code = vxk_internal::ParseProperties(in, KIntl::Utf8(), table);
  if (code != kOk) {
    delete table;
    return code;
  }
  {
    KLockGuard guard(fLock);
    std::swap(fTable, table);
  }
  delete table;
  return kOk;
}

KString KProperties::GetProperty(const char* key) const {
  if (key == nullptr) return KString();
  const KProperties* p = this;
  for (int depth = 0; p != nullptr && depth < kMaxDefaultsDepth; ++depth, p = p->fDefaults) {
    KLockGuard guard(p->fLock);
    if (const KPropertiesTable::Pair* pair = p->fTable->Find(key)) {
      return KString(pair->second, pair->second.Length());
    }
  }
  return KString();
}

bool KProperties::ContainsKey(const char* key) const {
  if (key == nullptr) return false;
  const KProperties* p = this;
  for (int depth = 0; p != nullptr && depth < kMaxDefaultsDepth; ++depth, p = p->fDefaults) {
    KLockGuard guard(p->fLock);
    if (p->fTable->Find(key) != nullptr) return true;
  }
  return false;
}

KString KProperties::SetProperty(const char* key, const char* value) {
  if (ReadOnly() || key == nullptr || value == nullptr) return KString();
  KStringKey previous;
  {
    KLockGuard guard(fLock);
    fTable->Set(KStringKey(key), KStringKey(value), &previous);
  }
  return KString(previous, previous.Length());
}

KString KProperties::ClearProperty(const char* key) {
  if (ReadOnly() || key == nullptr) return KString();
  KStringKey removed;
  {
    KLockGuard guard(fLock);
    fTable->Remove(key, &removed);
  }
  return KString(removed, removed.Length());
}

long KProperties::Count() const {
  KLockGuard guard(fLock);
  return static_cast<long>(fTable->Count());
}

long KProperties::ListKeys(KQSValue& list, const char* group) {
  if (!list.IsList()) return 1;
  std::string prefix;
  if (group != nullptr && *group != '\0') prefix.append(group).push_back('.');
  KLockGuard guard(fLock);
  fTable->VisitInOrder([&](const KPropertiesTable::Pair& pair) {
    const std::string_view key(pair.first, pair.first.Length());
    if (key.substr(0, prefix.size()) == prefix) list.ListAppendValue(KQSValue(KString(key.data(), pair.first.Length())));
  });
  return 0;
}

long KProperties::ListGroupNames(KQSValue& list) {
  if (!list.IsList()) return 1;
  KLockGuard guard(fLock);
  std::unordered_set<std::string_view> seen;
  fTable->VisitInOrder([&](const KPropertiesTable::Pair& pair) {
    const std::string_view key(pair.first, pair.first.Length());
    const size_t dot = key.find('.');
    if (dot == std::string_view::npos || dot == 0) return;
    if (seen.insert(key.substr(0, dot)).second) {
      list.ListAppendValue(KQSValue(KString(key.data(), static_cast<unsigned>(dot))));
    }
  });
  return 0;
}
