// Blocking and non-blocking sockets on loopback, without event routing.
#include "vxkernel/net/KWSASocket.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <string>

#include "support/debug_capture.h"
#include "vxkernel/threads/KTimestamp.h"

namespace {

// A connected pair through a server of the given family: server side in
// fAccepted, client side in fClient.
struct Pair {
  KWSASocket fServer, fClient, fAccepted;
  bool Connect(KSocket::FamilyHint hint, const char* loopback) {
    for (KWSASocket* s : {&fServer, &fClient, &fAccepted}) s->Blocking(1);
    return fServer.OpenServer(0, hint) && fClient.OpenClient(loopback, fServer.LocalPort()) &&
           fServer.Accept(&fAccepted);
  }
};

// The resolver's own answer, as an independent oracle for GetAddrByName.
std::string Resolve(const char* host, bool all, char separator) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &list) != 0) return "";
  std::string out;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    char text[NI_MAXHOST];
    getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    if (!out.empty()) out += separator;
    out += text;
    if (!all) break;
  }
  freeaddrinfo(list);
  return out;
}

class Loopback : public testing::TestWithParam<std::tuple<KSocket::FamilyHint, const char*>> {};

TEST_P(Loopback, TextPeerNonBlockingAndEndOfStream) {
  auto [hint, loopback] = GetParam();
  Pair p;
  ASSERT_TRUE(p.Connect(hint, loopback));
  EXPECT_TRUE(p.fServer.Server());
  EXPECT_FALSE(p.fAccepted.Server());

  // Size -1: the text up to its zero, not the zero itself.
  EXPECT_EQ(p.fClient.Write("hello\0tail", -1), 5);
  char buffer[16] = {};
  EXPECT_EQ(p.fAccepted.Read(buffer, sizeof buffer), 5);
  EXPECT_STREQ(buffer, "hello");

  // A time limit without data: 0 after at least that long, not the end.
  KTimestamp start;
  EXPECT_EQ(p.fAccepted.ReadWithTimeout(buffer, sizeof buffer, 300), 0);
  EXPECT_GE((KTimestamp() - start).Duration(), 0.29);

  KSocket::PeerInfo seenByServer{}, seenByClient{};
  ASSERT_TRUE(p.fAccepted.GetPeerInfo(seenByServer));
  ASSERT_TRUE(p.fClient.GetPeerInfo(seenByClient));
  EXPECT_STREQ(seenByServer.fAddress, loopback);
  EXPECT_EQ(seenByServer.fPort, p.fClient.LocalPort());
  EXPECT_EQ(seenByClient.fPort, p.fServer.LocalPort());

  // Non-blocking: no data reads as 0 and is not the end.
  p.fAccepted.Blocking(0);
  EXPECT_EQ(p.fAccepted.Read(buffer, sizeof buffer), 0);
  EXPECT_FALSE(p.fAccepted.IsEOF());

  // After the peer closes: -1 and end of file, which stays.
  ASSERT_TRUE(p.fClient.Close());
  EXPECT_FALSE(p.fClient.Close());
  EXPECT_EQ(p.fAccepted.ReadWithTimeout(buffer, sizeof buffer, 60000), -1);
  EXPECT_TRUE(p.fAccepted.IsEOF());

  // Writing to the closed peer: the first writes may be taken, the reset
  // makes a later one fail; SIGPIPE (which ends the process) never comes.
  long result = 0;
  for (int i = 0; i < 1000000 && result >= 0; ++i) result = p.fAccepted.Write("x", 1);
  EXPECT_EQ(result, -1);
}

INSTANTIATE_TEST_SUITE_P(Families, Loopback,
                         testing::Values(std::make_tuple(KSocket::kIPv4, "127.0.0.1"),
                                         std::make_tuple(KSocket::kIPv6, "::1")));

TEST(KWSASocket, NamesAgreeWithTheResolverAndFailuresAreLogged) {
  KWSASocket s;
  EXPECT_EQ(std::string(s.GetAddrByName("localhost", 1, ',')), Resolve("localhost", true, ','));
  EXPECT_EQ(std::string(s.GetAddrByName("localhost", 0, ',')), Resolve("localhost", false, ','));
  EXPECT_NE(std::string(s.GetAddrByName("localhost", 1, ',')).find("127.0.0.1"), std::string::npos);

  DebugCapture capture;
  EXPECT_FALSE(s.OpenServiceAsServer("no-such-service-name", KSocket::kIPv4));
  std::string all = capture.All();
  EXPECT_EQ(all.rfind("KWSASocket::OpenServiceAsServer getaddrinfo: ", 0), 0u) << all;
  EXPECT_NE(all.find(" for service no-such-service-name\n"), std::string::npos) << all;
  EXPECT_FALSE(s.IsOpen());
}

}  // namespace
