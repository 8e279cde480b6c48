// The resource-module chain with real modules: this executable is the host (it exports a
// table), libvxresources.so is found through LD_LIBRARY_PATH, others are opened by path.
// Every module's string 1 is its own name, so a lookup shows which module answered.
#include "vxkernel/runtime/PcRsc.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "support/debug_capture.h"
#include "vxkernel/base/mem.h"
#include "vxkernel/runtime/KAt.h"

extern "C" __attribute__((visibility("protected"))) const VXResource vxk_resource_table[] = {
    {"STRING", nullptr, 1, "host", 4},
    {"STRING", nullptr, 2, "host only", 9},
    {nullptr, nullptr, 0, nullptr, 0},
};

namespace {

std::string String(short id, short size = 256) {
  char buf[256];
  int n = PcRsc::LoadStringA(id, buf, size);
  EXPECT_EQ(static_cast<size_t>(n), std::strlen(buf));
  return buf;
}

const char* Text(const VXResource* r) { return r ? static_cast<const char*>(r->data) : "(none)"; }

bool Loaded(const char* path) {
  void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (h != nullptr) dlclose(h);
  return h != nullptr;
}

TEST(PcRscLookups, TheProcessListAnswersStringsIconsCursorsBitmapsAndResources) {
  const auto& list = PcRsc::Instances();
  ASSERT_EQ(list.size(), 3u);
  // The host, libvxresources.so, the library itself (registered at load).
  EXPECT_EQ(list[0], nullptr);
  EXPECT_NE(list[1], nullptr);
  EXPECT_NE(list[2], nullptr);
  // The library holds no strings; what only the host has is found, last.
  EXPECT_EQ(String(1), "process");
  EXPECT_EQ(String(2), "host only");
  EXPECT_EQ(String(3), "");
  EXPECT_EQ(String(1, 4), "pro");  // cut to the buffer
  EXPECT_EQ(String(1, 1), "");
  char buf[4] = "xyz";
  EXPECT_EQ(PcRsc::LoadStringA(1, buf, 0), 0);
  EXPECT_EQ(PcRsc::LoadStringA(1, nullptr, 10), 0);
  // Icons by five-digit name first, then by number; a cursor falls back to the arrow.
  // LoadResource mode -1: the entry itself; 0: a handle; 1: a fixed block; 2: new[].
  std::string found;
  for (const VXResource* r : {PcRsc::LoadIconA(7), PcRsc::LoadIconA(8), PcRsc::LoadIconA(9),
                              PcRsc::LoadIconA("ICO00007", 1), PcRsc::LoadCursorA("hand"),
                              PcRsc::LoadBitmapA("logo"), PcRsc::LoadBitmapA("no such bitmap")})
    found += std::string(Text(r)) + "|";
  EXPECT_EQ(found, "named icon 7|numbered icon 8|(none)|named icon 7|hand cursor|logo bitmap|(none)|");
  EXPECT_STREQ(PcRsc::LoadCursorA("no such cursor")->name, "IDC_ARROW");
  EXPECT_EQ(static_cast<const VXResource*>(PcRsc::LoadResource("DATA", "blob", -1))->size, 7u);
  auto handle = static_cast<mem_handle>(PcRsc::LoadResource("DATA", "blob", 0));
  void* fixed = PcRsc::LoadResource("DATA", "blob", 1);
  char* block = static_cast<char*>(PcRsc::LoadResource("DATA", "blob", 2));
  EXPECT_EQ(std::string(static_cast<const char*>(mem_lock(handle)), mem_gethsize(handle)), "hello");
  EXPECT_EQ(std::string(static_cast<const char*>(fixed), mem_getsize_fixed(fixed)), "hello");
  EXPECT_EQ(std::string(block, 5), "hello");
  mem_disposeh(handle), mem_dispose_fixed(fixed);
  delete[] block;
  char* empty = static_cast<char*>(PcRsc::LoadResource("DATA", "empty", 2));
  EXPECT_NE(empty, nullptr);
  delete[] empty;
  EXPECT_EQ(PcRsc::LoadResource("DATA", "blob", 3), nullptr);
  EXPECT_EQ(PcRsc::LoadResource("DATA", "blob", -2), nullptr);
  EXPECT_EQ(PcRsc::LoadResource("DATA", "missing", 2), nullptr);
  EXPECT_EQ(PcRsc::LoadResource("OTHER", "blob", 2), nullptr);
  ExpectDebug({"PcRsc::LoadResource - resource DATA damaged claims 300 bytes but holds 3\n"},
              [] { EXPECT_EQ(PcRsc::LoadResource("DATA", "damaged", 2), nullptr); });
}

// The thread's list answers first, last opened first; process-list additions stay behind
// it. Another thread without a list sees the process list, last added first.
TEST(PcRscChain, ThreadListComesFirstLastOpenedFirstAndTheMainInstanceReplacesItself) {
  std::string seen;
  auto answer = [&seen] { seen += String(1) + " "; };
  PcRsc::HINSTANCE a = PcRsc::OpenResourceFile(VXK_RESMOD_A);
  PcRsc::HINSTANCE b = PcRsc::OpenResourceFile(VXK_RESMOD_B);
  PcRsc::HINSTANCE added = dlopen(VXK_RESMOD_ADDED, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(added, nullptr);
  answer(), PcRsc::Add(added), answer();
  std::thread(answer).join();
  EXPECT_TRUE(PcRsc::CloseResourceFile(b));
  answer();
  EXPECT_TRUE(PcRsc::CloseResourceFile(a));
  answer();
  EXPECT_TRUE(PcRsc::Remove(added));
  EXPECT_FALSE(PcRsc::Remove(added));  // already gone
  answer();
  dlclose(added);
  // A module outside the list is freed all the same, and the answer is false.
  EXPECT_FALSE(PcRsc::CloseResourceFile(dlopen(VXK_RESMOD_A, RTLD_NOW | RTLD_LOCAL)));
  EXPECT_FALSE(Loaded(VXK_RESMOD_A));
  // A thread's own list is freed by its shut-down.
  std::thread([&] {
    KAt::ThreadStartup();
    PcRsc::OpenResourceFile(VXK_RESMOD_B);
    answer();
    KAt::ThreadShutdown();
  }).join();
  answer();
  EXPECT_EQ(seen, "thread-b thread-b added thread-a added process thread-b process ");
  EXPECT_FALSE(Loaded(VXK_RESMOD_B));
  // The main instance replaces itself in the process list.
  a = dlopen(VXK_RESMOD_A, RTLD_NOW | RTLD_LOCAL);
  added = dlopen(VXK_RESMOD_ADDED, RTLD_NOW | RTLD_LOCAL);
  const size_t before = PcRsc::Instances().size();
  EXPECT_EQ(PcRsc::Instance(), nullptr);
  PcRsc::Instance(a);
  PcRsc::Instance(a);  // already current: nothing changes
  EXPECT_EQ(PcRsc::Instance(), a);
  EXPECT_EQ(String(1), "thread-a");
  PcRsc::Instance(added);
  EXPECT_EQ(PcRsc::Instances().size(), before + 1);
  EXPECT_EQ(PcRsc::Instances().back(), added);
  EXPECT_EQ(String(1), "added");
  EXPECT_TRUE(PcRsc::Remove(added));
  dlclose(a), dlclose(added);
  DebugCapture capture;  // the line ends with the loader's own words
  EXPECT_EQ(PcRsc::OpenResourceFile("/nonexistent/libnothing.so"), nullptr);
  EXPECT_EQ(capture.Texts().size(), 1u);
  EXPECT_EQ(capture.All().rfind("PcRsc::OpenResourceFile - could not load /nonexistent/libnothing.so: ", 0), 0u);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  KAt::ProcessStartup(1);
  int result = RUN_ALL_TESTS();
  KAt::ProcessShutdown(1);
  return result;
}
