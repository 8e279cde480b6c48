#include "vxkernel/javavm/KJavaVM.h"

#include <jni.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "base/debug_line.h"
#include "vxkernel/files/KFilePrefs.h"
#include "vxkernel/javavm/KJavaVMAppGlobals.h"
#include "vxkernel/javavm/KJavaVMGlobals.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/text/codepage.h"
#include "vxkernel/threads/KLockGuard.h"
#include "vxkernel/threads/KTimestamp.h"

KJavaVM* KJavaVM::gTheJavaVM = nullptr;
KLock KJavaVM::gTheJavaVMLock(KLock::kCriticalSection);

namespace {

// Writes "mm/dd/yyyy hh:mm:ss [counter] ", the parts (as a stream prints
// them) and a line end as one text.
template <class... Parts>
void Log(const Parts&... text) {
  KDateTime now;
  now.Now();
  char when[64] = {};
  now.strftime(when, sizeof when, "%m/%d/%Y %H:%M:%S");
  KTimestamp stamp;
  stamp.Stamp();
  char counter[16];
  std::snprintf(counter, sizeof counter, "%010lu", stamp.Microseconds());
  vxk_internal::DebugText(when, " [", counter, "] ", text..., "\n");
}

// Looks name up in the places a setting may be: section "JavaVM", then
// "General", then "javaserver" under the name and under "JavaVM" + name.
bool ReadSetting(KFilePrefs* prefs, const char* name, bool isPath, std::string* value) {
  const std::string prefixed = std::string("JavaVM") + name;
  const struct {
    const char* section;
    const char* key;
  } places[] = {{"JavaVM", name}, {"General", name}, {"javaserver", name}, {"javaserver", prefixed.c_str()}};
  char buf[1024];
  for (const auto& p : places) {
    long rc = isPath ? prefs->GetPath(p.section, p.key, buf, sizeof buf)
                     : prefs->GetPref(p.section, p.key, buf, sizeof buf);
    if (rc == 0) {
      *value = buf;
      return true;
    }
  }
  return false;
}

// Local references of one JNI call sequence, deleted together.
class LocalRefs {
 public:
  explicit LocalRefs(JNIEnv* env) : fEnv(env) {}
  LocalRefs(const LocalRefs&) = delete;
  LocalRefs& operator=(const LocalRefs&) = delete;
  ~LocalRefs() {
    for (jobject o : fRefs) fEnv->DeleteLocalRef(o);
  }
  template <class T>
  T Keep(T o) {
    if (o != nullptr) fRefs.push_back(o);
    return o;
  }

 private:
  JNIEnv* fEnv;
  std::vector<jobject> fRefs;
};

// A missing class or method leaves an exception pending; the figures and
// the thread list report it as 0 / false, so it is dropped.
bool Failed(JNIEnv* env, const void* p) {
  if (p != nullptr && !env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

// UTF-16 units as wide characters: a surrogate pair is one character, a
// lone surrogate (a Java string may hold one) is U+FFFD, as any other
// invalid input of the code-page conversions.
std::wstring WideFromUtf16(const jchar* units, size_t n) {
  std::wstring wide;
  wide.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const unsigned c = units[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    if (high && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      wide.push_back(static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u)));
    } else {
      wide.push_back(c >= 0xD800 && c <= 0xDFFF ? L'\xFFFD' : static_cast<wchar_t>(c));
    }
  }
  return wide;
}

std::string ObjectText(JNIEnv* env, jobject o) {
  LocalRefs refs(env);
  jclass c = refs.Keep(env->GetObjectClass(o));
  jmethodID m = c != nullptr ? env->GetMethodID(c, "toString", "()Ljava/lang/String;") : nullptr;
  if (Failed(env, m)) return std::string();
  jstring s = refs.Keep(static_cast<jstring>(env->CallObjectMethod(o, m)));
  if (Failed(env, s)) return std::string();
  return KJavaVM::GetJavaString(env, s);
}

}  // namespace

// ===== Construction and configuration =====

KJavaVM::KJavaVM(const char* iniPath) : fIniPath(iniPath != nullptr ? iniPath : "") {
  {
    KLockGuard g(gTheJavaVMLock);
    if (gTheJavaVM == nullptr) gTheJavaVM = this;
  }
  GrokConfig();
}

KJavaVM::KJavaVM(JavaVM* vm) : fVM(vm) {
  KLockGuard g(gTheJavaVMLock);
  if (gTheJavaVM == nullptr) gTheJavaVM = this;
}

KJavaVM::~KJavaVM() {
  KLockGuard g(gTheJavaVMLock);
  if (gTheJavaVM == this) gTheJavaVM = nullptr;
}

KJavaVM* KJavaVM::TheJavaVM() {
  KLockGuard g(gTheJavaVMLock);
  return gTheJavaVM;
}

void KJavaVM::GrokConfig() {
  KFilePrefs* prefs = KFilePrefs::GetKFilePrefs(fIniPath.c_str());
  if (prefs != nullptr) {
    if (ReadSetting(prefs, "LibraryPath", true, &fLibraryPath) && !fLibraryPath.empty() &&
        fLibraryPath.back() != '/') {
      fLibraryPath += '/';
    }
    for (long n = 1;; ++n) {
      char key[32];
      std::snprintf(key, sizeof key, "Option_%ld", n);
      std::string option;
      if (!ReadSetting(prefs, key, false, &option)) break;
      fOptions.push_back(option);
    }
  }
  fLibraryPath += "libjvm";
  fLibraryPath += KLoadLib::LibSuffix();
}

bool KJavaVM::LibraryPath(std::string& path) {
  path = fLibraryPath;
  return true;
}

bool KJavaVM::JavaOptions(std::vector<std::string>* options) {
  if (options == nullptr) return false;
  options->insert(options->end(), fOptions.begin(), fOptions.end());
  return !fOptions.empty();
}

// ===== Creating the VM and attaching threads =====

unsigned char KJavaVM::StartJVM() {
  KLockGuard g(fLock);
  if (fVM != nullptr) {
    Log("\tKJavaVM::StartJVM: Ignore start, Java VM already exists.");
    return true;
  }
  if (!fLoader.IsOpened()) {
    if (!fLoader.Open(fLibraryPath.c_str())) {
      Log("\tKJavaVM::StartJVM: Failed to load the Java library: " + fLibraryPath);
      return false;
    }
    Log("\tKJavaVM::StartJVM: Loaded the Java library: " + fLibraryPath);
  }
  typedef jint (*CreateFn)(JavaVM**, void**, void*);
  auto create = reinterpret_cast<CreateFn>(fLoader.GetFunctionAddress("JNI_CreateJavaVM"));
  if (create == nullptr) {
    Log(std::string("\tKJavaVM::StartJVM: Failed to get the JNI_CreateJavaVM function address: ") +
        static_cast<const char*>(fLoader.LastError()));
    return false;
  }
  std::vector<JavaVMOption> options(fOptions.size());
  for (size_t i = 0; i < fOptions.size(); ++i) {
    options[i].optionString = const_cast<char*>(fOptions[i].c_str());
    options[i].extraInfo = nullptr;
    Log("\tJavaVM Option: " + fOptions[i]);
  }
  if (options.empty()) {
    Log("\tKJavaVM::StartJVM: Expected at least one JavaVM Option (e.g. classpath). JVM was not created.");
    return false;
  }
  JavaVMInitArgs args;
  args.version = JNI_VERSION_1_2;
  args.nOptions = static_cast<jint>(options.size());
  args.options = options.data();
  args.ignoreUnrecognized = JNI_TRUE;
  if (create(&fVM, reinterpret_cast<void**>(&fEnv), &args) < 0) {
    Log("\tCannot create Java VM");
    fVM = nullptr;
    fEnv = nullptr;
    return false;
  }
  return true;
}

long KJavaVM::AttachCurrentThread(JNIEnv** env, JavaVMAttachArgs* args) {
  KLockGuard g(fLock);
  if (fVM == nullptr) return -1;
  long rc = fVM->AttachCurrentThread(reinterpret_cast<void**>(env), args);
  if (rc == JNI_OK) {
    KJavaVMGlobals* globals = KJavaVMAppGlobals::ThreadGlobals();
    if (globals != nullptr) globals->MyJNIEnv(*env);
  } else {
    Log("\tKJavaVM::AttachCurrentThread(): could not attach - " + std::to_string(rc));
  }
  return rc;
}

long KJavaVM::DetachCurrentThread() {
  KLockGuard g(fLock);
  if (fVM == nullptr) return -1;
  long rc = fVM->DetachCurrentThread();
  if (rc == JNI_OK) {
    KJavaVMGlobals* globals = KJavaVMAppGlobals::ThreadGlobals();
    if (globals != nullptr) globals->MyJNIEnv(nullptr);
  } else {
    Log("\tKJavaVM::DetachCurrentThread(): could not detach - " + std::to_string(rc));
  }
  return rc;
}

long KJavaVM::GetEnv(JNIEnv** env, long version) {
  KLockGuard g(fLock);
  if (fVM == nullptr) return -1;
  long rc = fVM->GetEnv(reinterpret_cast<void**>(env), static_cast<jint>(version));
  if (rc != JNI_OK) Log("\tKJavaVM::GetEnv(): could not get JNI env - " + std::to_string(rc));
  return rc;
}

// ===== Per-thread state and counts =====

JNIEnv* KJavaVM::ThreadJNIEnv() {
  KJavaVMGlobals* globals = KJavaVMAppGlobals::ThreadGlobals();
  return globals != nullptr ? globals->MyJNIEnv() : nullptr;
}

std::string KJavaVM::ThreadJNILastError() {
  KJavaVMGlobals* globals = KJavaVMAppGlobals::ThreadGlobals();
  return globals != nullptr ? globals->LastError() : "";
}

std::vector<std::string>* KJavaVM::ThreadJNIErrorStack() {
  KJavaVMGlobals* globals = KJavaVMAppGlobals::ThreadGlobals();
  return globals != nullptr ? globals->ErrorStack() : nullptr;
}

unsigned long KJavaVM::NumExceptions() {
  KLockGuard g(fLock);
  return fNumExceptions;
}

unsigned long KJavaVM::IncrementNumExceptions() {
  KLockGuard g(fLock);
  return ++fNumExceptions;
}

unsigned long KJavaVM::JNIVersion(std::string& text) {
  JNIEnv* env = ThreadJNIEnv();
  if (env == nullptr) return 0;
  KLockGuard g(fLock);
  unsigned long version = static_cast<unsigned long>(env->GetVersion());
  char buf[48];
  std::snprintf(buf, sizeof buf, "%ld.%ld", static_cast<long>(version >> 16), static_cast<long>(version & 0xFFFF));
  text = buf;
  return version;
}

// ===== Runtime figures and threads =====

int64 KJavaVM::RuntimeFigure(const char* method, bool isInt) {
  JNIEnv* env = ThreadJNIEnv();
  if (env == nullptr) return 0;
  KLockGuard g(fLock);
  LocalRefs refs(env);
  jclass c = refs.Keep(env->FindClass("java/lang/Runtime"));
  if (Failed(env, c)) return 0;
  jmethodID get = env->GetStaticMethodID(c, "getRuntime", "()Ljava/lang/Runtime;");
  if (Failed(env, get)) return 0;
  jobject runtime = refs.Keep(env->CallStaticObjectMethod(c, get));
  if (Failed(env, runtime)) return 0;
  jmethodID m = env->GetMethodID(c, method, isInt ? "()I" : "()J");
  if (Failed(env, m)) return 0;
  int64 value = isInt ? env->CallIntMethod(runtime, m) : env->CallLongMethod(runtime, m);
  return Failed(env, runtime) ? 0 : value;  // the call itself may have thrown
}

unsigned long KJavaVM::AvailableProcessors() {
  return static_cast<unsigned long>(RuntimeFigure("availableProcessors", true));
}
int64 KJavaVM::FreeMemory() { return RuntimeFigure("freeMemory", false); }
int64 KJavaVM::MaxMemory() { return RuntimeFigure("maxMemory", false); }
int64 KJavaVM::TotalMemory() { return RuntimeFigure("totalMemory", false); }

bool KJavaVM::EnumerateThreads(std::vector<std::string>* names) {
  JNIEnv* env = ThreadJNIEnv();
  if (env == nullptr || names == nullptr) return false;
  KLockGuard g(fLock);
  LocalRefs refs(env);
  jclass threadClass = refs.Keep(env->FindClass("java/lang/Thread"));
  jclass groupClass = refs.Keep(env->FindClass("java/lang/ThreadGroup"));
  jclass arrayClass = refs.Keep(env->FindClass("java/lang/reflect/Array"));
  if (Failed(env, threadClass) || Failed(env, groupClass) || Failed(env, arrayClass)) return false;
  jmethodID current = env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;");
  jmethodID getGroup = env->GetMethodID(threadClass, "getThreadGroup", "()Ljava/lang/ThreadGroup;");
  jmethodID getParent = env->GetMethodID(groupClass, "getParent", "()Ljava/lang/ThreadGroup;");
  jmethodID activeCount = env->GetMethodID(groupClass, "activeCount", "()I");
  jmethodID enumerate = env->GetMethodID(groupClass, "enumerate", "([Ljava/lang/Thread;Z)I");
  jmethodID newInstance =
      env->GetStaticMethodID(arrayClass, "newInstance", "(Ljava/lang/Class;I)Ljava/lang/Object;");
  if (Failed(env, current) || Failed(env, getGroup) || Failed(env, getParent) || Failed(env, activeCount) ||
      Failed(env, enumerate) || Failed(env, newInstance)) {
    return false;
  }
  jobject thread = refs.Keep(env->CallStaticObjectMethod(threadClass, current));
  if (Failed(env, thread)) return false;
  jobject group = refs.Keep(env->CallObjectMethod(thread, getGroup));
  if (Failed(env, group)) return false;
  for (;;) {
    jobject parent = refs.Keep(env->CallObjectMethod(group, getParent));
    if (env->ExceptionCheck()) {
      env->ExceptionClear();
      return false;
    }
    if (parent == nullptr) break;
    group = parent;
  }
  jint count = env->CallIntMethod(group, activeCount);
  if (Failed(env, group)) return false;
  auto array = static_cast<jobjectArray>(refs.Keep(env->CallStaticObjectMethod(arrayClass, newInstance, threadClass, count + 1)));
  if (Failed(env, array)) return false;
  env->CallIntMethod(group, enumerate, array, JNI_TRUE);
  if (Failed(env, array)) return false;
  bool any = false;
  jsize n = env->GetArrayLength(array);
  for (jsize i = 0; i < n; ++i) {
    jobject t = env->GetObjectArrayElement(array, i);
    if (t == nullptr) continue;
    names->push_back(ObjectText(env, t));
    env->DeleteLocalRef(t);
    any = true;
  }
  return any;
}

// ===== Exceptions and strings =====

std::string KJavaVM::GetExceptionString(JNIEnv* env) {
  if (env == nullptr || !env->ExceptionCheck()) return std::string();
  jthrowable e = env->ExceptionOccurred();
  env->ExceptionClear();
  std::string text = ObjectText(env, e);
  env->DeleteLocalRef(e);
  return text;
}

std::string KJavaVM::CheckException(JNIEnv* env) {
  KJavaVMGlobals* globals = KJavaVMAppGlobals::ThreadGlobals();
  if (globals != nullptr) globals->ClearErrorStack();
  std::string result;
  if (env != nullptr && env->ExceptionCheck()) {
    LocalRefs refs(env);
    jthrowable e = refs.Keep(env->ExceptionOccurred());
    env->ExceptionClear();
    result = ObjectText(env, e);
    jclass c = refs.Keep(env->GetObjectClass(e));
    jmethodID m = env->GetMethodID(c, "getStackTrace", "()[Ljava/lang/StackTraceElement;");
    auto frames = Failed(env, m) ? nullptr
                                 : static_cast<jobjectArray>(refs.Keep(env->CallObjectMethod(e, m)));
    if (!Failed(env, frames)) {
      jsize n = env->GetArrayLength(frames);
      for (jsize i = 0; i < n; ++i) {
        jobject frame = env->GetObjectArrayElement(frames, i);
        std::string text = frame != nullptr ? ObjectText(env, frame) : std::string();
        if (frame != nullptr) env->DeleteLocalRef(frame);
        if (i == 0) result += " " + text;
        if (globals != nullptr) globals->PushError(text);
      }
    }
    KJavaVM* vm = TheJavaVM();
    if (vm != nullptr) vm->IncrementNumExceptions();
  }
  if (globals != nullptr) {
    globals->LastError(result.c_str());
    if (!result.empty()) globals->IncrementNumExceptions();
  }
  return result;
}

std::string KJavaVM::GetJavaString(JNIEnv* env, jstring s) {
  if (env == nullptr || s == nullptr) return std::string();
  // The UTF-16 units, not the VM's modified UTF-8, which writes a NUL as
  // two bytes and a supplementary character as two three-byte surrogates:
  // neither is UTF-8, and both would come out as "?" or unusable bytes.
  const jsize n = env->GetStringLength(s);
  try {
    std::vector<jchar> units(static_cast<size_t>(n > 0 ? n : 0));
    if (!units.empty()) env->GetStringRegion(s, 0, n, units.data());
    if (env->ExceptionCheck()) {
      env->ExceptionClear();
      return std::string();
    }
    const std::wstring wide = WideFromUtf16(units.data(), units.size());
    return KIntl::Utf8() ? wtoutf8(wide) : wtoa(wide);
  } catch (const std::bad_alloc&) {
    Log("\tKJavaVM::GetJavaString: no memory for a string of ", n, " characters");
    return std::string();
  }
}
