// Private pieces shared by the bundle sources.
#ifndef VXKERNEL_BUNDLES_BUNDLES_INTERNAL_H_
#define VXKERNEL_BUNDLES_BUNDLES_INTERNAL_H_

namespace vxk_internal {

// True from the construction of the bundle registry to its destruction at
// process exit: bundle pointers kept outside the registry are valid only
// while it holds.
bool BundleRegistryLive();

}  // namespace vxk_internal

#endif  // VXKERNEL_BUNDLES_BUNDLES_INTERNAL_H_
