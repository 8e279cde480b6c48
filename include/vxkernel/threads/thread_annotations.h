/// \file
/// Clang thread-safety annotations: which lock guards which data, and which
/// functions take, release or need a lock. Clang checks them at compile time
/// with -Wthread-safety; on other compilers they expand to nothing.
///
/// A lock class is a VXK_CAPABILITY; a guard that holds one for a scope is a
/// VXK_SCOPED_CAPABILITY. Data says VXK_GUARDED_BY(lock) (or
/// VXK_PT_GUARDED_BY for what a pointer points to); a function that must be
/// called with a lock held says VXK_REQUIRES(lock), one that must be called
/// without it VXK_EXCLUDES(lock). docs/porting/threads.md shows the usage.
#ifndef VXKERNEL_THREADS_THREAD_ANNOTATIONS_H_
#define VXKERNEL_THREADS_THREAD_ANNOTATIONS_H_

/// Expands to the attribute x under Clang and to nothing elsewhere; the
/// macros below are written with it.
#if defined(__clang__)
#define VXK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VXK_THREAD_ANNOTATION(x)
#endif

/// \name Annotations
/// Each is Clang's attribute of the same meaning. An argument names a lock: a
/// member, a global, or a parameter of the function annotated; a function's
/// annotation without arguments means the object itself (on a lock class's
/// own Lock and Unlock).
///@{

/// Class: a lock; x names its kind in messages ("mutex").
#define VXK_CAPABILITY(x) VXK_THREAD_ANNOTATION(capability(x))
/// Class: a guard holding a lock from construction to destruction.
#define VXK_SCOPED_CAPABILITY VXK_THREAD_ANNOTATION(scoped_lockable)
/// Data: read or written only with x held.
#define VXK_GUARDED_BY(x) VXK_THREAD_ANNOTATION(guarded_by(x))
/// Pointer: what it points to is used only with x held.
#define VXK_PT_GUARDED_BY(x) VXK_THREAD_ANNOTATION(pt_guarded_by(x))
/// Lock: taken only after the locks named.
#define VXK_ACQUIRED_AFTER(...) VXK_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
/// Lock: taken only before the locks named.
#define VXK_ACQUIRED_BEFORE(...) VXK_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
/// Function: called with the locks held exclusively.
#define VXK_REQUIRES(...) VXK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
/// Function: called with the locks held at least shared.
#define VXK_REQUIRES_SHARED(...) VXK_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
/// Function: returns with the locks held exclusively.
#define VXK_ACQUIRE(...) VXK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
/// Function: returns with the locks held shared.
#define VXK_ACQUIRE_SHARED(...) VXK_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
/// Function: releases exclusive holds of the locks.
#define VXK_RELEASE(...) VXK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
/// Function: releases shared holds of the locks.
#define VXK_RELEASE_SHARED(...) VXK_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
/// Function: releases a hold of either kind.
#define VXK_RELEASE_GENERIC(...) VXK_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
/// Function: holds the locks named after the first argument exclusively when
/// it returns that first argument (its success value, true say).
#define VXK_TRY_ACQUIRE(...) VXK_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
/// Function: as VXK_TRY_ACQUIRE, with the locks held shared.
#define VXK_TRY_ACQUIRE_SHARED(...) VXK_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
/// Function: called without the locks (it takes them itself).
#define VXK_EXCLUDES(...) VXK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
/// Function: checks at run time that x is held; afterwards the analysis assumes it.
#define VXK_ASSERT_CAPABILITY(x) VXK_THREAD_ANNOTATION(assert_capability(x))
/// Function: returns a reference to the lock x.
#define VXK_RETURN_CAPABILITY(x) VXK_THREAD_ANNOTATION(lock_returned(x))
/// Function: not checked (for code the analysis cannot follow).
#define VXK_NO_THREAD_SAFETY_ANALYSIS VXK_THREAD_ANNOTATION(no_thread_safety_analysis)

///@}

#endif  // VXKERNEL_THREADS_THREAD_ANNOTATIONS_H_
