/* The fileprefs_ function module: initialisation files of sections and
 * name=value lines.
 *
 * A handle holds the whole file as an ordered list of lines (sections,
 * values, comments, blank lines); every change rewrites the whole file, so
 * hand-edited files keep their shape: a line the change did not touch is
 * written back as it was read (a plain-text line as a comment, with '#').
 * A file is replaced through a temporary file renamed over it, so a writer
 * that is killed leaves the old file or the new one, never a torn one; a
 * file whose owner, group or mode the temporary cannot get, or that has
 * other hard links, is rewritten in place instead. A file that cannot be
 * opened for writing is left untouched (-1), and so is the handle. Section
 * and value names match without regard to ASCII letter case.
 *
 * Results: 0 success, -1 the file could not be read or written (or memory
 * ran out), -2 no such section, -3 no such value, -5 a required argument is
 * null (or a value could not be stored as one line), -6 the value was cut to
 * the caller's buffer. Failures (-1, -5) write one debug line; -2, -3 and -6
 * are answers. No C++ exception reaches the caller.
 *
 * Thread rule: no locks; a handle is used by one thread at a time. Paths use
 * '/'. A C compiler accepts this header. */
#ifndef VXKERNEL_FILES_FILEPREFS_H_
#define VXKERNEL_FILES_FILEPREFS_H_

#include "vxkernel/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Loads the file; null (and a debug line) when it cannot be read. */
VXKERNEL_EXPORT void* fileprefs_open(const char* path);
/* Creates the file empty, or empties it; -5 for null, -1 on failure. */
VXKERNEL_EXPORT long fileprefs_create(const char* path);
/* Frees the handle; 0, also for null. */
VXKERNEL_EXPORT long fileprefs_close(void* h);
/* Reads the file again; 0 (also for null) or -1, the handle then empty. */
VXKERNEL_EXPORT long fileprefs_refresh(void* h);
/* Sets the value, adding the section (after a blank line) or the value line
 * (after the section's last line that is not blank) where needed, and
 * rewrites the file. */
VXKERNEL_EXPORT long fileprefs_add_pref(void* h, const char* section, const char* name, const char* value);
/* Copies the value into buf, cut to size - 1 bytes and terminated (-6 when
 * cut). A null argument or a size of 0 gives -5. */
VXKERNEL_EXPORT long fileprefs_get_pref(void* h, const char* section, const char* name, char* buf,
                                        unsigned long size);
/* fileprefs_get_pref, then fileprefs_FixDirSep on success. */
VXKERNEL_EXPORT long fileprefs_get_path(void* h, const char* section, const char* name, char* buf,
                                        unsigned long size);
/* Removes the value line and rewrites the file. */
VXKERNEL_EXPORT long fileprefs_del_pref(void* h, const char* section, const char* name);
/* New null-terminated arrays of copies of the section names in file order,
 * or of the value names of the first section of that name (null when there
 * is none); free them with fileprefs_list_release. */
VXKERNEL_EXPORT char** fileprefs_list_sections(void* h);
VXKERNEL_EXPORT char** fileprefs_list_values(void* h, const char* section);
VXKERNEL_EXPORT void fileprefs_list_release(char** list);
/* Prints the file as it would be written to standard output. */
VXKERNEL_EXPORT void fileprefs_dump(void* h);
/* Turns every '\' of path into '/' in place; returns path. */
VXKERNEL_EXPORT char* fileprefs_FixDirSep(char* path);

#ifdef __cplusplus
}
#endif

#endif /* VXKERNEL_FILES_FILEPREFS_H_ */
