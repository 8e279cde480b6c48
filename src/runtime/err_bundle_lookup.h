// The error catalogue's one seam towards properties bundles.
//
// The bundles sit above the runtime, so the bundles layer installs the real
// lookup when the library is loaded; until then (and in a build without
// bundles) every catalogue answers "no bundle". Tests install a lookup of
// their own to see which bundle and key the catalogue asks for.
#ifndef VXKERNEL_RUNTIME_ERR_BUNDLE_LOOKUP_H_
#define VXKERNEL_RUNTIME_ERR_BUNDLE_LOOKUP_H_

#include <cstddef>
#include <string_view>

namespace vxk_internal {

enum class ErrBundleResult { kNoBundle, kNoKey, kFound };

// Looks key up in the bundle named bundle (the catalogue number in decimal)
// for the calling thread's current locale, in directory dir. When found,
// copies the message into text (size bytes: at most size - 1 and a
// terminator) and its length into *length.
typedef ErrBundleResult (*ErrBundleLookup)(std::string_view bundle, std::string_view dir,
                                           std::string_view key, char* text, size_t size,
                                           size_t* length);

// Installs lookup (null restores the built-in one) and returns the previous.
// Safe at any time, also during static construction.
ErrBundleLookup ErrSetBundleLookup(ErrBundleLookup lookup);

}  // namespace vxk_internal

#endif  // VXKERNEL_RUNTIME_ERR_BUNDLE_LOOKUP_H_
