// The server's accounts: the user and token commands driven as a process
// against a std::map model, the stored hashes checked with libc crypt() and
// the token digests with OpenSSL; the server-side classes (Users, Sessions,
// LoginLimiter) in process, on a clock the test moves.
#include <crypt.h>
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "serve_sessions.h"
#include "serve_users.h"
#include "support/temp_dir.h"

namespace {

struct Result {
  int status = -1;
  std::string out;
};

// Runs vxhost with args and input on its standard input.
Result Vxhost(const std::vector<std::string>& args, const std::string& input) {
  int in[2], out[2];
  Result r;
  if (pipe(in) != 0 || pipe(out) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    std::vector<char*> argv{const_cast<char*>(VXHOST_BIN)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VXHOST_BIN, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) ADD_FAILURE() << "stdin";
  close(in[1]);
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Sha256(const std::string& text) {
  unsigned char md[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), md);
  char hex[2 * SHA256_DIGEST_LENGTH + 1];
  for (int i = 0; i < SHA256_DIGEST_LENGTH; ++i) snprintf(hex + 2 * i, 3, "%02x", md[i]);
  return hex;
}

struct Op {
  std::vector<std::string> args;  // "#N" stands for the N-th token printed so far
  std::string input;
  int status;
};

}  // namespace

TEST(Users, CommandsFollowTheModel) {
  TempDir dir;
  const std::string data = dir / "data";
  struct Person {
    std::string password;
    bool admin;
  };
  std::map<std::string, Person> users;
  std::map<std::string, std::string> tokens;  // clear token -> user
  std::vector<std::string> printed;
  std::set<std::string> secrets;  // every password and token ever used
  const std::vector<Op> ops = {
      {{"user", "add", "alice", "--admin"}, "pw of alice\n", 0},
      {{"user", "add", "bob"}, "b\xc3\xb6" "b pass\r\n", 0},
      {{"user", "add", "alice"}, "other\n", 1},
      {{"user", "add", "bad/name"}, "x\n", 1},
      {{"user", "add", "carol"}, "\n", 1},
      {{"user", "add", "dave"}, std::string(1025, 'p') + "\n", 1},
      {{"user", "add"}, "", 2},
      {{"token", "add", "bob"}, "", 0},
      {{"token", "add", "bob"}, "", 0},
      {{"token", "add", "alice"}, "", 0},
      {{"token", "add", "nobody"}, "", 1},
      {{"token", "del", "#0"}, "", 0},
      {{"token", "del", "#0"}, "", 1},
      {{"token", "del", "vxt_XYZ"}, "", 1},
      {{"user", "del", "bob"}, "", 0},
      {{"user", "del", "bob"}, "", 1},
      {{"user", "add", "bob"}, "new\n", 0},
      {{"user", "frob"}, "", 2},
  };
  for (const Op& op : ops) {
    std::vector<std::string> args = op.args;
    for (std::string& a : args)
      if (a[0] == '#') a = printed.at(static_cast<size_t>(std::stoi(a.substr(1))));
    args.insert(args.end(), {"--data", data});
    std::string line;
    for (const std::string& a : op.args) line += a + " ";
    Result r = Vxhost(args, op.input);
    ASSERT_EQ(r.status, op.status) << line;
    std::string password = op.input.substr(0, op.input.find_first_of("\r\n"));
    secrets.insert(password);
    if (op.status != 0) continue;
    if (args[0] == "user" && args[1] == "add") users[args[2]] = {password, args[3] == "--admin"};
    if (args[0] == "user" && args[1] == "del") {
      users.erase(args[2]);
      std::erase_if(tokens, [&](const auto& t) { return t.second == args[2]; });
    }
    if (args[0] == "token" && args[1] == "add") {
      ASSERT_EQ(r.out.size(), 4u + 64 + 1) << line;
      printed.push_back(r.out.substr(0, r.out.size() - 1));
      tokens[printed.back()] = args[2];
      secrets.insert(printed.back());
    }
    if (args[0] == "token" && args[1] == "del") tokens.erase(args[2]);
    std::string list;
    for (const auto& [name, p] : users) {
      size_t n = 0;
      for (const auto& t : tokens) n += t.second == name;
      list += name + "\t" + (p.admin ? "admin" : "user") + "\t" + std::to_string(n) + "\n";
    }
    EXPECT_EQ(Vxhost({"user", "list", "--data", data}, "").out, list) << line;
  }

  const std::string file = TempDir::Read(data + "/users.json");
  nlohmann::json doc = nlohmann::json::parse(file);
  ASSERT_EQ(doc["users"].size(), users.size());
  for (const auto& u : doc["users"]) {
    const std::string name = u["name"], hash = u["hash"];
    EXPECT_EQ(hash.rfind("$y$", 0), 0u) << name;
    EXPECT_EQ(crypt(users.at(name).password.c_str(), hash.c_str()), hash) << name;
    EXPECT_EQ(u["admin"], users.at(name).admin) << name;
  }
  std::map<std::string, std::string> digests;
  for (const auto& t : doc["tokens"]) digests[t["sha256"]] = t["user"];
  std::map<std::string, std::string> expected;
  for (const auto& [token, user] : tokens) expected[Sha256(token)] = user;
  EXPECT_EQ(digests, expected);
  for (const std::string& s : secrets)
    if (s.size() > 1) {
      EXPECT_EQ(file.find(s), std::string::npos) << s;
    }
}

// The server's copy follows what another process did, once per change.
// The digests a thread remembers: secrets in one slot (the same last byte)
// that differ in one byte or in length, one too long to keep, asked in a
// random order, each get their own digest.
TEST(Users, RememberedDigestsAreEachSecretsOwn) {
  const std::string base(64, 'a');
  std::vector<std::string> secrets = {base, "b" + base.substr(1), base.substr(0, 31) + "b" + base.substr(32),
                                      base.substr(1), base + "a", std::string(200, 'a'), "", "vxt_" + base};
  std::mt19937 random(33);
  for (int i = 0; i < 200; ++i) {
    const std::string& s = secrets[random() % secrets.size()];
    EXPECT_EQ(serve::SecretDigest(s), Sha256(s)) << i << " " << s;
  }
}

TEST(Users, RefreshSeesChangesOfOtherProcesses) {
  TempDir dir;
  const std::string data = dir / "data";
  ASSERT_EQ(Vxhost({"user", "add", "ann", "--data", data}, "s3cret\n").status, 0);
  serve::Users users;
  std::string error, owner;
  ASSERT_TRUE(users.Open(data, &error)) << error;
  bool admin = true;
  EXPECT_TRUE(users.CheckPassword("ann", "s3cret", &admin));
  EXPECT_FALSE(admin);
  EXPECT_FALSE(users.CheckPassword("ann", "s3creT", &admin));
  EXPECT_FALSE(users.CheckPassword("nobody", "s3cret", &admin));
  EXPECT_FALSE(users.Refresh());
  Result token = Vxhost({"token", "add", "ann", "--data", data}, "");
  const std::string clear = token.out.substr(0, token.out.find('\n'));
  EXPECT_TRUE(users.Refresh());
  EXPECT_TRUE(users.CheckToken(clear, &owner, &admin));
  EXPECT_EQ(owner, "ann");
  EXPECT_FALSE(users.CheckToken(clear.substr(0, 67) + (clear[67] == '0' ? "1" : "0"), &owner, &admin));
  ASSERT_EQ(Vxhost({"user", "del", "ann", "--data", data}, "").status, 0);
  EXPECT_TRUE(users.Refresh());
  EXPECT_FALSE(users.CheckPassword("ann", "s3cret", &admin));
  EXPECT_FALSE(users.CheckToken(clear, &owner, &admin));
  EXPECT_EQ(users.Count(), 0u);
}

// A request learns of the editors' edits from their count, whatever the
// time since the last stat; an edit by hand waits for the next stat.
TEST(Users, EditsAreSeenByTheirCountAndHandEditsByTheStat) {
  TempDir dir;
  const std::string data = dir / "data";
  ASSERT_EQ(Vxhost({"user", "add", "ann", "--data", data}, "s3cret\n").status, 0);
  serve::Users counted, stated;
  std::string error;
  const int64_t day = 24 * 3600 * 1000;
  ASSERT_TRUE(counted.Open(data, &error, day)) << error;
  ASSERT_TRUE(stated.Open(data, &error, 0)) << error;
  ASSERT_EQ(Vxhost({"user", "del", "ann", "--data", data}, "").status, 0);
  EXPECT_TRUE(counted.Refresh());
  bool admin = false;
  EXPECT_FALSE(counted.CheckPassword("ann", "s3cret", &admin));
  EXPECT_TRUE(stated.Refresh());
  ASSERT_TRUE(std::filesystem::remove(data + "/users.json"));
  EXPECT_FALSE(counted.Refresh());
  EXPECT_TRUE(stated.Refresh());
}

// The server notices an edit by the file's inode, size and time; quick
// edits must never leave all three as they were, or an edit goes unseen.
TEST(Users, EveryEditMovesTheFileTime) {
  TempDir dir;
  std::string error, token;
  ASSERT_TRUE(serve::Users::AddUser(dir.Path(), "u", "p", false, &error)) << error;
  struct stat before {}, after {};
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(stat((dir / "users.json").c_str(), &before), 0);
    ASSERT_TRUE(serve::Users::AddToken(dir.Path(), "u", &token, &error)) << error;
    ASSERT_EQ(stat((dir / "users.json").c_str(), &after), 0);
    EXPECT_GT(after.st_mtim.tv_sec * 1000000000LL + after.st_mtim.tv_nsec,
              before.st_mtim.tv_sec * 1000000000LL + before.st_mtim.tv_nsec);
  }
}

// A damaged file is refused, by the server and by the editors, which
// leave it as it was instead of replacing it with what they understood.
TEST(Users, DamagedFilesAreRefusedAndKept) {
  for (const std::string bytes : {"{\"users\": [", "{\"users\": {}}",
                                  "{\"users\": [{\"name\": \"a\", \"hash\": \"$y$\", \"admin\": \"yes\"}]}",
                                  "{\"users\": [{\"name\": \"a/b\", \"hash\": \"$y$\"}]}",
                                  "{\"tokens\": [{\"sha256\": \"00\", \"user\": \"a\"}]}"}) {
    TempDir dir;
    dir.Write("users.json", bytes);
    serve::Users users;
    std::string error;
    EXPECT_FALSE(users.Open(dir.Path(), &error)) << bytes;
    EXPECT_FALSE(serve::Users::AddUser(dir.Path(), "b", "p", false, &error)) << bytes;
    EXPECT_EQ(TempDir::Read(dir / "users.json"), bytes);
  }
}

TEST(Users, FirstStartMakesAnAdministrator) {
  TempDir dir;
  std::string password, error;
  ASSERT_TRUE(serve::Users::EnsureAdmin(dir.Path(), &password, &error)) << error;
  EXPECT_EQ(password.size(), 20u);
  serve::Users users;
  ASSERT_TRUE(users.Open(dir.Path(), &error)) << error;
  bool admin = false;
  EXPECT_TRUE(users.CheckPassword("admin", password, &admin));
  EXPECT_TRUE(admin);
  EXPECT_FALSE(serve::Users::EnsureAdmin(dir.Path(), &password, &error));
  EXPECT_EQ(error, "");
}

TEST(Sessions, IdleSessionsEnd) {
  int64_t now = 0;
  serve::Sessions sessions(1, [&now] { return now; });
  // Idle sessions ahead of it, more than one call clears.
  for (int i = 0; i < 30; ++i) sessions.Create("other", false);
  std::string id = sessions.Create("ann", true);
  EXPECT_EQ(id.size(), 64u);
  serve::Session s;
  now = 60000;  // used just in time: the idle time starts again
  ASSERT_TRUE(sessions.Find(id, &s));
  EXPECT_EQ(s.user, "ann");
  EXPECT_TRUE(s.admin);
  EXPECT_EQ(s.csrf.size(), 64u);
  EXPECT_NE(s.csrf, id);
  now = 120000;
  EXPECT_TRUE(sessions.Find(id, &s));
  now = 180001;
  EXPECT_FALSE(sessions.Find(id, &s));
  EXPECT_FALSE(sessions.Find(id.substr(0, 63) + "x", &s));
}

// Each server ends the sessions of deleted users it holds, and their files
// on the folder, also those only another server holds.
TEST(Sessions, RemovedAndOrphanedSessionsEnd) {
  TempDir dir;
  serve::Sessions sessions(60, nullptr, dir.Path()), other(60, nullptr, dir.Path());
  std::string a = sessions.Create("ann", false), b = sessions.Create("bob", false);
  std::string c = sessions.Create("bob", false), elsewhere = other.Create("ann", false);
  sessions.Remove(c);
  serve::Session s;
  EXPECT_FALSE(sessions.Find(c, &s));
  sessions.RemoveMissingUsers([](const std::string& user) { return user != "ann"; });
  EXPECT_FALSE(sessions.Find(a, &s));
  EXPECT_TRUE(sessions.Find(b, &s));
  serve::Sessions fresh(60, nullptr, dir.Path());
  EXPECT_FALSE(fresh.Find(elsewhere, &s));
  EXPECT_FALSE(fresh.Find(c, &s));  // a logout's file is gone too
}

// Sessions nobody asks for again still go, a few with every call.
TEST(Sessions, ExpiredSessionsAreDroppedLazily) {
  int64_t now = 0;
  serve::Sessions sessions(1, [&now] { return now; });
  for (int i = 0; i < 50; ++i) sessions.Create("ann", false);
  now = 60001;
  serve::Session s;
  for (int i = 0; i < 50; ++i) sessions.Find("unknown", &s);
  EXPECT_EQ(sessions.Count(), 0u);
}

TEST(Sessions, ConcurrentUseIsSafe) {
  TempDir dir;
  for (const std::string& folder : {std::string(), dir.Path()}) {
    serve::Sessions sessions(60, nullptr, folder);
    const int rounds = folder.empty() ? 200 : 50;  // a file costs two fsyncs
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&sessions, rounds] {
        serve::Session s;
        for (int i = 0; i < rounds; ++i) {
          std::string id = sessions.Create("u", false);
          if (!sessions.Find(id, &s)) ADD_FAILURE() << "lost session";
          if (i % 2 == 0) sessions.Remove(id);
        }
      });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(sessions.Count(), static_cast<size_t>(2 * rounds)) << folder;
  }
}

TEST(LoginLimiter, TenFailuresAMinutePerAddressAndPerName) {
  int64_t now = 0;
  serve::LoginLimiter limiter([&now] { return now; });
  for (int i = 0; i < 10; ++i) {
    EXPECT_TRUE(limiter.Allowed("10.0.0.1", "ann")) << i;
    limiter.Failed("10.0.0.1", "user" + std::to_string(i));
    now += 1000;
  }
  EXPECT_FALSE(limiter.Allowed("10.0.0.1", "bob"));
  EXPECT_TRUE(limiter.Allowed("10.0.0.2", "bob"));
  for (int i = 0; i < 10; ++i) limiter.Failed("10.0.1." + std::to_string(i), "carl");
  EXPECT_FALSE(limiter.Allowed("10.0.0.3", "carl"));
  now = 60000;  // the first failure of 10.0.0.1 leaves the window
  EXPECT_TRUE(limiter.Allowed("10.0.0.1", "bob"));
  EXPECT_FALSE(limiter.Allowed("10.0.0.3", "carl"));
}

// Several servers on one data folder: one Sessions object each, on one
// sessions folder. A file is named by the id's SHA-256 (OpenSSL here).
TEST(Sessions, ServersOnOneFolderShareSessions) {
  TempDir dir;
  serve::Sessions one(60, nullptr, dir.Path()), two(60, nullptr, dir.Path());
  std::string id = one.Create("ann", true);
  EXPECT_TRUE(std::filesystem::exists(dir / Sha256(id)));
  serve::Session mine, theirs;
  ASSERT_TRUE(one.Find(id, &mine));
  ASSERT_TRUE(two.Find(id, &theirs));
  EXPECT_EQ(theirs.user, "ann");
  EXPECT_TRUE(theirs.admin);
  EXPECT_EQ(theirs.csrf, mine.csrf);
  // A logout on one; the other hears of it by the digest and forgets.
  std::string file = dir / Sha256(id), bytes;
  {
    std::ifstream in(file);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  one.Remove(id);
  two.Forget(Sha256(id));
  EXPECT_FALSE(one.Find(id, &theirs));
  EXPECT_FALSE(two.Find(id, &theirs));
  // A network file system's cache may show the removed file a while yet:
  // an ended session stays ended all the same.
  std::ofstream(file) << bytes;
  EXPECT_FALSE(two.Find(id, &theirs));
}

// A session used on one server only stays alive on the other, to the
// minute the file's time may lag; unused everywhere, it ends everywhere.
TEST(Sessions, UseOnAnotherServerCountsHere) {
  TempDir dir;
  const int64_t minute = 60000;
  int64_t now = 0;
  auto clock = [&now] { return now; };
  serve::Sessions one(60, clock, dir.Path()), two(60, clock, dir.Path());
  // Idle sessions ahead of it, more than one call clears: one still holds
  // it in memory, idle, when it is asked for again.
  for (int i = 0; i < 30; ++i) one.Create("other", false);
  std::string id = one.Create("ann", false);
  serve::Session s;
  now = 30 * minute;
  ASSERT_TRUE(two.Find(id, &s));
  now = 80 * minute;  // idle on one, used on two 50 minutes ago
  EXPECT_TRUE(one.Find(id, &s));
  now = 142 * minute;  // 62 minutes after the last use, on one
  EXPECT_FALSE(two.Find(id, &s));
  EXPECT_FALSE(one.Find(id, &s));
}

// Session files written by hand: the documented form is a session; a file
// cut short, garbage or naming an impossible user is none.
TEST(Sessions, DamagedFilesAreNoSession) {
  TempDir dir;
  serve::Sessions sessions(60, nullptr, dir.Path());
  const std::string csrf(64, 'c'), good = "vxsession 1\nuser ann\nadmin 1\ncsrf " + csrf + "\n";
  struct Case {
    const char* what;
    std::string text;
    bool live;
  } cases[] = {
      {"as documented", good, true},
      {"cut short", good.substr(0, good.size() - 1), false},
      {"empty", "", false},
      {"garbage", std::string("\0\xff\n\n\n\n", 6), false},
      {"a user name no account can have", "vxsession 1\nuser ../ann\nadmin 0\ncsrf " + csrf + "\n", false},
      {"a line more", good + "admin 1\n", false},
      {"a short form token", "vxsession 1\nuser ann\nadmin 0\ncsrf abc\n", false},
  };
  for (const Case& c : cases) {
    std::string id = std::string("id of ") + c.what;
    dir.Write(Sha256(id), c.text);
    serve::Session s;
    EXPECT_EQ(sessions.Find(id, &s), c.live) << c.what;
    if (c.live) {
      EXPECT_EQ(s.csrf, csrf);
    }
  }
}

TEST(Sessions, SweepRemovesIdleFilesOnly) {
  TempDir dir;
  const int64_t minute = 60000;
  int64_t now = 0;
  serve::Sessions sessions(60, [&now] { return now; }, dir.Path());
  std::string old = sessions.Create("ann", false);
  now = 30 * minute;
  std::string recent = sessions.Create("ann", false);
  now = 61 * minute + 1;  // the limit and the minute a file's time may lag
  EXPECT_EQ(sessions.SweepFiles(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir / Sha256(old)));
  EXPECT_TRUE(std::filesystem::exists(dir / Sha256(recent)));
}
