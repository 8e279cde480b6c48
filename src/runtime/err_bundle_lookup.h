// The error catalogue's one seam towards properties bundles.
//
// The bundles sit above the runtime, so the bundles layer installs the real
// lookup when the library is loaded; until then (and in a build without
// bundles) every catalogue answers "no bundle". Tests install a lookup of
// their own to see which bundle and key the catalogue asks for.
#ifndef VXKERNEL_RUNTIME_ERR_BUNDLE_LOOKUP_H_
#define VXKERNEL_RUNTIME_ERR_BUNDLE_LOOKUP_H_

#include <string>

namespace vxk_internal {

enum class ErrBundleResult { kNoBundle, kNoKey, kFound };

// Looks key up in the bundle named bundle (the catalogue number in decimal)
// for the calling thread's current locale, in directory dir. Stores the
// message into *text when found.
typedef ErrBundleResult (*ErrBundleLookup)(const char* bundle, const char* dir, const char* key,
                                           std::string* text);

// Installs lookup (null restores the built-in one) and returns the previous.
// Safe at any time, also during static construction.
ErrBundleLookup ErrSetBundleLookup(ErrBundleLookup lookup);

}  // namespace vxk_internal

#endif  // VXKERNEL_RUNTIME_ERR_BUNDLE_LOOKUP_H_
