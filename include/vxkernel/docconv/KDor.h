/// \file
/// KDor: detection and conversion of documents through the conversion
/// service's client library.
#ifndef VXKERNEL_DOCCONV_KDOR_H_
#define VXKERNEL_DOCCONV_KDOR_H_

#include <cstdint>
#include <vector>

#include "vxkernel/docconv/dcsclient.h"
#include "vxkernel/export.h"
#include "vxkernel/files/KFile.h"
#include "vxkernel/files/KLoadLib.h"
#include "vxkernel/text/KString.h"

/// Asks the client library, loaded on first use from \<home\>/bin/dcsclient.so
/// (home: section "general" key "RZHome" of the configuration file), for a
/// document's MIME type or converts it and lists the files the conversion
/// made. Owns the library, the client handle and the output list; releases
/// the handle, optionally deletes the outputs and unloads the library when
/// destroyed. Failures write one debug line.
///
/// Thread rule: one thread at a time per object.
class VXKERNEL_EXPORT KDor {
 public:
  /// A null configFile stands for the process's configuration file
  /// (KConfigFile::TheConfigFile()). Reads the configuration; loads nothing.
  KDor(const char* inputFile, const char* configFile, unsigned char deleteOutputs);
  ~KDor();
  KDor(const KDor&) = delete;
  KDor& operator=(const KDor&) = delete;

  /// True when the conversion succeeded; a and b go to the library as given.
  unsigned char Convert(const char* a, const char* b);
  /// 0 with the type name in buffer, else the failure status.
  long GetMimeType(char* buffer, unsigned long size);

  /// The files made by the successful conversions so far, in the library's
  /// order; owned by this object (deleted at destruction when asked for).
  const std::vector<KFile>& GetOutputFiles() const { return fOutputFiles; }
  /// Key "dllpath" of section "DORView" of the configuration file; empty when
  /// the configuration could not be read.
  const KString& GetFiltersPath() const { return fFiltersPath; }
  /// Always empty: nothing sets the title yet.
  const KString& GetDocTitle() const { return fDocTitle; }

  /// Reads the home folder and the filters path from the configuration file
  /// at path. 0 on success; 1 (one debug line) when the file cannot be opened
  /// or a key is missing. The constructor calls it.
  long SetFeaturesFromConfigFile(const char* path);
  /// Loads the client library, looks up all its entry points and creates the
  /// client handle; does nothing once loaded. 0 on success; 1 (one debug
  /// line) when the configuration failed, the library is missing or lacks an
  /// entry point, or the handle cannot be made. Convert() and GetMimeType()
  /// call it on first use.
  long LoadDorClientLib();
  /// Creates the client handle for the configuration file's "DORView"
  /// section and lets it read its parameters; does nothing when the handle
  /// exists. 0 on success; 1 before the entry points are looked up, or (one
  /// debug line) when the library gives no handle.
  long SetDorClientEnv();
  /// Appends the last conversion's result files to GetOutputFiles(); a
  /// missing name becomes an empty path. Does nothing without a handle.
  void SetOutputFilesList();

 private:
  KString fInputFile;
  KString fConfigFile;
  KString fUnused;
  KString fHomePath;
  KString fDocTitle;
  KString fFiltersPath;
  KLoadLib fLib;
  void* fClient = nullptr;
  ZorvClientInitParamsFn fInitParams = nullptr;
  ZorvClientInitFn fInit = nullptr;
  ZorvClientMimeDetectFn fMimeDetect = nullptr;
  ZorvClientConvertFn fConvert = nullptr;
  ZorvClientFreeFn fFree = nullptr;
  ZorvClientSetParamFn fSetParam = nullptr;
  ZorvClientGetFilenameFn fGetFilename = nullptr;
  ZorvClientGetNumResultsFn fGetNumResults = nullptr;
  std::vector<KFile> fOutputFiles;
  unsigned char fLoaded = 0;
  unsigned char fDeleteOutputs = 0;
  int32_t fConfigStatus = 0;
};

#endif  // VXKERNEL_DOCCONV_KDOR_H_
