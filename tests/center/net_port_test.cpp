// What the core relies on from the socket and address-table ports, checked
// on the platform's own adapters: the host emulation here, real Winsock and
// "inetmib1.dll" under Wine. Sockets only on 127.0.0.1.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "center/ip_address_table.h"
#include "center/search_agent.h"
#include "tests/center/net_test_platform.h"

namespace qel {
namespace {

class NetPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(Sockets().WSAStartup(MAKEWORD(2, 2), &data), 0);
  }
  void TearDown() override { Sockets().WSACleanup(); }

  SOCKET BoundSocket(WORD port) {
    SOCKET s = Sockets().socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = Sockets().inet_addr("127.0.0.1");
    a.sin_port = Sockets().htons(port);
    EXPECT_EQ(Sockets().bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return s;
  }
  sockaddr_in NameOf(SOCKET s) {
    sockaddr_in a;
    int length = sizeof a;
    EXPECT_EQ(Sockets().getsockname(s, reinterpret_cast<sockaddr*>(&a), &length), 0);
    return a;
  }

  test::NetTestPlatform platform_;
};

TEST_F(NetPortTest, StartupGivesTheVersionAskedForUpToTwoTwo) {
  WSADATA data;
  ASSERT_EQ(Sockets().WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
  Sockets().WSACleanup();
  ASSERT_EQ(Sockets().WSAStartup(MAKEWORD(3, 0), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
  Sockets().WSACleanup();
  EXPECT_TRUE(WinsockStartup(2, 2));
  Sockets().WSACleanup();
  EXPECT_FALSE(WinsockStartup(3, 0));
}

TEST_F(NetPortTest, AddressTexts) {
  ISocketPort& net = Sockets();
  EXPECT_EQ(net.inet_addr(""), INADDR_NONE);
  EXPECT_EQ(net.inet_addr("not an address"), INADDR_NONE);
  EXPECT_EQ(net.inet_addr("255.255.255.255"), INADDR_NONE);
  EXPECT_EQ(net.inet_addr("1.2.3.256"), INADDR_NONE);
  ULONG a = net.inet_addr("192.168.1.10");
  const BYTE* b = reinterpret_cast<const BYTE*>(&a);
  EXPECT_EQ(b[0], 192);
  EXPECT_EQ(b[3], 10);
  in_addr address;
  address.s_addr = a;
  EXPECT_STREQ(net.inet_ntoa(address), "192.168.1.10");
  EXPECT_EQ(net.ntohs(net.htons(7273)), 7273);
  const BYTE* port = nullptr;
  WORD p = net.htons(0x1C69);
  port = reinterpret_cast<const BYTE*>(&p);
  EXPECT_EQ(port[0], 0x1C);
}

TEST_F(NetPortTest, BindToNoneOrForeignAddressFails) {
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine accepts binds to addresses of no interface";
  ISocketPort& net = Sockets();
  std::string foreign = test::ForeignAddress();
  for (const char* text : {"", foreign.c_str()}) {
    SCOPED_TRACE(text);
    SOCKET s = net.socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = net.inet_addr(text);
    EXPECT_EQ(net.bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(net.WSAGetLastError(), WSAEADDRNOTAVAIL);
    net.closesocket(s);
  }
}

TEST_F(NetPortTest, EventSelectedReceive) {
  ISocketPort& net = Sockets();
  SOCKET receiver = BoundSocket(0);
  SOCKET sender = BoundSocket(0);
  sockaddr_in to = NameOf(receiver);
  WSAEVENT event = net.CreateEventA(FALSE, FALSE, nullptr);
  ASSERT_NE(event, WSA_INVALID_EVENT);
  ASSERT_EQ(net.WSAEventSelect(receiver, event, FD_READ), 0);
  // Nothing yet: the wait times out with 258.
  EXPECT_EQ(net.WSAWaitForMultipleEvents(1, &event, TRUE, 30, TRUE), WSA_WAIT_TIMEOUT);
  ASSERT_EQ(net.sendto(sender, "hello", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 5);
  EXPECT_EQ(net.WSAWaitForMultipleEvents(1, &event, TRUE, 2000, TRUE), WSA_WAIT_EVENT_0);
  WSANETWORKEVENTS events;
  ASSERT_EQ(net.WSAEnumNetworkEvents(receiver, event, &events), 0);
  EXPECT_TRUE(events.lNetworkEvents & FD_READ);
  EXPECT_EQ(events.iErrorCode[FD_READ_BIT], 0);
  ASSERT_EQ(net.WSAEventSelect(receiver, nullptr, 0), 0);
  char buffer[16] = {};
  WSABUF part = {sizeof buffer, buffer};
  DWORD received = 0, flags = 0;
  sockaddr_in from;
  int fromLength = sizeof from;
  ASSERT_EQ(net.WSARecvFrom(receiver, &part, 1, &received, &flags, reinterpret_cast<sockaddr*>(&from), &fromLength),
            0);
  EXPECT_EQ(received, 5u);
  EXPECT_EQ(std::string(buffer, received), "hello");
  EXPECT_EQ(from.sin_port, NameOf(sender).sin_port);
  EXPECT_STREQ(net.inet_ntoa(from.sin_addr), "127.0.0.1");
  // The socket stays non-blocking after the selection ends.
  EXPECT_EQ(net.WSARecvFrom(receiver, &part, 1, &received, &flags, reinterpret_cast<sockaddr*>(&from), &fromLength),
            SOCKET_ERROR);
  EXPECT_EQ(net.WSAGetLastError(), WSAEWOULDBLOCK);
  net.CloseHandle(event);
  net.closesocket(receiver);
  net.closesocket(sender);
}

TEST_F(NetPortTest, DatagramLongerThanTheBufferFails) {
  ISocketPort& net = Sockets();
  SOCKET receiver = BoundSocket(0);
  SOCKET sender = BoundSocket(0);
  sockaddr_in to = NameOf(receiver);
  std::string big(150, 'x');
  ASSERT_EQ(net.sendto(sender, big.data(), 150, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 150);
  WSAEVENT event = net.CreateEventA(FALSE, FALSE, nullptr);
  net.WSAEventSelect(receiver, event, FD_READ);
  ASSERT_EQ(net.WSAWaitForMultipleEvents(1, &event, TRUE, 2000, TRUE), WSA_WAIT_EVENT_0);
  net.WSAEventSelect(receiver, nullptr, 0);
  char buffer[100];
  WSABUF part = {sizeof buffer, buffer};
  DWORD received = 0, flags = 0;
  sockaddr_in from;
  int fromLength = sizeof from;
  EXPECT_EQ(net.WSARecvFrom(receiver, &part, 1, &received, &flags, reinterpret_cast<sockaddr*>(&from), &fromLength),
            SOCKET_ERROR);
  EXPECT_EQ(net.WSAGetLastError(), WSAEMSGSIZE);
  net.CloseHandle(event);
  net.closesocket(receiver);
  net.closesocket(sender);
}

TEST_F(NetPortTest, HostAddressesAreListed) {
  std::vector<std::string> list;
  ASSERT_TRUE(GetHostAddresses(list));
  ASSERT_FALSE(list.empty());
  for (const std::string& a : list) EXPECT_NE(Sockets().inet_addr(a.c_str()), INADDR_NONE) << a;
}

TEST_F(NetPortTest, SystemAgentListsLoopbackWithoutAMask) {
  CIpAddressTable table;
  ASSERT_TRUE(table.Refresh());
  ASSERT_GT(table.GetCount(), 0u);
  EXPECT_GE(table.FindAddress("127.0.0.1", false), 0);
  ULONG mask = 1;
  EXPECT_FALSE(table.GetNetMask("127.0.0.1", &mask));
  EXPECT_EQ(table.GetBroadcastAddress("127.0.0.1"), INADDR_BROADCAST);
}

}  // namespace
}  // namespace qel
