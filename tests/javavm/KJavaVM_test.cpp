// The bridge on the real VM. A VM can be created once per process, so each
// test that starts one runs in a forked child and reports a transcript.
#include "vxkernel/javavm/KJavaVM.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <future>
#include <regex>
#include <thread>

#include "support/child_process.h"
#include "support/debug_capture.h"
#include "support/temp_dir.h"
#include "vxkernel/javavm/KJavaVMAppGlobals.h"
#include "vxkernel/javavm/KJavaVMGlobals.h"
#include "vxkernel/locale/KIntl.h"
#include "vxkernel/runtime/KAt.h"

namespace {

const std::string kJvmDir = VXK_JVM_DIR;

// The debug texts with their time prefix checked and removed.
std::string Messages(const DebugCapture& capture) {
  static const std::regex prefix(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d \[\d{10}\] )");
  std::string all;
  for (const std::string& t : capture.Texts()) {
    all += std::regex_search(t, prefix) ? std::regex_replace(t, prefix, "") : "(unprefixed) " + t;
  }
  return all;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char b : bytes) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return out;
}

TEST(KJavaVMTest, SettingsAreLookedUpInEachPlace) {
  TempDir dir;
  const std::pair<std::string, std::string> cases[] = {
      {"[JavaVM]\nLibraryPath=/opt/j\nOption_1=a\nOption_2=b\nOption_4=d\n", "/opt/j/libjvm.so a|b| 1"},
      {"[General]\nLibraryPath=/k/\n[javaserver]\nOption_1=x\nJavaVMOption_2=y\n", "/k/libjvm.so x|y| 1"},
      {"[javaserver]\nJavaVMLibraryPath=/q\n[JavaVM]\nOption_2=z\n", "/q/libjvm.so  0"},
      {"", "libjvm.so  0"},  // no file
  };
  int n = 0;  // a new file each time: the shared preferences stay loaded
  for (const auto& [text, want] : cases) {
    std::string name = "vm" + std::to_string(++n) + ".ini";
    KJavaVM vm((text.empty() ? dir / name : dir.Write(name, text)).c_str());
    std::string path, options;
    std::vector<std::string> list;
    vm.LibraryPath(path);
    bool any = vm.JavaOptions(&list);
    for (const std::string& o : list) options += o + "|";
    EXPECT_EQ(path + " " + options + " " + std::to_string(any), want) << text;
    EXPECT_EQ(vm.AttachCurrentThread(nullptr, nullptr), -1);  // no VM
  }
}

TEST(KJavaVMTest, StartFailuresAreReported) {
  TempDir dir;
  std::string none = dir.Write("none.ini", "[JavaVM]\nLibraryPath=" + kJvmDir + "\n");
  std::string bad = dir.Write("bad.ini", "[JavaVM]\nLibraryPath=/nonexistent\nOption_1=-Xmx8m\n");
  std::string out = ChildTranscript([&](Transcript& t) {
    DebugCapture capture;
    KJavaVM noOptions(none.c_str());
    t.Line(int(noOptions.StartJVM()));
    KJavaVM noLibrary(bad.c_str());
    t.Line(int(noLibrary.StartJVM()));
    t.Line(Messages(capture));
  });
  EXPECT_EQ(out, "0\n0\n\tKJavaVM::StartJVM: Loaded the Java library: " + kJvmDir + "/libjvm.so\n" +
                     "\tKJavaVM::StartJVM: Expected at least one JavaVM Option (e.g. classpath). "
                     "JVM was not created.\n"
                     "(unprefixed) KLoadLib::Open could not load: /nonexistent/libjvm.so "
                     "(/nonexistent/libjvm.so: cannot open shared object file: No such file or directory)\n"
                     "\tKJavaVM::StartJVM: Failed to load the Java library: /nonexistent/libjvm.so\n\n");
}

// A host thread that starts its thread ring, attaches under a name, waits
// for release, then detaches.
void AttachedThread(KJavaVM* vm, std::promise<long>* attached, std::future<void>* release, long* detached) {
  KAt::ThreadStartup();
  JavaVMAttachArgs args{JNI_VERSION_1_2, const_cast<char*>("vxk-attached"), nullptr};
  JNIEnv* env = nullptr;
  long rc = vm->AttachCurrentThread(&env, &args);
  attached->set_value(rc == 0 && KJavaVM::ThreadJNIEnv() == env ? 0 : rc == 0 ? 99 : rc);
  release->wait();
  *detached = vm->DetachCurrentThread();
  *detached += KJavaVM::ThreadJNIEnv() != nullptr ? 100 : 0;
  KAt::ThreadShutdown();
}

bool Contains(const std::vector<std::string>& names, const std::string& part) {
  for (const std::string& n : names) {
    if (n.find(part) != std::string::npos) return true;
  }
  return false;
}

TEST(KJavaVMTest, RunningVM) {
  TempDir dir;
  // Option 4 would cap the heap at 16 MiB: it must not be used.
  std::string ini = dir.Write("vm.ini", "[JavaVM]\nLibraryPath=" + kJvmDir +
                                            "\nOption_1=-Xrs\nOption_2=-Xmx64m\nOption_4=-Xmx16m\n");
  std::string out = ChildTranscript([&](Transcript& t) {
    KAt::ProcessStartup(1);
    DebugCapture capture;
    KJavaVM vm(ini.c_str());
    t.Line("start ", int(vm.StartJVM()), " again ", int(vm.StartJVM()));
    t.Line("unattached free ", vm.FreeMemory());
    JNIEnv* env = nullptr;
    t.Line("attach ", vm.AttachCurrentThread(&env, nullptr), " recorded ", KJavaVM::ThreadJNIEnv() == env);
    JNIEnv* other = nullptr;
    t.Line("bad version ", vm.GetEnv(&other, 0x7FFF0000));
    t.Line(Messages(capture));
    capture.Clear();

    int64 maxMemory = vm.MaxMemory(), total = vm.TotalMemory(), free = vm.FreeMemory();
    t.Line("max in (32, 64] MiB ", maxMemory > (32 << 20) && maxMemory <= (64 << 20));
    t.Line("free <= total <= max ", free > 0 && free <= total && total <= maxMemory);

    // Threads: the VM's own (in the system group) and an attached host thread.
    std::promise<long> attached;
    std::promise<void> release;
    std::future<void> released = release.get_future();
    long detached = -9;
    std::thread host(AttachedThread, &vm, &attached, &released, &detached);
    t.Line("host attach ", attached.get_future().get());
    std::vector<std::string> names;
    bool any = vm.EnumerateThreads(&names);
    t.Line("threads ", any, " ", Contains(names, "Thread[vxk-attached,"),
           " ", Contains(names, "Thread[Reference Handler,"));
    release.set_value();
    host.join();
    names.clear();
    vm.EnumerateThreads(&names);
    t.Line("host detach ", detached, " gone ", !Contains(names, "vxk-attached"));

    // A thrown exception becomes text, with its frames on the error stack.
    jclass integer = env->FindClass("java/lang/Integer");
    jmethodID parse = env->GetStaticMethodID(integer, "parseInt", "(Ljava/lang/String;)I");
    env->CallStaticIntMethod(integer, parse, env->NewStringUTF("x"));
    std::string text = KJavaVM::CheckException(env);
    std::vector<std::string>* stack = KJavaVM::ThreadJNIErrorStack();
    t.Line(text);
    t.Line("first frame ", text == "java.lang.NumberFormatException: For input string: \"x\" " + stack->front(),
           " parseInt ", Contains(*stack, "java.lang.Integer.parseInt("));
    t.Line("last error ", KJavaVM::ThreadJNILastError() == text, " counts ", vm.NumExceptions(), " ",
           KJavaVMAppGlobals::ThreadGlobals()->NumExceptions());
    std::string nothing = KJavaVM::CheckException(env);
    t.Line("nothing [", nothing, "] stack ", stack->size(), " counts ",
           vm.NumExceptions(), " ", KJavaVMAppGlobals::ThreadGlobals()->NumExceptions());

    // Strings: UTF-8 mode keeps the bytes; otherwise the local code page.
    jstring s = env->NewStringUTF("gr\xC3\xBC\xC3\x9F");
    // A NUL, BMP characters, a supplementary one and a lone surrogate, in hex.
    const jchar units[] = {'a', 0, 0xFC, 0x4E2D, 0xD83D, 0xDE00, 0xDC00};
    jstring w = env->NewString(units, 7);
    std::string local = KJavaVM::GetJavaString(env, s);
    std::string localUnits = Hex(KJavaVM::GetJavaString(env, w));
    KIntl::Encoding(KIntl::kUTF8);
    t.Line(local, " ", KJavaVM::GetJavaString(env, s), " [", KJavaVM::GetJavaString(env, nullptr), "]");
    t.Line(localUnits, " ", Hex(KJavaVM::GetJavaString(env, w)));

    // Adopting the VM: the first object stays the process's.
    JavaVM* raw = nullptr;
    env->GetJavaVM(&raw);
    {
      KJavaVM adopted(raw);
      t.Line("adopted start ", int(adopted.StartJVM()), " the one ", KJavaVM::TheJavaVM() == &vm);
    }
    t.Line(Messages(capture));
  });
  EXPECT_EQ(out,
            "start 1 again 1\n"
            "unattached free 0\n"
            "attach 0 recorded 1\n"
            "bad version -3\n"
            "\tKJavaVM::StartJVM: Loaded the Java library: " + kJvmDir + "/libjvm.so\n"
            "\tJavaVM Option: -Xrs\n"
            "\tJavaVM Option: -Xmx64m\n"
            "\tKJavaVM::StartJVM: Ignore start, Java VM already exists.\n"
            "\tKJavaVM::GetEnv(): could not get JNI env - -3\n\n"
            "max in (32, 64] MiB 1\n"
            "free <= total <= max 1\n"
            "host attach 0\n"
            "threads 1 1 1\n"
            "host detach 0 gone 1\n"
            "java.lang.NumberFormatException: For input string: \"x\" "
            "java.base/java.lang.NumberFormatException.forInputString(NumberFormatException.java:67)\n"
            "first frame 1 parseInt 1\n"
            "last error 1 counts 1 1\n"
            "nothing [] stack 0 counts 1 1\n"
            "gr\xFC\xDF gr\xC3\xBC\xC3\x9F []\n"
            "6100fc3f3f3f 6100c3bce4b8adf09f9880efbfbd\n"
            "adopted start 1 the one 1\n"
            "\tKJavaVM::StartJVM: Ignore start, Java VM already exists.\n\n");
}

}  // namespace
