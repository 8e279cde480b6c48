// Runs a piece of a test in a forked child, for process-global state that a
// test may change only once per process (the rings' "too late" flag, say).
#ifndef VXKERNEL_TESTS_SUPPORT_CHILD_PROCESS_H_
#define VXKERNEL_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>

// Kills pid with SIGKILL and reaps it; true when the signal ended it (false:
// it had already ended on its own, which a kill test counts as a failure).
inline bool KillAndReap(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status);
}

struct ChildResult {
  int status = -1;     // exit code, or -1 when the child did not exit normally
  std::string output;  // what the body put into its out string
};

// Forks; the child runs body(out), sends out back through a pipe and exits
// with 0. gtest assertions inside the child do not reach the parent: return
// what is to be checked in out, or call _exit with a non-zero code.
inline ChildResult RunInChild(const std::function<void(std::string& out)>& body) {
  ChildResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    close(fds[0]);
    std::string out;
    body(out);
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) _exit(3);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) result.output.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// What a child reports, one line per observation, so that the parent
// compares one transcript instead of picking fields apart:
//   RunInChild([](std::string& out) {
//     Transcript t(out);
//     t.Line("path ", err_properties_path());
//   });
class Transcript {
 public:
  explicit Transcript(std::string& out) : fOut(out) {}
  // Appends the parts, as a stream prints them, and a line end.
  template <class... Parts>
  void Line(const Parts&... parts) {
    std::ostringstream s;
    (s << ... << parts);
    fOut += s.str();
    fOut += '\n';
  }

 private:
  std::string& fOut;
};

// Runs body in a child with a transcript of its own and returns what it
// reported, followed by "[exit N]" when the child did not exit with 0, so a
// test compares one string:
//   EXPECT_EQ(ChildTranscript([](Transcript& t) { t.Line("path ", err_properties_path()); }),
//             "path \n");
inline std::string ChildTranscript(const std::function<void(Transcript&)>& body) {
  ChildResult r = RunInChild([&](std::string& out) {
    Transcript transcript(out);
    body(transcript);
  });
  return r.status == 0 ? r.output : r.output + "[exit " + std::to_string(r.status) + "]";
}

#endif  // VXKERNEL_TESTS_SUPPORT_CHILD_PROCESS_H_
