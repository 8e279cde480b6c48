/// \file
/// The mem_ function module: memory blocks and handles.
///
/// Three kinds of allocation share one calling style:
///  - pointer blocks (`p`) and fixed blocks (`_fixed`): the caller's bytes,
///    preceded by a hidden 32-bit word holding the requested size; the caller
///    gets the address just after that word and releases it through the
///    module;
///  - handles (`h`, and the unsuffixed mem_new family): a two-word record
///    {data address, size}; the caller holds the record's address, so `*h` is
///    the data. The data is a separate allocation of exactly `size` bytes.
///
/// Memory never moves and is never purged: lock, unlock and the purge settings
/// exist for callers written against a relocating allocator and do nothing
/// beyond returning the data address. A data address stays valid until the
/// handle is resized, reallocated or disposed.
///
/// Failures are results: a failed allocation returns null (or false) after
/// calling the failure callback, if one is installed, with its context value
/// and the requested size. Nothing throws. Every function accepts null blocks
/// and handles (sizes 0, nothing done).
///
/// Thread rule: blocks and handles are not synchronized (callers lock one
/// handle they share); the module state is set once by mem_initialize.
#ifndef VXKERNEL_BASE_MEM_H_
#define VXKERNEL_BASE_MEM_H_

#include "vxkernel/export.h"

/// A handle: the address of the record {data address, size}. Dereferencing it
/// gives the data address.
typedef void** mem_handle;

/// Called when an allocation fails, with the context given at installation
/// and the number of bytes that were requested.
typedef void (*mem_fail_callback)(void* context, long size);

// ===== Module =====

/// Sets the module up; idempotent. Every allocating call initialises first.
VXKERNEL_EXPORT void mem_initialize();
/// Tears the module down (the callback is forgotten) and writes
/// "Memory in use/max used: <in use>/<peak>" to the debug stream. This layer
/// does not count, so both numbers are 0.
VXKERNEL_EXPORT void mem_done();
/// Installs the allocation-failure callback (null removes it). Ignored before
/// the module is initialised.
VXKERNEL_EXPORT void mem_fail_callback_set(mem_fail_callback callback, void* context);
/// Accepted for compatibility; reports nothing.
VXKERNEL_EXPORT void mem_get_statistics();

// ===== Pointer blocks =====

/// A block of `size` bytes (contents undefined), or null when size is negative,
/// above 0xFFFFFFFF or the allocation fails.
VXKERNEL_EXPORT void* mem_newp(long size);
/// A block of count * size bytes; null also when the product overflows.
VXKERNEL_EXPORT void* mem_newp_n(long count, long size);
/// The requested size stored with the block; 0 for null.
VXKERNEL_EXPORT long mem_getpsize(const void* p);
/// Not supported for pointer blocks: return false, the block is unchanged.
///@{
VXKERNEL_EXPORT bool mem_resizep(void* p, long size);
VXKERNEL_EXPORT bool mem_expandp(void* p, long delta);
///@}
/// A new block of `size` bytes holding the first min(old, new) bytes of p; p
/// is released. On failure returns null and p stays valid and unchanged. A null
/// p acts as mem_newp(size).
VXKERNEL_EXPORT void* mem_reallocatep(void* p, long size);
/// Releases the block; null is accepted.
VXKERNEL_EXPORT void mem_disposep(void* p);
/// A block holding a copy of the NUL-terminated text and its terminator; null
/// for null text or a failed allocation.
VXKERNEL_EXPORT char* mem_str_newp(const char* text);

// ===== Handles =====

/// A handle with a data block of `size` bytes (contents undefined); null when
/// size is negative or an allocation fails. A size of 0 still has a valid,
/// distinct data address. The `_n` forms take count * size bytes and also
/// return null when the product overflows. The caller releases the handle with
/// mem_disposeh (or mem_dispose, the same function).
///@{
VXKERNEL_EXPORT mem_handle mem_newh(long size);
VXKERNEL_EXPORT mem_handle mem_newh_n(long count, long size);
VXKERNEL_EXPORT mem_handle mem_new(long size);
VXKERNEL_EXPORT mem_handle mem_new_n(long count, long size);
///@}
/// Memory never moves: these do nothing (mem_lock returns the data address,
/// null for a null handle).
///@{
VXKERNEL_EXPORT void mem_lockh(mem_handle h);
VXKERNEL_EXPORT void mem_unlockh(mem_handle h);
VXKERNEL_EXPORT void* mem_lock(mem_handle h);
VXKERNEL_EXPORT void mem_unlock(mem_handle h);
///@}
/// Replaces the data by a block of `size` bytes holding the first
/// min(old, new) bytes (a larger block's tail is undefined) and updates the
/// size. On failure returns false and the handle keeps its old data and size;
/// a null handle returns false.
///@{
VXKERNEL_EXPORT bool mem_resizeh(mem_handle h, long size);
VXKERNEL_EXPORT bool mem_resize(mem_handle h, long size);
///@}
/// Resize to the current size + delta (delta may be negative); false, with
/// the handle unchanged, when the sum is negative or overflows.
///@{
VXKERNEL_EXPORT bool mem_expandh(mem_handle h, long delta);
VXKERNEL_EXPORT bool mem_expand(mem_handle h, long delta);
///@}
/// Replaces the data by a fresh block of `size` bytes without copying (the
/// contents are undefined). On failure returns false and the handle is
/// unchanged.
///@{
VXKERNEL_EXPORT bool mem_reallocateh(mem_handle h, long size);
VXKERNEL_EXPORT bool mem_reallocate(mem_handle h, long size);
///@}
/// The current size in bytes; 0 for null.
///@{
VXKERNEL_EXPORT long mem_gethsize(mem_handle h);
VXKERNEL_EXPORT long mem_getsize(mem_handle h);
///@}
/// Accepted; memory is never purged.
///@{
VXKERNEL_EXPORT void mem_sethpurge(mem_handle h);
VXKERNEL_EXPORT void mem_sethnopurge(mem_handle h);
VXKERNEL_EXPORT void mem_setpurge(mem_handle h);
VXKERNEL_EXPORT void mem_setnopurge(mem_handle h);
///@}
/// Releases the data and the record; null is accepted.
///@{
VXKERNEL_EXPORT void mem_disposeh(mem_handle h);
VXKERNEL_EXPORT void mem_dispose(mem_handle h);
///@}
/// A new handle holding a copy of h's data; null for null h or on failure.
VXKERNEL_EXPORT mem_handle mem_new_copy(mem_handle h);
/// Resizes dst to src's size and copies src's data into it. Returns false
/// (dst unchanged) when either is null or the resize fails.
VXKERNEL_EXPORT bool mem_copy(mem_handle dst, mem_handle src);
/// Grows h by n bytes and copies the n bytes at `bytes` to its end. Returns
/// false and changes nothing when h or bytes is null, n is negative or the
/// resize fails. `bytes` may point into h's own data.
VXKERNEL_EXPORT bool mem_append(mem_handle h, const void* bytes, long n);

// ===== Fixed blocks =====
// Same layout and behaviour as pointer blocks; lock returns the block itself.

/// As mem_newp and mem_newp_n: a block of `size` (or count * size) bytes, or
/// null when the size is negative, above 0xFFFFFFFF or overflows, or the
/// allocation fails. Release it with mem_dispose_fixed.
///@{
VXKERNEL_EXPORT void* mem_new_fixed(long size);
VXKERNEL_EXPORT void* mem_new_fixed_n(long count, long size);
///@}
/// Returns p itself; the block never moves.
VXKERNEL_EXPORT void* mem_lock_fixed(void* p);
/// Does nothing.
VXKERNEL_EXPORT void mem_unlock_fixed(void* p);
/// Releases the block; null is accepted.
VXKERNEL_EXPORT void mem_dispose_fixed(void* p);
/// The requested size stored with the block; 0 for null.
VXKERNEL_EXPORT long mem_getsize_fixed(const void* p);

#endif  // VXKERNEL_BASE_MEM_H_
