// Preference files against POCO's IniFileConfiguration (where installed):
// loading a file of 20 sections x 50 values and looking values up; and,
// built as prefs_write_bench, the crash-safe rewrite of fileprefs_add_pref
// against the in-place rewrite of the same file. Files live on /dev/shm.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "vxkernel/files/KFilePrefs.h"
#include "vxkernel/files/fileprefs.h"

#ifdef VXK_HAVE_POCO
#include <Poco/AutoPtr.h>
#include <Poco/Util/IniFileConfiguration.h>
#endif
#ifdef VXK_PREFS_WRITE_BENCH
#include "files/prefs_file_internal.h"
#endif

namespace {

constexpr int kSections = 20;
constexpr int kValues = 50;

struct Key {
  std::string section, name, dotted;
};

// Writes the file once per program and returns its path and keys.
const std::string& File(std::vector<Key>* keys = nullptr) {
  static std::vector<Key> all;
  static char name[64];
  static const std::string path = [] {
    std::snprintf(name, sizeof name, "/dev/shm/vxk_prefs_bench_%d.ini", static_cast<int>(getpid()));
    std::string p = name;
    std::ofstream out(p);
    out << "# generated\n";
    for (int s = 0; s < kSections; ++s) {
      out << "[Section" << s << "]\n";
      for (int v = 0; v < kValues; ++v) {
        out << "Key" << v << "=value " << v << " of section " << s << " with some text\n";
        all.push_back({"Section" + std::to_string(s), "Key" + std::to_string(v),
                       "Section" + std::to_string(s) + ".Key" + std::to_string(v)});
      }
      out << "\n";
    }
    std::atexit([] { std::remove(name); });
    return p;
  }();
  if (keys != nullptr) *keys = all;
  return path;
}

// Lookups walk the keys in a fixed scattered order.
[[maybe_unused]] std::vector<Key> Scattered() {
  std::vector<Key> keys;
  File(&keys);
  std::vector<Key> out;
  for (size_t i = 0, j = 0; i < keys.size(); ++i, j = (j + 389) % keys.size()) out.push_back(keys[j]);
  return out;
}

#ifndef VXK_PREFS_WRITE_BENCH
void BM_Load_KFilePrefs(benchmark::State& state) {
  KFilePrefs* p = KFilePrefs::GetKFilePrefs(File().c_str());
  for (auto _ : state) benchmark::DoNotOptimize(p->Refresh());
  state.SetItemsProcessed(state.iterations() * kSections * kValues);
}
BENCHMARK(BM_Load_KFilePrefs);

void BM_GetPref_KFilePrefs(benchmark::State& state) {
  KFilePrefs* p = KFilePrefs::GetKFilePrefs(File().c_str());
  const std::vector<Key> keys = Scattered();
  char buf[256];
  size_t i = 0;
  for (auto _ : state) {
    const Key& k = keys[i++ % keys.size()];
    benchmark::DoNotOptimize(p->GetPref(k.section.c_str(), k.name.c_str(), buf, sizeof buf));
  }
}
BENCHMARK(BM_GetPref_KFilePrefs);

#ifdef VXK_HAVE_POCO
void BM_Load_Poco(benchmark::State& state) {
  for (auto _ : state) {
    Poco::AutoPtr<Poco::Util::IniFileConfiguration> c(new Poco::Util::IniFileConfiguration(File()));
    benchmark::DoNotOptimize(c.get());
  }
  state.SetItemsProcessed(state.iterations() * kSections * kValues);
}
BENCHMARK(BM_Load_Poco);

void BM_GetString_Poco(benchmark::State& state) {
  Poco::AutoPtr<Poco::Util::IniFileConfiguration> c(new Poco::Util::IniFileConfiguration(File()));
  const std::vector<Key> keys = Scattered();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(c->getString(keys[i++ % keys.size()].dotted));
}
BENCHMARK(BM_GetString_Poco);
#endif

#else
// One value changes back and forth, so every call rewrites the whole file.
void AddPref(benchmark::State& state, bool inPlace) {
  vxk_internal::PrefsForceInPlace(inPlace);
  void* h = fileprefs_open(File().c_str());
  const char* values[2] = {"first value", "second value"};
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(fileprefs_add_pref(h, "Section7", "Key9", values[i++ % 2]));
  fileprefs_close(h);
  vxk_internal::PrefsForceInPlace(false);
}
void BM_AddPref_Replace(benchmark::State& state) { AddPref(state, false); }
void BM_AddPref_InPlace(benchmark::State& state) { AddPref(state, true); }
BENCHMARK(BM_AddPref_Replace);
BENCHMARK(BM_AddPref_InPlace);
#endif

}  // namespace

BENCHMARK_MAIN();
