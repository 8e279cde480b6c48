// The language a client asks for in Accept-Language. Standard C++ only, so
// that its test links it alone.
#include <cstdlib>
#include <string>
#include <vector>

#include "serve.h"

namespace serve {

namespace {

std::string Trimmed(const std::string& s, size_t from, size_t to) {
  while (from < to && (s[from] == ' ' || s[from] == '\t')) ++from;
  while (to > from && (s[to - 1] == ' ' || s[to - 1] == '\t')) --to;
  return s.substr(from, to - from);
}

// The weight of one entry's parameters ("q=0.8"); 1 without one, 0 for a
// value that is not a number from 0 to 1 (the entry is then ignored).
double Weight(const std::string& params) {
  size_t q = params.find("q=");
  if (q == std::string::npos) return 1;
  const char* text = params.c_str() + q + 2;
  char* stop = nullptr;
  double w = std::strtod(text, &stop);
  if (stop == text || w < 0 || w > 1) return 0;
  return w;
}

}  // namespace

std::string PreferredLanguage(const std::string& header, const std::vector<std::string>& offered) {
  // Most requests of scripts send none: no entry to take apart.
  if (header.empty()) return offered.front();
  std::string best = offered.front();
  double bestWeight = 0;
  for (size_t at = 0; at <= header.size();) {
    size_t end = header.find(',', at);
    if (end == std::string::npos) end = header.size();
    std::string entry = Trimmed(header, at, end);
    at = end + 1;
    size_t semi = entry.find(';');
    std::string tag = Trimmed(entry, 0, semi == std::string::npos ? entry.size() : semi);
    double weight = semi == std::string::npos ? 1 : Weight(entry.substr(semi));
    // "de-CH" counts as "de"; "*" as the default; the first of equal weights wins.
    std::string primary = tag.substr(0, tag.find('-'));
    for (char& c : primary) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (primary == "*") primary = offered.front();
    for (const std::string& language : offered)
      if (primary == language && weight > bestWeight) {
        best = language;
        bestWeight = weight;
      }
  }
  return best;
}

}  // namespace serve
