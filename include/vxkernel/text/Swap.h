/// \file
/// Little-endian stream I/O of integers, strings and raw bytes.
///
/// Integers are 1, 2 or 4 bytes, least significant first, on every platform.
/// A string is a 16-bit length that counts the terminating NUL, then the
/// bytes and the NUL; a length above 32767 is written as 0xFFFF followed by a
/// 32-bit length. A null string is written as an empty one (01 00 00).
///
/// Each function exists for a stdio FILE* and for a C++ stream. Reads return
/// false (the output left as it was, one debug line) when the stream ends
/// early or fails; writes return false when the stream refuses the bytes.
/// Stateless; the streams belong to the caller, which serialises their use.
#ifndef VXKERNEL_TEXT_SWAP_H_
#define VXKERNEL_TEXT_SWAP_H_

#include <cstdint>
#include <cstdio>
#include <istream>
#include <ostream>

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

/// Reads a signed integer of 1, 2 or 4 bytes into *v (a null v skips the
/// value). False, *v unchanged, with one debug line, when f is null or the
/// stream ends early or fails.
///@{
VXKERNEL_EXPORT bool SwapReadI1(std::FILE* f, int8_t* v);
VXKERNEL_EXPORT bool SwapReadI2(std::FILE* f, int16_t* v);
VXKERNEL_EXPORT bool SwapReadI4(std::FILE* f, int32_t* v);
///@}
/// Writes v in 1, 2 or 4 bytes. False, with one debug line, when f is null
/// or refuses the bytes.
///@{
VXKERNEL_EXPORT bool SwapWriteI1(std::FILE* f, int8_t v);
VXKERNEL_EXPORT bool SwapWriteI2(std::FILE* f, int16_t v);
VXKERNEL_EXPORT bool SwapWriteI4(std::FILE* f, int32_t v);
///@}
/// The text up to the first NUL of the stored bytes; empty when the stream
/// ends early, the stored length is 0 or negative (one debug line).
VXKERNEL_EXPORT KString SwapReadStr(std::FILE* f);
/// Writes s in the string format (a null s as the empty string). False, with
/// one debug line, when the text with its NUL is longer than 0x7FFFFFFF bytes
/// or the stream refuses the bytes.
VXKERNEL_EXPORT bool SwapWriteStr(std::FILE* f, const char* s);
/// Reads exactly n raw bytes into buf. False, with one debug line, when n is
/// negative, buf is null with n > 0, or the stream ends early; buf may then
/// hold part of the bytes.
VXKERNEL_EXPORT bool SwapReadBytes(std::FILE* f, void* buf, long n);
/// Writes the n bytes at buf. False, with one debug line, when n is
/// negative, buf is null with n > 0, or the stream refuses the bytes.
VXKERNEL_EXPORT bool SwapWriteBytes(std::FILE* f, const void* buf, long n);

/// The C++ stream forms: each reads or writes the same bytes, with the same
/// results and debug lines, as its std::FILE* overload above.
///@{
VXKERNEL_EXPORT bool SwapReadI1(std::istream& in, int8_t* v);
VXKERNEL_EXPORT bool SwapReadI2(std::istream& in, int16_t* v);
VXKERNEL_EXPORT bool SwapReadI4(std::istream& in, int32_t* v);
VXKERNEL_EXPORT bool SwapWriteI1(std::ostream& out, int8_t v);
VXKERNEL_EXPORT bool SwapWriteI2(std::ostream& out, int16_t v);
VXKERNEL_EXPORT bool SwapWriteI4(std::ostream& out, int32_t v);
VXKERNEL_EXPORT KString SwapReadStr(std::istream& in);
VXKERNEL_EXPORT bool SwapWriteStr(std::ostream& out, const char* s);
VXKERNEL_EXPORT bool SwapReadBytes(std::istream& in, void* buf, long n);
VXKERNEL_EXPORT bool SwapWriteBytes(std::ostream& out, const void* buf, long n);
///@}

#endif  // VXKERNEL_TEXT_SWAP_H_
