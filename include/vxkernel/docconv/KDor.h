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

/// Asks the client library, loaded on first use from <home>/bin/dcsclient.so
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

  const std::vector<KFile>& GetOutputFiles() const { return fOutputFiles; }
  const KString& GetFiltersPath() const { return fFiltersPath; }
  const KString& GetDocTitle() const { return fDocTitle; }

  long SetFeaturesFromConfigFile(const char* path);
  long LoadDorClientLib();
  long SetDorClientEnv();
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
