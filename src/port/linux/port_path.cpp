// Absolute path names, made from the text and the current directory, and
// the environment.
#include <stdlib.h>

#include <string>
#include <vector>

#include "port/port.h"

namespace port {

bool AbsolutePath(const std::string& name, std::string* out) {
  if (name.empty()) return false;
  std::string whole;
  if (name[0] == '/') {
    whole = name;
  } else {
    if (!ProcessCurrentDirectory(&whole)) return false;
    whole += '/';
    whole += name;
  }
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= whole.size()) {
    size_t end = whole.find('/', start);
    if (end == std::string::npos) end = whole.size();
    std::string piece = whole.substr(start, end - start);
    if (piece == "..") {
      if (!pieces.empty()) pieces.pop_back();
    } else if (!piece.empty() && piece != ".") {
      pieces.push_back(std::move(piece));
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& piece : pieces) {
    result += '/';
    result += piece;
  }
  if (result.empty() || whole.back() == '/') result += '/';
  *out = std::move(result);
  return true;
}

bool SetEnvironmentVariable(const char* name, const char* value) {
  return setenv(name, value, 1) == 0;
}

}  // namespace port
