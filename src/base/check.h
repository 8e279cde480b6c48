// VXK_DCHECK: invariants and REQUIRES checked in Debug, sanitizer and fuzz
// builds and compiled out of release builds.
//
// A failed check writes "VXK_DCHECK failed: <file>:<line>: <condition>" to
// standard error and to the debug stream, then aborts: a broken invariant
// is a bug of the library or of its caller, and going on would hide it.
// The condition is not evaluated in release builds, so it must not have
// side effects.
#ifndef VXKERNEL_BASE_CHECK_H_
#define VXKERNEL_BASE_CHECK_H_

namespace vxk_internal {

[[noreturn]] void DcheckFailed(const char* file, int line, const char* condition) noexcept;

// Whether VXK_DCHECK is active in this build (tests of the checks ask).
#if defined(VXK_ENABLE_DCHECK)
constexpr bool kDcheckEnabled = true;
#else
constexpr bool kDcheckEnabled = false;
#endif

}  // namespace vxk_internal

#if defined(VXK_ENABLE_DCHECK)
#define VXK_DCHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::vxk_internal::DcheckFailed(__FILE__, __LINE__, #condition))
#else
// Still type-checked, never evaluated.
#define VXK_DCHECK(condition) static_cast<void>(sizeof(!(condition)))
#endif

#endif  // VXKERNEL_BASE_CHECK_H_
