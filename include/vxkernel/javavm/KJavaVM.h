/// \file
/// KJavaVM: the one Java virtual machine the process may host.
#ifndef VXKERNEL_JAVAVM_KJAVAVM_H_
#define VXKERNEL_JAVAVM_KJAVAVM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vxkernel/export.h"
#include "vxkernel/files/KLoadLib.h"
#include "vxkernel/threads/KLock.h"
#include "vxkernel/vxtypes.h"

// The JNI types, declared as <jni.h> declares them for C++, so that this
// header needs no JDK on the include path and agrees with <jni.h> where
// both are included.
struct JNIEnv_;
struct JavaVM_;
struct JavaVMAttachArgs;
class _jstring;
typedef JNIEnv_ JNIEnv;    ///< a thread's JNI interface, as <jni.h> names it
typedef JavaVM_ JavaVM;    ///< the VM's invocation interface, as <jni.h> names it
typedef _jstring* jstring; ///< a reference to a Java string, as <jni.h> names it

/// Reads the VM's settings from an initialisation file, loads the VM library
/// at run time, creates the VM and attaches threads to it; asks the VM for
/// memory figures and its threads, and turns pending Java exceptions into
/// text. Messages go to the debug stream, each behind a time prefix.
///
/// The first KJavaVM constructed becomes gTheJavaVM until it is destroyed.
/// The VM is never destroyed: it lives until the process ends. The object
/// owns its option list and its library loader (the library stays loaded).
///
/// Thread rule: every operation that touches the VM holds fLock, so JNI
/// invocation calls, runtime queries and thread enumeration are serialised.
/// gTheJavaVM is guarded by gTheJavaVMLock. Per-thread state (the thread's
/// JNIEnv, last error, error stack) lives in KJavaVMGlobals and needs none.
class VXKERNEL_EXPORT KJavaVM {
 public:
  /// Stores the path, becomes gTheJavaVM if there is none and reads the
  /// configuration.
  explicit KJavaVM(const char* iniPath);
  /// Adopts a VM created elsewhere; reads no configuration.
  explicit KJavaVM(JavaVM* vm);
  KJavaVM(const KJavaVM&) = delete;
  KJavaVM& operator=(const KJavaVM&) = delete;
  /// Stops being gTheJavaVM; the VM is not destroyed.
  virtual ~KJavaVM();

  /// gTheJavaVM, read under its lock: the first KJavaVM constructed and
  /// still alive (not owned), or null.
  static KJavaVM* TheJavaVM();

  /// Loads the library (once) and creates the VM with the configured
  /// options. True also when a VM already exists; false with a message
  /// when the library, its entry point or the options are missing or the
  /// VM refuses to start.
  unsigned char StartJVM();

  /// The VM's own results; -1 without a VM. Failures log the code.
  /// Attaching records the thread's JNIEnv in its KJavaVMGlobals, detaching
  /// clears it.
  ///@{
  long AttachCurrentThread(JNIEnv** env, JavaVMAttachArgs* args);
  long DetachCurrentThread();
  long GetEnv(JNIEnv** env, long version);
  ///@}

  /// The calling thread's state (null, empty, null without its globals):
  /// its recorded JNIEnv, the text of its last exception (CheckException)
  /// and that exception's stack frames, which the thread's globals own.
  ///@{
  static JNIEnv* ThreadJNIEnv();
  static std::string ThreadJNILastError();
  static std::vector<std::string>* ThreadJNIErrorStack();
  ///@}

  /// The process-wide count of Java exceptions seen; the increment returns
  /// the new count.
  ///@{
  unsigned long NumExceptions();
  unsigned long IncrementNumExceptions();
  ///@}

  /// The VM's JNI version, and text "major.minor"; 0 when the calling
  /// thread has no JNIEnv recorded.
  unsigned long JNIVersion(std::string& text);
  /// Stores the configured VM library directory (ending with "/"; empty
  /// when none is configured) in path; always true.
  bool LibraryPath(std::string& path);
  /// Appends the options; true if there was at least one.
  bool JavaOptions(std::vector<std::string>* options);

  /// java.lang.Runtime's figures (memory in bytes); 0 when the calling
  /// thread is not attached through this object or any step fails.
  ///@{
  unsigned long AvailableProcessors();
  int64 FreeMemory();
  int64 MaxMemory();
  int64 TotalMemory();
  ///@}

  /// Appends the text of every live Java thread; true if any.
  bool EnumerateThreads(std::vector<std::string>* names);

  /// Takes, clears and counts a pending exception: its text followed by a
  /// blank and its first stack frame; the frames go onto the thread's error
  /// stack. Empty when nothing is pending.
  static std::string CheckException(JNIEnv* env);
  /// The text of a pending exception (cleared, not counted); empty if none.
  static std::string GetExceptionString(JNIEnv* env);
  /// The text of a Java string in the process encoding (real UTF-8 in UTF-8
  /// mode; a Java NUL is a NUL byte inside the result); empty for null.
  static std::string GetJavaString(JNIEnv* env, jstring s);

  /// The first KJavaVM constructed and still alive, or null; read it
  /// through TheJavaVM().
  static KJavaVM* gTheJavaVM VXK_GUARDED_BY(gTheJavaVMLock);
  /// Guards gTheJavaVM.
  static KLock gTheJavaVMLock;

 private:
  void GrokConfig();
  int64 RuntimeFigure(const char* method, bool isInt);

  /// Constant after construction.
  std::string fIniPath;
  KLoadLib fLoader;
  std::string fLibraryPath;
  std::vector<std::string> fOptions;
  JavaVM* fVM VXK_GUARDED_BY(fLock) = nullptr;
  JNIEnv* fEnv VXK_GUARDED_BY(fLock) = nullptr;  ///< the creating thread's, from StartJVM
  KLock fLock{KLock::kCriticalSection};
  uint32_t fNumExceptions VXK_GUARDED_BY(fLock) = 0;
};

#endif  // VXKERNEL_JAVAVM_KJAVAVM_H_
