// vxhost.ini: the server's preference file, made with the defaults on first
// start. It also carries the conversion client's [general] RZHome and
// [DORView] dllpath, so it doubles as the process's configuration file.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "serve.h"
#include "vxkernel/files/KFilePrefs.h"

namespace serve {

namespace {

// The value of [section] name, written with def first when missing.
std::string Pref(KFilePrefs* prefs, const char* section, const char* name, const std::string& def) {
  char buf[1024];
  long rc = prefs->GetPref(section, name, buf, sizeof buf);
  if (rc == 0) return buf;
  prefs->AddPref(section, name, def.c_str());
  return def;
}

int64_t PrefNumber(KFilePrefs* prefs, const char* name, int64_t def, int64_t low, int64_t high) {
  std::string text = Pref(prefs, "server", name, std::to_string(def));
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || v < low || v > high) return def;
  return v;
}

// Items of a list separated by commas or blanks.
std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  for (char ch : text + ",") {
    if (ch == ',' || ch == ' ' || ch == '\t') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += ch;
    }
  }
  return items;
}

}  // namespace

bool ParseHostPort(const std::string& text, std::string* host, int* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  std::string h = text.substr(0, colon);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  char* end = nullptr;
  long p = std::strtol(text.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || p < 0 || p > 65535) return false;
  *host = h;
  *port = static_cast<int>(p);
  return true;
}

bool LoadConfig(Config* c, bool listenGiven, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(c->dataDir, ec);
  c->dataDir = std::filesystem::absolute(c->dataDir, ec).lexically_normal().string();
  if (c->dataDir.size() > 1 && c->dataDir.back() == '/') c->dataDir.pop_back();
  c->iniPath = c->dataDir + "/vxhost.ini";
  if (!std::filesystem::exists(c->iniPath) && KFilePrefs::CreateKFilePrefs(c->iniPath.c_str()) != 0) {
    *error = "cannot create " + c->iniPath + "; check that the data folder is writable";
    return false;
  }
  KFilePrefs* prefs = KFilePrefs::GetKFilePrefs(c->iniPath.c_str());
  if (prefs == nullptr) {
    *error = "cannot read " + c->iniPath + ": it is not a readable preference file; fix it, or move it away to "
             "start with the defaults";
    return false;
  }
  std::string listen = Pref(prefs, "server", "listen", Config().host + ":" + std::to_string(Config().port));
  if (!listenGiven && !ParseHostPort(listen, &c->host, &c->port)) {
    *error = c->iniPath + ": [server] listen is not HOST:PORT: " + listen;
    return false;
  }
  c->threads = static_cast<int>(PrefNumber(prefs, "threads", c->threads, 1, 64));
  c->loops = static_cast<int>(PrefNumber(prefs, "loops", c->loops, 0, 256));
  c->maxUploadBytes = PrefNumber(prefs, "max_upload_bytes", c->maxUploadBytes, 0, 0xFFFFFFFF);
  c->writeTimeoutMs = static_cast<int>(PrefNumber(prefs, "write_timeout_ms", c->writeTimeoutMs, 10, 3600000));
  c->connsPerAddress = static_cast<int>(PrefNumber(prefs, "conns_per_address", c->connsPerAddress, 0, 1 << 20));
  c->requestsPerSecondPerAddress = static_cast<int>(
      PrefNumber(prefs, "requests_per_second_per_address", c->requestsPerSecondPerAddress, 0, 1 << 20));
  c->sessionIdleMinutes =
      static_cast<int>(PrefNumber(prefs, "session_idle_minutes", c->sessionIdleMinutes, 1, 525600));
  c->minFreeBytes = PrefNumber(prefs, "min_free_bytes", c->minFreeBytes, 0, int64_t{1} << 50);
  c->trashDays = static_cast<int>(PrefNumber(prefs, "trash_days", c->trashDays, 0, 36500));
  c->trustedProxies = SplitList(Pref(prefs, "server", "trusted_proxies", ""));
  c->serverNames = SplitList(Pref(prefs, "server", "server_names", ""));
  if (c->serverNames.empty()) {
    c->serverNames = {c->host, "localhost", "127.0.0.1"};
    // On every interface, other machines name this one.
    char name[256] = "";
    if ((c->host == "*" || c->host == "0.0.0.0" || c->host == "::") && gethostname(name, sizeof name - 1) == 0)
      c->serverNames.push_back(name);
  }
  c->maxHeadBytes = static_cast<int>(PrefNumber(prefs, "max_head_bytes", c->maxHeadBytes, 256, 1 << 20));
  c->headTimeoutMs = static_cast<int>(PrefNumber(prefs, "head_timeout_ms", c->headTimeoutMs, 10, 3600000));
  c->bodyTimeoutMs = static_cast<int>(PrefNumber(prefs, "body_timeout_ms", c->bodyTimeoutMs, 10, 3600000));
  c->idleTimeoutMs = static_cast<int>(PrefNumber(prefs, "idle_timeout_ms", c->idleTimeoutMs, 10, 3600000));
  c->logWaitMs = static_cast<int>(PrefNumber(prefs, "log_wait_ms", c->logWaitMs, 0, 600000));
  std::string home = Pref(prefs, "general", "RZHome", c->dcsHome);
  Pref(prefs, "DORView", "dllpath", home.empty() ? "" : home + "filters");
  c->dcsHome = home;
  return true;
}

}  // namespace serve
