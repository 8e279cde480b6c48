// Request arguments: urlencoded POST bodies and GET query strings of many
// fields, KHTTPArgs against a plain split-and-decode loop and POCO's
// HTMLForm.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "vxkernel/web/KHTTPArgs.h"

#ifdef VXK_HAVE_POCO
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#endif

namespace {

// Fields like "field17=value+17%21", one in ten with a Latin-1 "%E9".
std::string Fields(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i > 0) s += '&';
    s += "field" + std::to_string(i) + "=value+" + std::to_string(i) + (i % 10 ? "%21" : "%E9");
  }
  return s;
}

struct Request {
  std::string method, query, body;
};

bool Lookup(void* c, const char* name, KString& value) {
  auto* r = static_cast<Request*>(c);
  const std::string n = name;
  if (n == "REQUEST_METHOD") value = r->method.c_str();
  else if (n == "QUERY_STRING") value = r->query.c_str();
  else if (n == "CONTENT_TYPE") value = "application/x-www-form-urlencoded";
  else if (n == "CONTENT_LENGTH") value = std::to_string(r->body.size()).c_str();
  else return false;
  return true;
}

bool Count(void* c, const char*, const char*) {
  ++*static_cast<int*>(c);
  return true;
}

int Hex(char c) { return c >= 'A' ? (c & 0xDF) - 55 : c - 48; }

// The loop a handler would write by hand: split, decode, split at "=".
void PlainCrack(const std::string& text, int* count) {
  size_t start = 0;
  std::string item;
  while (start <= text.size()) {
    size_t end = text.find_first_of("&;", start);
    if (end == std::string::npos) end = text.size();
    item.clear();
    for (size_t i = start; i < end; ++i) {
      char c = text[i];
      if (c == '+') c = ' ';
      if (c == '%' && i + 2 < end) {
        c = static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
        i += 2;
      }
      item += c;
    }
    size_t eq = item.find('=');
    if (eq != std::string::npos) item[eq] = '\0';
    Count(count, item.c_str(), eq != std::string::npos ? item.c_str() + eq + 1 : nullptr);
    start = end + 1;
  }
}

void BM_KHTTPArgs_Post(benchmark::State& state) {
  Request r{"POST", "", Fields(static_cast<int>(state.range(0)))};
  KHTTPArgs h;
  int count = 0;
  for (auto _ : state) {
    std::istringstream in(r.body);
    h.CrackArgs(in, Lookup, &r, Count, &count, false);
  }
  benchmark::DoNotOptimize(count);
}
BENCHMARK(BM_KHTTPArgs_Post)->Arg(100)->Arg(1000);

void BM_Plain_Post(benchmark::State& state) {
  const std::string body = Fields(static_cast<int>(state.range(0)));
  int count = 0;
  for (auto _ : state) {
    std::istringstream in(body);
    std::string text(body.size(), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    PlainCrack(text, &count);
  }
  benchmark::DoNotOptimize(count);
}
BENCHMARK(BM_Plain_Post)->Arg(100)->Arg(1000);

void BM_KHTTPArgs_Get(benchmark::State& state) {
  Request r{"GET", Fields(static_cast<int>(state.range(0))), ""};
  KHTTPArgs h;
  std::istringstream none;
  int count = 0;
  for (auto _ : state) h.CrackArgs(none, Lookup, &r, Count, &count, false);
  benchmark::DoNotOptimize(count);
}
BENCHMARK(BM_KHTTPArgs_Get)->Arg(1000);

void BM_Plain_Get(benchmark::State& state) {
  const std::string query = Fields(static_cast<int>(state.range(0)));
  int count = 0;
  for (auto _ : state) {
    std::string copy = query;  // the lookup's copy
    PlainCrack(copy, &count);
  }
  benchmark::DoNotOptimize(count);
}
BENCHMARK(BM_Plain_Get)->Arg(1000);

#ifdef VXK_HAVE_POCO
void BM_Poco_Post(benchmark::State& state) {
  const std::string body = Fields(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_POST, "/");
    request.setContentType("application/x-www-form-urlencoded");
    request.setContentLength(static_cast<std::streamsize>(body.size()));
    std::istringstream in(body);
    Poco::Net::HTMLForm form;
    form.setFieldLimit(0);
    form.load(request, in);
    benchmark::DoNotOptimize(form.size());
  }
}
BENCHMARK(BM_Poco_Post)->Arg(100)->Arg(1000);

void BM_Poco_Get(benchmark::State& state) {
  const std::string uri = "/?" + Fields(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, uri);
    Poco::Net::HTMLForm form;
    form.setFieldLimit(0);
    form.load(request);
    benchmark::DoNotOptimize(form.size());
  }
}
BENCHMARK(BM_Poco_Get)->Arg(1000);
#endif

}  // namespace

BENCHMARK_MAIN();
