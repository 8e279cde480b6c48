// libFuzzer target for GET query strings.
//
// The input is a query string. Checked: the items reach the sink in order,
// split at "&" (at ";" only where no "&" follows), with no item for a
// trailing separator; an item without "%" or "+" arrives unchanged, split at
// its first "=".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "vxkernel/web/KHTTPArgs.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Request {
  std::string query;
  std::vector<std::pair<std::string, std::optional<std::string>>> args;
};

bool Lookup(void* c, const char* name, KString& value) {
  const std::string n = name;
  if (n == "REQUEST_METHOD") value = "GET";
  else if (n == "QUERY_STRING") value = KString(static_cast<Request*>(c)->query.c_str());
  else return false;
  return true;
}

bool Sink(void* c, const char* name, const char* value) {
  static_cast<Request*>(c)->args.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Request r;
  r.query.assign(reinterpret_cast<const char*>(data), size);
  r.query = r.query.c_str();  // the variable ends at its first NUL
  KHTTPArgs h;
  std::istringstream none;
  Check(h.CrackArgs(none, Lookup, &r, Sink, &r, false) == 0);
  std::vector<std::string> items;
  for (size_t start = 0; start < r.query.size();) {
    size_t end = r.query.find('&', start);
    if (end == std::string::npos) end = r.query.find(';', start);
    items.push_back(r.query.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  Check(r.args.size() == items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string& item = items[i];
    if (item.find_first_of("%+") != std::string::npos) continue;
    const size_t eq = item.find('=');
    Check(r.args[i].first == item.substr(0, eq));
    Check(r.args[i].second == (eq == std::string::npos ? std::nullopt : std::optional<std::string>(item.substr(eq + 1))));
  }
  return 0;
}
