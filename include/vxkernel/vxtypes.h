/// \file
/// Fixed-width types shared by the whole interface.
#ifndef VXKERNEL_VXTYPES_H_
#define VXKERNEL_VXTYPES_H_

/// The interface's 64-bit integer. It is `long long`, not `long`, so that
/// overloads taking `long` (a script Integer) and `int64` (a script Long) stay
/// distinct even where both are 64 bits wide.
typedef long long int64;

#endif  // VXKERNEL_VXTYPES_H_
