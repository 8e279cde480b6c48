/** \file
 * The entry points of the document-conversion client library (bin/dcsclient
 * under the server's home directory), as KDor calls them. The library is
 * not part of libvxkernel; this header fixes the calls both sides agree on.
 *
 * Each typedef is the type of the library's exported function of the same
 * name without Fn (ZorvClientInit for ZorvClientInitFn). KDor looks up all
 * eight and uses the library only when every one is found; it makes one
 * handle (Init, then InitParams), converts and detects through it, and
 * releases it with Free when the KDor is destroyed.
 *
 * Every call returning long gives 0 for success. A handle is used by one
 * thread at a time. A C compiler accepts this header. */
#ifndef VXKERNEL_DOCCONV_DCSCLIENT_H_
#define VXKERNEL_DOCCONV_DCSCLIENT_H_

#ifdef __cplusplus
extern "C" {
#endif

/** A new handle for the given section of the configuration file, or null. */
typedef void* (*ZorvClientInitFn)(const char* configPath, const char* section);
/** Reads the handle's parameters from its configuration section. */
typedef long (*ZorvClientInitParamsFn)(void* handle);
/** Writes the MIME type name of the file into buf (size bytes, terminated). */
typedef long (*ZorvClientMimeDetectFn)(void* handle, const char* file, char* buf,
                                       unsigned long size);
/** Converts the file; arg1 and arg2 mean what the library says. The result
 * files are kept in the handle until the next conversion. */
typedef long (*ZorvClientConvertFn)(void* handle, const char* file, const char* arg1,
                                    const char* arg2);
/** The number of result files of the last conversion. */
typedef long (*ZorvClientGetNumResultsFn)(void* handle);
/** The path of result file index (from 0), or null; valid until the next
 * conversion or ZorvClientFree. */
typedef const char* (*ZorvClientGetFilenameFn)(void* handle, long index);
/** Releases the handle. */
typedef long (*ZorvClientFreeFn)(void* handle);
/** Sets one named parameter of the handle. */
typedef long (*ZorvClientSetParamFn)(void* handle, const char* name, const char* value);

#ifdef __cplusplus
}
#endif

#endif /* VXKERNEL_DOCCONV_DCSCLIENT_H_ */
