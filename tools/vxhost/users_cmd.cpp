// vxhost user ... and vxhost token ...: the accounts of the server, edited
// in DIR/users.json while the server runs (it notices on its next request).
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "serve_users.h"

namespace {

constexpr char kUserUsage[] =
    "usage: vxhost user add NAME [--admin] [--data DIR]   (password on standard input)\n"
    "       vxhost user del NAME [--data DIR]\n"
    "       vxhost user list [--data DIR]\n";
constexpr char kTokenUsage[] =
    "usage: vxhost token add NAME [--data DIR]   (prints the new token)\n"
    "       vxhost token del TOKEN [--data DIR]\n";

struct Args {
  std::string verb;
  std::vector<std::string> words;  // the operands after the verb
  std::string dataDir = "var";
  bool admin = false;
};

// False on an unknown option or a missing --data value.
bool ParseArgs(int argc, char** argv, Args* args) {
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--data" && i + 1 < argc) args->dataDir = argv[++i];
    else if (a == "--admin") args->admin = true;
    else if (a.rfind("--", 0) == 0) return false;
    else if (args->verb.empty()) args->verb = a;
    else args->words.push_back(a);
  }
  return true;
}

int Usage(const char* usage) {
  std::fputs(usage, stderr);
  return 2;
}

int Failed(const char* command, const std::string& error) {
  std::fprintf(stderr, "vxhost %s: %s\n", command, error.c_str());
  return 1;
}

// One line from standard input without its line end; on a terminal the
// typing is not echoed. False when the line is longer than a password may
// be (the rest is not read).
bool ReadPassword(std::string* password) {
  termios saved{};
  const bool quiet = isatty(STDIN_FILENO) != 0 && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (quiet) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    std::fputs("password: ", stderr);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  bool fits = true;
  for (int c; (c = std::getchar()) != EOF && c != '\n';) {
    if (password->size() > 1025) {
      fits = false;
      break;
    }
    *password += static_cast<char>(c);
  }
  if (quiet) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return fits;
}

}  // namespace

int RunUser(int argc, char** argv) {
  using serve::Users;
  Args a;
  if (!ParseArgs(argc, argv, &a) || (a.admin && a.verb != "add")) return Usage(kUserUsage);
  std::string error;
  if (a.verb == "add" && a.words.size() == 1) {
    if (!Users::ValidName(a.words[0], &error)) return Failed("user", error);
    std::string password;
    if (!ReadPassword(&password)) return Failed("user", "the password is longer than 1024 bytes");
    std::error_code ignored;
    std::filesystem::create_directories(a.dataDir, ignored);
    if (!Users::AddUser(a.dataDir, a.words[0], password, a.admin, &error)) return Failed("user", error);
    return 0;
  }
  if (a.verb == "del" && a.words.size() == 1)
    return Users::DeleteUser(a.dataDir, a.words[0], &error) ? 0 : Failed("user", error);
  if (a.verb == "list" && a.words.empty()) {
    for (const Users::Listed& u : Users::List(a.dataDir))
      std::printf("%s\t%s\t%zu\n", u.name.c_str(), u.admin ? "admin" : "user", u.tokens);
    return 0;
  }
  return Usage(kUserUsage);
}

int RunToken(int argc, char** argv) {
  using serve::Users;
  Args a;
  if (!ParseArgs(argc, argv, &a) || a.admin || a.words.size() != 1) return Usage(kTokenUsage);
  std::string error, token;
  if (a.verb == "add") {
    if (!Users::AddToken(a.dataDir, a.words[0], &token, &error)) return Failed("token", error);
    std::printf("%s\n", token.c_str());
    return 0;
  }
  if (a.verb == "del") return Users::DeleteToken(a.dataDir, a.words[0], &error) ? 0 : Failed("token", error);
  return Usage(kTokenUsage);
}
