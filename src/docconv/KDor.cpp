#include "vxkernel/docconv/KDor.h"

#include "base/debug_line.h"
#include "vxkernel/files/KConfigFile.h"
#include "vxkernel/files/fileprefs.h"

using vxk_internal::DebugText;

namespace {

// The client library below the home directory, without its suffix.
constexpr const char kClientLib[] = "bin/dcsclient";
// The configuration section the client library reads.
constexpr const char kClientSection[] = "DORView";
// Path values are read into buffers of this size.
constexpr unsigned long kPathBuffer = 1025;

// Looks the entry point up unless already known; false (one debug line)
// when the library lacks it.
template <class Fn>
bool Map(KLoadLib& lib, Fn& slot, const char* name) {
  if (slot == nullptr) slot = reinterpret_cast<Fn>(lib.GetFunctionAddress(name));
  if (slot != nullptr) return true;
  DebugText("Error mapping ", name, "\n");
  return false;
}

}  // namespace

KDor::KDor(const char* inputFile, const char* configFile, unsigned char deleteOutputs)
    : fInputFile(inputFile), fDeleteOutputs(deleteOutputs) {
  if (configFile == nullptr) {
    const KConfigFile* process = KConfigFile::TheConfigFile();
    if (process != nullptr) fConfigFile = process->FilePath();
  } else {
    fConfigFile = configFile;
  }
  fConfigStatus = static_cast<int32_t>(SetFeaturesFromConfigFile(fConfigFile));
}

KDor::~KDor() {
  if (fClient != nullptr) fFree(fClient);
  if (fDeleteOutputs != 0) {
    for (const KFile& f : fOutputFiles) f.Delete();
  }
  fOutputFiles.clear();
  fLib.Close();
}

long KDor::SetFeaturesFromConfigFile(const char* path) {
  void* prefs = fileprefs_open(path);
  if (prefs == nullptr) {
    DebugText("Error, opening ini file.\n");
    return 1;
  }
  long result = 0;
  char buf[kPathBuffer];
  if (fileprefs_get_path(prefs, "general", "RZHome", buf, sizeof buf) != 0) {
    DebugText("Error, getting the rzhome path.\n");
    result = 1;
  } else {
    fHomePath = buf;
    if (fileprefs_get_path(prefs, kClientSection, "dllpath", buf, sizeof buf) != 0) {
      DebugText("Error, getting the filters path.\n");
      result = 1;
    } else {
      fFiltersPath = buf;
    }
  }
  fileprefs_close(prefs);
  return result;
}

long KDor::LoadDorClientLib() {
  if (fLoaded != 0) return 0;
  if (fConfigStatus != 0) return 1;
  if (!fLib.IsOpened()) {
    // A home written without its closing separator still names the folder.
    KString path = fHomePath;
    if (path.Length() > 0 && path[path.Length() - 1] != '/') path += '/';
    path += kClientLib;
    if (!fLib.OpenWithProperSuffix(path)) {
      DebugText("Error accessing ", static_cast<const char*>(path), "\n");
      return 1;
    }
  }
  bool mapped = Map(fLib, fInitParams, "ZorvClientInitParams") && Map(fLib, fInit, "ZorvClientInit") &&
                Map(fLib, fMimeDetect, "ZorvClientMimeDetect") && Map(fLib, fConvert, "ZorvClientConvert") &&
                Map(fLib, fFree, "ZorvClientFree") && Map(fLib, fSetParam, "ZorvClientSetParam") &&
                Map(fLib, fGetFilename, "ZorvClientGetFilename") &&
                Map(fLib, fGetNumResults, "ZorvClientGetNumResults");
  if (!mapped) return 1;
  long result = SetDorClientEnv();
  if (result == 0) fLoaded = 1;
  return result;
}

long KDor::SetDorClientEnv() {
  if (fClient != nullptr) return 0;
  fClient = fInit(fConfigFile, kClientSection);
  if (fClient == nullptr) {
    DebugText("Error setting ", kClientLib, " params.\n");
    return 1;
  }
  fInitParams(fClient);
  return 0;
}

unsigned char KDor::Convert(const char* a, const char* b) {
  if (fLoaded == 0 && LoadDorClientLib() != 0) return 0;
  long status = fConvert(fClient, fInputFile, a, b);
  if (status != 0) {
    DebugText("Error converting document: ", status, "\n");
    return 0;
  }
  SetOutputFilesList();
  return 1;
}

long KDor::GetMimeType(char* buffer, unsigned long size) {
  if (fLoaded == 0) {
    long result = LoadDorClientLib();
    if (result != 0) return result;
  }
  long status = fMimeDetect(fClient, fInputFile, buffer, size);
  if (status != 0) DebugText("Error detecting mime type: ", status, "\n");
  return status;
}

void KDor::SetOutputFilesList() {
  long n = fGetNumResults(fClient);
  for (long i = 0; i < n; ++i) {
    const char* name = fGetFilename(fClient, i);
    fOutputFiles.emplace_back(name != nullptr ? name : "");
  }
}
