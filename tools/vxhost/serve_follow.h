// How the servers sharing a data folder see each other's changes: each
// follows the others' logs (<data>/logs/<instance>.log) for their sync
// entries, which name what changed, and reads the change from the folder.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_FOLLOW_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_FOLLOW_H_

#include <memory>
#include <string>
#include <vector>

namespace serve {

struct App;

// One thread that looks at the other servers' logs every kPollMs for new
// entries (one stat per log) and lists the logs folder every kListMs for
// servers that started since. It applies their sync entries (Apply) and
// shows their other entries on the live tail with their names.
//
// Thread rule: construct and destroy on one thread; Servers from any.
class Follower {
 public:
  static constexpr int kPollMs = 200;
  static constexpr int kListMs = 1000;

  // Notes where every other server's log ends now. Made before the store
  // reads the folder, so that a change made meanwhile is applied again,
  // never missed.
  explicit Follower(App& app);
  ~Follower();  // stops the thread
  Follower(const Follower&) = delete;
  Follower& operator=(const Follower&) = delete;

  void Start();
  // The names of the other servers whose logs are followed.
  std::vector<std::string> Servers() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> fImpl;
};

// Applies one sync entry of another server (see Announce): "doc KEY
// [TRASHPATH]", "text KEY", "thumb KEY", "session DIGEST", "shares". Unknown entries
// are passed over, so an older server reads a newer one's log.
void Apply(App& app, const std::string& event);

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_FOLLOW_H_
