// Debugger detection and the start-up directory of the error catalogue.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "port/port.h"

namespace port {

bool DebuggerAttached() {
  std::FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return false;
  char line[256];
  bool attached = false;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      long pid = 0;
      attached = std::sscanf(line + 10, "%ld", &pid) == 1 && pid != 0;
      break;
    }
  }
  std::fclose(status);
  return attached;
}

void DebuggerBreak() { raise(SIGTRAP); }

bool ProcessCurrentDirectory(std::string* out) {
  std::string buf(256, '\0');
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) {
      buf.resize(std::strlen(buf.c_str()));
      *out = buf;
      return true;
    }
    if (errno != ERANGE || buf.size() > (1u << 20)) return false;
    buf.resize(buf.size() * 2);
  }
}

bool FileNameExists(const char* name) {
  struct stat st;
  return name != nullptr && stat(name, &st) == 0;
}

}  // namespace port
