// A fresh directory for one test, removed with everything in it when the
// object goes; files are written and read whole, as bytes.
#ifndef VXKERNEL_TESTS_SUPPORT_TEMP_DIR_H_
#define VXKERNEL_TESTS_SUPPORT_TEMP_DIR_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempDir {
 public:
  explicit TempDir(const char* tag = "vxk") {
    std::string t = (std::filesystem::temp_directory_path() / (std::string(tag) + "_XXXXXX")).string();
    if (mkdtemp(t.data()) == nullptr) ADD_FAILURE() << "mkdtemp " << t;
    fPath = t + "/";
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(fPath, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, ending with "/".
  const std::string& Path() const { return fPath; }
  std::string operator/(const std::string& name) const { return fPath + name; }

  // Writes bytes as the whole file name; returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(fPath + name, std::ios::binary) << bytes;
    return fPath + name;
  }
  static std::string Read(const std::string& path) {
    // One bulk read: a byte-wise iterator costs seconds per megabyte in the
    // unoptimised sanitizer build.
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return std::move(all).str();
  }

 private:
  std::string fPath;
};

#endif  // VXKERNEL_TESTS_SUPPORT_TEMP_DIR_H_
