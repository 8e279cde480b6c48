// The JSON API under /api/ for curl and scripts: the documents, their
// share links and the server's figures. Every error answer under /api/,
// wherever it is made, is JSON too, so that a script never reads a page.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_API_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_API_H_

#include <string>

namespace serve {

struct Caller;
struct Exchange;

constexpr char kJsonType[] = "application/json";

// True for the paths the API answers (/api and everything under /api/).
bool IsApiPath(const std::string& path);
// The body of an error answer of the API: {"error": message, "status": status}.
std::string ApiErrorBody(int status, const std::string& message);
// Answers a request under /api/ from an admitted caller.
void RouteApi(Exchange& ex, const Caller& who);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_API_H_
