// Reading a server's address, and the one way of opening a connection: it
// opens, or says why not.

#include "server/server_connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/server_address.h"

namespace vaultwick {
namespace {

TEST(ServerAddressTest, PortComesFromHostOrDefaults) {
  auto plain = ParseServerAddress("db.example");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->host, "db.example");
  EXPECT_EQ(plain->port, 3306u);
  EXPECT_FALSE(plain->portGiven);
  auto withPort = ParseServerAddress("127.0.0.1:3307");
  ASSERT_TRUE(withPort);
  EXPECT_EQ(withPort->host, "127.0.0.1");
  EXPECT_EQ(withPort->port, 3307u);
  EXPECT_TRUE(withPort->portGiven);
  auto v6 = ParseServerAddress("[::1]:3307");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->host, "::1");
  EXPECT_EQ(v6->port, 3307u);
  EXPECT_TRUE(v6->portGiven);
  EXPECT_EQ(ParseServerAddress("[fe80::1]")->port, 3306u);
  EXPECT_FALSE(ParseServerAddress("[fe80::1]")->portGiven);
  EXPECT_EQ(ParseServerAddress("fe80::1")->host, "fe80::1");
  for (const char* bad : {"h:", "h:0", "h:65536", "h:33o6", "[::1", "[::1]3307", "[::1]:"}) {
    EXPECT_FALSE(ParseServerAddress(bad)) << bad;
  }
}

// A loopback port that takes connections (the kernel completes them) and
// never says a word, as a hung server does.
class SilentPort {
 public:
  SilentPort() : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(socket_, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(socket_, 4), 0);
    EXPECT_EQ(::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port_ = ntohs(address.sin_port);
  }
  ~SilentPort() { ::close(socket_); }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int socket_;
  unsigned port_ = 0;
};

TEST(ServerConnectionTest, SaysWhyItDidNotOpen) {
  ServerLogin login;
  login.host = "[::1";
  ServerConnection bad(StopToken::Never());
  EXPECT_EQ(bad.Open(login), ServerConnection::Opened::BadAddress);
  EXPECT_EQ(bad.Error(), "Not a server address: \"[::1\"");
  EXPECT_EQ(bad.get(), nullptr);

  login.host = "127.0.0.1:1";  // nothing listens there
  ServerConnection refused(StopToken::Never());
  EXPECT_EQ(refused.Open(login), ServerConnection::Opened::Refused);
  EXPECT_NE(refused.Error(), "");
  EXPECT_EQ(refused.get(), nullptr);

  // The server has not answered yet when the stop is first looked at.
  SilentPort silent;
  login.host = silent.Host();
  const StopToken stop;
  stop.RequestStop();
  ServerConnection stopped(stop);
  EXPECT_EQ(stopped.Open(login), ServerConnection::Opened::Stopped);
  EXPECT_EQ(stopped.Error(), kTextStoppedOnRequest);
  EXPECT_EQ(stopped.get(), nullptr);
}

}  // namespace
}  // namespace vaultwick
