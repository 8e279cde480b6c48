/// \file
/// env_: environment variables, settings that may come from a profile file,
/// and expansion of variable references inside strings.
///
/// Thread rule: the env_ functions serialise among themselves on one
/// process-wide lock, so a lookup never reads a variable half-way through an
/// env_putenv on another thread. Code that calls setenv/putenv directly
/// while other threads use env_ is not covered (the C library's own rule).
#ifndef VXKERNEL_FILES_ENV_H_
#define VXKERNEL_FILES_ENV_H_

#include <stddef.h>

#include "vxkernel/export.h"

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

/// A copy of the variable's value made with malloc (release it with free()),
/// or null when the variable is not set or name is null.
VXKERNEL_EXPORT char* env_getenv(const char* name);

/// Sets the variable from "NAME=value" (an empty value sets it to ""). False
/// for a null or empty text, a text without "=" or with an empty name, or
/// when the system refuses.
VXKERNEL_EXPORT bool env_putenv(const char* assignment);

/// The setting name, looked up in the profile files named by the resource
/// strings 1 and 2, then in the environment (a variable set to "" counts as
/// found), then dflt (null: ""). At most size - 1 bytes are stored, always
/// terminated (nothing is stored when size is 0). Returns buffer.
VXKERNEL_EXPORT char* env_getenv_default(const char* name, const char* dflt, char* buffer,
                                         size_t size);

/// Copies source into buffer with every variable reference replaced by the
/// variable's value: $(NAME), $NAME (letters and "_"), "$$" for "$". The
/// result is cut to size - 1 bytes, never inside a double-byte character,
/// and always terminated (nothing is stored when size is 0). Returns buffer.
VXKERNEL_EXPORT char* env_xlate(const char* source, char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif  // VXKERNEL_FILES_ENV_H_
