// Event routing through the readiness thread, and streams over sockets.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/routing_internal.h"
#include "support/debug_capture.h"
#include "vxkernel/net/KISocket.h"
#include "vxkernel/net/KOSocket.h"
#include "vxkernel/net/KWSASocket.h"
#include "vxkernel/threads/KCondition.h"

namespace {

// Collects (socket, code) callbacks from the readiness thread.
class Events {
 public:
  static void Callback(KSocket* s, void* context, short code) {
    auto* self = static_cast<Events*>(context);
    KLockGuard g(self->fMutex);
    self->fSeen.emplace_back(s, code);
    self->fChanged.Broadcast();
  }
  // Waits (without limit) for the next event of s and returns its code.
  short Next(KSocket* s) {
    KLockGuard g(fMutex);
    for (;;) {
      for (auto it = fSeen.begin(); it != fSeen.end(); ++it) {
        if (it->first == s) {
          short code = it->second;
          fSeen.erase(it);
          return code;
        }
      }
      fChanged.Wait(fMutex);
    }
  }
  void Watch(KSocket& s) {
    s.Callback(&Events::Callback);
    s.Context(this);
  }

 private:
  KMutex fMutex;
  KCondition fChanged;
  std::vector<std::pair<KSocket*, short>> fSeen VXK_GUARDED_BY(fMutex);
};

// Hosts written before the codes had names compare with the numbers.
static_assert(KSocket::kAcceptEvent == 3);
static_assert(KSocket::kDataEvent == 0);

KWSASocket::Window Window() { return reinterpret_cast<KWSASocket::Window>(1); }

// Connects client to a new IPv4 server and accepts into accepted.
bool Connect(KWSASocket& server, KWSASocket& client, KWSASocket& accepted) {
  return server.OpenServer(0) && client.OpenClient("127.0.0.1", server.LocalPort()) &&
         server.Accept(&accepted);
}

// The key under which the readiness set reports s's events.
uint64_t RoutingKey(const KWSASocket* s) {
  KWSASocketRouting& r = KWSASocketRouting::Get();
  KLockGuard guard(r.fLock);
  for (uint32_t slot = 0; slot < KWSASocket::kMaxRouted; ++slot) {
    if (r.fEntries[slot].socket == s) return (uint64_t{r.fEntries[slot].generation} << 32) | slot;
  }
  ADD_FAILURE() << "not registered";
  return 0;
}

class SocketEvents : public testing::Test {
 protected:
  static void SetUpTestSuite() { KWSASocket::AllowAsync(&Window, 0x401); }
};

TEST_F(SocketEvents, AcceptReadAndCloseReachTheCallback) {
  Events events;
  KWSASocket server, client, accepted;
  events.Watch(server);
  events.Watch(accepted);
  client.Blocking(1);
  ASSERT_TRUE(server.OpenServer(0, KSocket::kIPv6));
  EXPECT_TRUE(server.IsRegistered());
  ASSERT_TRUE(client.OpenClient("::1", server.LocalPort()));

  EXPECT_EQ(events.Next(&server), KSocket::kAcceptEvent);
  ASSERT_TRUE(server.Accept(&accepted));
  EXPECT_TRUE(accepted.IsRegistered());
  char buffer[16];

  // A read that fills the buffer may leave data: the event comes again.
  ASSERT_EQ(client.Write("ping", 4), 4);
  EXPECT_EQ(events.Next(&accepted), KSocket::kDataEvent);
  EXPECT_EQ(accepted.Read(buffer, 2), 2);
  EXPECT_EQ(events.Next(&accepted), KSocket::kDataEvent);
  EXPECT_EQ(accepted.Read(buffer, sizeof buffer), 2);

  std::ostringstream unknown;
  unknown << "WmWinSockSelect...event=64 ( " << static_cast<void*>(&accepted) << " )\n";
  ExpectDebug({unknown.str()}, [&] {
    KWSASocket::WmWinSockSelect(static_cast<unsigned>(accepted.Handle()), 64);
  });

  client.Close();
  EXPECT_EQ(events.Next(&accepted), KSocket::kDataEvent);
  EXPECT_EQ(accepted.Read(buffer, sizeof buffer), -1);
  EXPECT_TRUE(accepted.IsEOF());
}

TEST_F(SocketEvents, EachAcceptReportsTheNextWaitingConnection) {
  Events events;
  KWSASocket server, first, second, firstIn, secondIn;
  for (KWSASocket* s : {&server, &first, &second}) s->Blocking(1);
  events.Watch(server);
  ASSERT_TRUE(server.OpenServer(0));
  ASSERT_TRUE(first.OpenClient("127.0.0.1", server.LocalPort()));
  ASSERT_TRUE(second.OpenClient("127.0.0.1", server.LocalPort()));
  server.Blocking(0);  // registered with both connections waiting: one event
  ASSERT_TRUE(server.IsRegistered());
  EXPECT_EQ(events.Next(&server), KSocket::kAcceptEvent);
  EXPECT_TRUE(server.Accept(&firstIn));
  EXPECT_EQ(events.Next(&server), KSocket::kAcceptEvent);
  EXPECT_TRUE(server.Accept(&secondIn));
}

TEST_F(SocketEvents, TableHoldsSixtyFourSockets) {
  Events events;  // outlives the sockets that call it
  std::vector<std::unique_ptr<KWSASocket>> sockets;
  DebugCapture capture;
  for (int i = 0; i <= KWSASocket::kMaxRouted; ++i) {
    sockets.push_back(std::make_unique<KWSASocket>());
    ASSERT_TRUE(sockets.back()->OpenServer(0));
  }
  for (int i = 0; i < KWSASocket::kMaxRouted; ++i) EXPECT_TRUE(sockets[i]->IsRegistered()) << i;
  KWSASocket& last = *sockets.back();
  EXPECT_FALSE(last.IsRegistered());
  EXPECT_NE(capture.All().find("KWSASocket::Register - routing table full"), std::string::npos);

  // A refused socket stays blocking and gets no callbacks; a freed entry
  // takes it when it is switched to non-blocking again. An event still
  // queued for the closed socket names its entry and generation: it must
  // not reach the new owner of the entry.
  const uint64_t staleKey = RoutingKey(sockets.front().get());
  sockets.front()->Close();
  last.Blocking(0);
  EXPECT_TRUE(last.IsRegistered());
  int delivered = 0;
  last.Callback([](KSocket*, void* count, short) { ++*static_cast<int*>(count); });
  last.Context(&delivered);
  KWSASocketRouting::Get().Route(staleKey, KWSASocket::kRead);
  EXPECT_EQ(delivered, 0);
  events.Watch(last);
  KWSASocket client;
  client.Blocking(1);
  ASSERT_TRUE(client.OpenClient("127.0.0.1", last.LocalPort()));
  EXPECT_EQ(events.Next(&last), KSocket::kAcceptEvent);
}

TEST_F(SocketEvents, FourMebibyteNonBlockingWriteArrivesWhole) {
  KWSASocket server, client, accepted;
  server.Blocking(1);
  accepted.Blocking(1);
  ASSERT_TRUE(Connect(server, client, accepted));
  ASSERT_TRUE(client.IsRegistered());

  std::string sent(4 << 20, '\0');
  std::mt19937 random(19);
  for (char& c : sent) c = static_cast<char>(random());
  std::string received;
  std::thread reader([&] {
    std::vector<char> buffer(65536);
    for (long n; (n = accepted.Read(buffer.data(), static_cast<long>(buffer.size()))) > 0;)
      received.append(buffer.data(), static_cast<size_t>(n));
  });
  EXPECT_EQ(client.Write(sent.data(), static_cast<long>(sent.size())),
            static_cast<long>(sent.size()));
  client.Close();
  reader.join();
  EXPECT_TRUE(received == sent) << received.size();
}

TEST_F(SocketEvents, StreamsOverASocket) {
  KWSASocket server, client, accepted;
  for (KWSASocket* s : {&server, &client, &accepted}) s->Blocking(1);
  ASSERT_TRUE(Connect(server, client, accepted));
  std::string big(100000, 'b');
  {
    KOSocket out(&client);
    out << "line one\n" << 42 << '\n' << big;
  }  // flushed at destruction
  client.Close();

  accepted.ReadTimeout(30000);  // blocking with a timeout: ReadWithTimeout
  KISocket in(&accepted);
  std::string line, rest;
  int number = 0;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "line one");
  in >> number >> rest;
  EXPECT_EQ(number, 42);
  EXPECT_TRUE(rest == big) << rest.size();
  EXPECT_TRUE(in.eof());
}

}  // namespace
