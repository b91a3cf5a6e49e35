// The probe over a fake socket port: destinations, order of sends, the
// shared socket address, failures and trace texts. Nothing leaves the
// machine; the fake only records.
#include "center/search_agent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "center/mib_agent.h"
#include "tests/center/net_test_platform.h"
#include "tests/fakes/fake_net.h"

namespace qel {
namespace {

using test::FakeMibAgent;
using test::FakeSockets;

std::vector<std::string>* g_trace = nullptr;
void CollectTrace(const char* text) { g_trace->push_back(text); }

class SearchAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Ports().sockets = &sockets_;
    Ports().addressTable = &agent_;
    CMibAgent::DestroyInstance();
    SetSearchTimingForTest(0, 1000);
    g_trace = &trace_;
    QelSetLastError(0);
  }
  void TearDown() override {
    CMibAgent::DestroyInstance();
    ResetSearchTiming();
    g_trace = nullptr;
  }

  std::vector<WORD> SentPorts() const {
    std::vector<WORD> ports;
    for (const auto& d : sockets_.Sent()) ports.push_back(d.port);
    return ports;
  }

  test::NetTestPlatform platform_;
  FakeSockets sockets_;
  FakeMibAgent agent_;
  std::vector<std::string> trace_;
};

const std::vector<WORD> kAllPorts = {7273, 7274, 7275, 7276, 7277, 7278, 7279, 7280, 7281, 7282};

TEST_F(SearchAgentTest, UnicastWithoutAnswerSendsTenKeywordsInPortOrder) {
  CSearchAgent search;
  EXPECT_FALSE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_BIND_LOCAL | SEARCH_UNICAST, false));
  EXPECT_EQ(SentPorts(), kAllPorts);
  for (const auto& d : sockets_.Sent()) {
    EXPECT_EQ(d.address, "10.0.0.9");
    EXPECT_EQ(d.payload, "OrvaneSearchAgentPos");  // 20 bytes, no terminator
  }
  // One wait of the full second per attempt; no broadcast permission.
  EXPECT_EQ(sockets_.Waits(), std::vector<DWORD>(10, 1000u));
  EXPECT_FALSE(sockets_.broadcastEnabled());
  EXPECT_EQ(sockets_.boundAddress(), "10.0.0.2");
  EXPECT_EQ(sockets_.OpenSockets(), 0);
  EXPECT_EQ(sockets_.OpenEvents(), 0);
  EXPECT_STREQ(search.GetCenterAddress(), "");
  EXPECT_EQ(search.GetCenterPort(), 0);
}

TEST_F(SearchAgentTest, DefaultTimingIsTenMillisecondsAndOneSecond) {
  ResetSearchTiming();
  CSearchAgent search;
  search.Search("10.0.0.2", "10.0.0.9", SEARCH_BIND_LOCAL | SEARCH_UNICAST, false);
  EXPECT_EQ(sockets_.Waits(), std::vector<DWORD>(10, 1000u));
}

TEST_F(SearchAgentTest, ValidReplyToThirdDatagramEndsTheProbe) {
  sockets_.QueueReply(3, "OrvaneSearchAgentPos|10.1.2.3|7999", "10.0.0.9", 7275);
  CSearchAgent search;
  ASSERT_TRUE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_BIND_LOCAL | SEARCH_UNICAST, false));
  EXPECT_EQ(SentPorts(), (std::vector<WORD>{7273, 7274, 7275}));
  EXPECT_STREQ(search.GetCenterAddress(), "10.1.2.3");
  EXPECT_EQ(search.GetCenterPort(), 7999);
  EXPECT_STREQ(search.GetCenterAddress2(), "10.1.2.3");
  EXPECT_EQ(search.GetCenterPort2(), 7999);
  EXPECT_STREQ(search.GetReplyAddress(), "10.0.0.9");
  // The source port as it stood in the socket address: network order.
  EXPECT_EQ(search.GetReplyPort(), sockets_.htons(7275));
}

TEST_F(SearchAgentTest, InvalidRepliesAreSkipped) {
  // No second "|"; wrong keyword; a 20-character center address.
  sockets_.QueueReply(1, "OrvaneSearchAgentPos|10.1.2.3", "10.0.0.9", 7273);
  sockets_.QueueReply(2, "OrvaneSearchAgentXXX|10.1.2.3|1", "10.0.0.9", 7274);
  sockets_.QueueReply(3, "OrvaneSearchAgentPos|12345678901234567890|1", "10.0.0.9", 7275);
  sockets_.QueueReply(4, "OrvaneSearchAgentPos|10.1.2.4|7273", "10.0.0.9", 7276);
  CSearchAgent search;
  ASSERT_TRUE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_BIND_LOCAL | SEARCH_UNICAST, false));
  EXPECT_EQ(sockets_.Sent().size(), 4u);
  EXPECT_STREQ(search.GetCenterAddress(), "10.1.2.4");
}

TEST_F(SearchAgentTest, PortIsKeptToSixteenBits) {
  sockets_.QueueReply(1, "OrvaneSearchAgentPos|10.1.2.3|70000", "10.0.0.9", 7273);
  CSearchAgent search;
  ASSERT_TRUE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_UNICAST, false));
  EXPECT_EQ(search.GetCenterPort(), 4464);
}

TEST_F(SearchAgentTest, LaterSendsGoToTheSenderOfAnAnswer) {
  // An invalid answer from elsewhere takes over the shared socket address.
  sockets_.QueueReply(1, "garbage", "10.7.7.7", 9999);
  CSearchAgent search;
  EXPECT_FALSE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_BIND_LOCAL | SEARCH_UNICAST, false));
  ASSERT_EQ(sockets_.Sent().size(), 10u);
  EXPECT_EQ(sockets_.Sent()[0].address, "10.0.0.9");
  EXPECT_EQ(sockets_.Sent()[1].address, "10.7.7.7");
  EXPECT_EQ(sockets_.Sent()[1].port, 7274);
}

TEST_F(SearchAgentTest, ReplyFieldsKeepTheLastSuccess) {
  sockets_.QueueReply(1, "OrvaneSearchAgentPos|10.1.2.3|7273", "10.0.0.9", 7273);
  CSearchAgent search;
  ASSERT_TRUE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_UNICAST, false));
  EXPECT_FALSE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_UNICAST, false));
  EXPECT_STREQ(search.GetCenterAddress(), "10.1.2.3");
}

TEST_F(SearchAgentTest, SetupFailuresReturnFalseWithoutSending) {
  struct Case {
    const char* operation;
    DWORD flags;
  };
  for (const Case& c : {Case{"socket", SEARCH_BIND_LOCAL | SEARCH_UNICAST}, Case{"setsockopt", SEARCH_BIND_LOCAL},
                        Case{"bind", SEARCH_BIND_LOCAL | SEARCH_UNICAST},
                        Case{"getsockname", SEARCH_BIND_LOCAL | SEARCH_UNICAST}}) {
    SCOPED_TRACE(c.operation);
    FakeSockets sockets;
    Ports().sockets = &sockets;
    sockets.plan().Fail(c.operation, WSAEADDRNOTAVAIL);
    {
      CSearchAgent search;
      EXPECT_FALSE(search.Search("10.0.0.2", "10.0.0.9", c.flags, false));
    }
    EXPECT_TRUE(sockets.Sent().empty());
    EXPECT_EQ(sockets.OpenSockets(), 0);
    EXPECT_EQ(sockets.References(), 0);
    Ports().sockets = &sockets_;
  }
}

TEST_F(SearchAgentTest, LocalTextThatIsNoAddressMakesTheBindFail) {
  CSearchAgent search;
  EXPECT_FALSE(search.Search("not an address", "10.0.0.9", SEARCH_BIND_LOCAL | SEARCH_UNICAST, false));
  EXPECT_FALSE(search.Search("", "10.0.0.9", SEARCH_BIND_LOCAL | SEARCH_UNICAST, false));
  EXPECT_TRUE(sockets_.Sent().empty());
}

TEST_F(SearchAgentTest, FailedSendIsTracedAndTheProbeGoesOn) {
  sockets_.plan().Fail("sendto", WSAENETUNREACH, 2);
  CSearchAgent search;
  search.TraceSink = CollectTrace;
  EXPECT_FALSE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_BIND_LOCAL | SEARCH_UNICAST, false));
  EXPECT_EQ(sockets_.Sent().size(), 10u);
  ASSERT_FALSE(trace_.empty());
  EXPECT_EQ(trace_[0], "  >>0: Send UDP to 10.0.0.9:7273 , return=-1(Error Code=10051)");
}

TEST_F(SearchAgentTest, BroadcastWithoutBindGoesToAllOnes) {
  agent_.AddRow("192.168.1.10", "255.255.255.0");
  CSearchAgent search;
  EXPECT_FALSE(search.Search("192.168.1.10", "10.0.0.9", 0, false));
  ASSERT_EQ(sockets_.Sent().size(), 10u);
  for (const auto& d : sockets_.Sent()) EXPECT_EQ(d.address, "255.255.255.255");
  EXPECT_EQ(SentPorts(), kAllPorts);
  EXPECT_TRUE(sockets_.broadcastEnabled());
  EXPECT_FALSE(sockets_.bound());
  // Two waits: after the first datagram, and after the other nine.
  EXPECT_EQ(sockets_.Waits().size(), 2u);
}

TEST_F(SearchAgentTest, BroadcastFromAddressOutsideTheTableGoesToAllOnes) {
  agent_.AddRow("192.168.1.10", "255.255.255.0");
  CSearchAgent search;
  EXPECT_FALSE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_BIND_LOCAL, false));
  ASSERT_FALSE(sockets_.Sent().empty());
  EXPECT_EQ(sockets_.Sent()[0].address, "255.255.255.255");
}

TEST_F(SearchAgentTest, BroadcastFromTableAddressGoesToItsSubnet) {
  agent_.AddRow("127.0.0.1", "255.0.0.0");
  agent_.AddRow("192.168.1.10", "255.255.255.0");
  CSearchAgent search;
  EXPECT_FALSE(search.Search("192.168.1.10", "10.0.0.9", SEARCH_BIND_LOCAL, false));
  ASSERT_EQ(sockets_.Sent().size(), 10u);
  EXPECT_EQ(sockets_.Sent()[0].address, "192.168.1.255");
  EXPECT_EQ(sockets_.Sent()[9].address, "192.168.1.255");
}

TEST_F(SearchAgentTest, LimitedBroadcastIgnoresTheSubnet) {
  agent_.AddRow("192.168.1.10", "255.255.255.0");
  CSearchAgent search;
  EXPECT_FALSE(search.Search("192.168.1.10", "10.0.0.9", SEARCH_BIND_LOCAL, true));
  ASSERT_FALSE(sockets_.Sent().empty());
  EXPECT_EQ(sockets_.Sent()[0].address, "255.255.255.255");
}

TEST_F(SearchAgentTest, BroadcastAnswerAfterTheNineSends) {
  sockets_.QueueReply(10, "OrvaneSearchAgentPos;x|10.1.2.3|7280", "10.0.0.77", 7280);
  CSearchAgent search;
  search.TraceSink = CollectTrace;
  ASSERT_TRUE(search.Search("10.0.0.2", nullptr, 0, true));
  EXPECT_STREQ(search.GetCenterAddress(), "10.1.2.3");
  EXPECT_STREQ(search.GetReplyAddress(), "10.0.0.77");
  // The last wait is traced with the answering host's port, in host order.
  ASSERT_GE(trace_.size(), 2u);
  EXPECT_EQ(trace_.back(), "    >>recvfrom 10.0.0.77:7280 , return=36(Error Code = 0)");
}

TEST_F(SearchAgentTest, TraceTextsOfOneAttempt) {
  sockets_.QueueReply(1, "OrvaneSearchAgentPos|10.1.2.3|7273", "10.0.0.9", 7273);
  CSearchAgent search;
  search.TraceSink = CollectTrace;
  ASSERT_TRUE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_UNICAST, false));
  EXPECT_EQ(trace_, (std::vector<std::string>{
                        "  >>0: Send UDP to 10.0.0.9:7273 , return=20(Error Code=0)",
                        "    >>[INFO] WSARecvFrom: OrvaneSearchAgentPos|10.1.2.3|7273, return=0, error code:0",
                        "    >>recvfrom 10.0.0.9:7273 , return=34(Error Code = 0)",
                    }));
}

TEST_F(SearchAgentTest, ReceiveFailuresAreTracedAndCloseTheEvent) {
  struct Case {
    const char* operation;
    DWORD error;
    const char* text;
  };
  for (const Case& c : {
           Case{"WSAEventSelect", WSAENOTSOCK, "    >>[ERR] WSAEventSelect: Error Code:10038"},
           Case{"WSAWaitForMultipleEvents", WSA_INVALID_HANDLE,
                "    >>[ERR] WSAWaitForMultipleEvents:-1, error code:6"},
           Case{"WSAEnumNetworkEvents", WSAENETDOWN, "    >>[ERR] WSAEnumNetworkEvents: Error Code:10050"},
           Case{"FD_READ", WSAECONNRESET, "    >>[ERR] NetEvent.iErrorCode[FD_READ_BIT] !=0 "},
       }) {
    SCOPED_TRACE(c.operation);
    FakeSockets sockets;
    Ports().sockets = &sockets;
    sockets.QueueReply(0, "OrvaneSearchAgentPos|10.1.2.3|7273", "10.0.0.9", 7273);
    sockets.plan().Fail(c.operation, c.error);
    trace_.clear();
    CSearchAgent search;
    search.TraceSink = CollectTrace;
    char buffer[101] = {};
    sockaddr_in from = {};
    int length = sizeof from;
    SOCKET s = sockets.socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(search.ReceiveWithTimeout(s, reinterpret_cast<sockaddr*>(&from), &length, buffer, 100, 50), -1);
    EXPECT_EQ(trace_, std::vector<std::string>{c.text});
    EXPECT_EQ(sockets.OpenEvents(), 0);
    Ports().sockets = &sockets_;
  }
}

TEST_F(SearchAgentTest, TimeOutIsTracedWithCode258) {
  CSearchAgent search;
  search.TraceSink = CollectTrace;
  EXPECT_FALSE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_UNICAST, false));
  ASSERT_GE(trace_.size(), 3u);
  EXPECT_EQ(trace_[1], "    >>[ERR] WSAWaitForMultipleEvents:258, error code:0");
  EXPECT_EQ(trace_[2], "    >>recvfrom 10.0.0.9:7273 , return=-1(Error Code = 0)");
}

TEST_F(SearchAgentTest, AnswerLongerThanOneHundredBytesIsNotValid) {
  std::string longAnswer = "OrvaneSearchAgentPos|10.1.2.3|7273" + std::string(80, ' ');
  sockets_.QueueReply(1, longAnswer, "10.0.0.9", 7273);
  CSearchAgent search;
  EXPECT_FALSE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_UNICAST, false));
}

TEST_F(SearchAgentTest, AnswerOfExactlyOneHundredBytesIsRead) {
  std::string answer = "OrvaneSearchAgentPos|10.1.2.3|7273";
  answer += std::string(100 - answer.size(), 'x');
  sockets_.QueueReply(1, answer, "10.0.0.9", 7273);
  CSearchAgent search;
  ASSERT_TRUE(search.Search("10.0.0.2", "10.0.0.9", SEARCH_UNICAST, false));
  EXPECT_EQ(search.GetCenterPort(), 7273);
}

// --- Winsock start-up and clean-up balance ------------------------------------

TEST(WinsockStartupTest, OnlyTheExactVersionCounts) {
  test::ScopedPorts saved;
  FakeSockets sockets;
  Ports().sockets = &sockets;
  EXPECT_TRUE(WinsockStartup(2, 2));
  EXPECT_EQ(sockets.References(), 1);
  sockets.SetHighestVersion(MAKEWORD(1, 1));
  EXPECT_FALSE(WinsockStartup(2, 2));  // obtained 1.1, cleaned up again
  EXPECT_EQ(sockets.References(), 1);
  sockets.plan().Fail("WSAStartup", WSASYSNOTREADY);
  EXPECT_FALSE(WinsockStartup(2, 2));
  EXPECT_EQ(sockets.References(), 1);
}

TEST(WinsockStartupTest, AgentCleansUpOnlyWhatItStarted) {
  test::ScopedPorts saved;
  FakeSockets sockets;
  Ports().sockets = &sockets;
  WSADATA data;
  sockets.WSAStartup(MAKEWORD(1, 1), &data);  // another user's reference
  sockets.plan().Fail("WSAStartup", WSASYSNOTREADY);
  { CSearchAgent search; }
  EXPECT_EQ(sockets.References(), 1);
  sockets.plan().Clear();
  { CSearchAgent search; }
  EXPECT_EQ(sockets.References(), 1);
  EXPECT_EQ(sockets.Cleanups(), 1);
}

// --- Host addresses ---------------------------------------------------------------

TEST(GetHostAddressesTest, ListsAddressesInLookupOrder) {
  test::ScopedPorts saved;
  FakeSockets sockets;
  Ports().sockets = &sockets;
  sockets.SetHostAddresses({"10.0.0.2", "127.0.0.1", "192.168.5.1"});
  std::vector<std::string> list = {"stale"};
  EXPECT_TRUE(GetHostAddresses(list));
  EXPECT_EQ(list, (std::vector<std::string>{"10.0.0.2", "127.0.0.1", "192.168.5.1"}));
  EXPECT_EQ(sockets.References(), 0);
}

TEST(GetHostAddressesTest, FailsWithEmptyListAndBalancedWinsock) {
  test::ScopedPorts saved;
  for (const char* operation : {"gethostname", "gethostbyname"}) {
    SCOPED_TRACE(operation);
    FakeSockets sockets;
    Ports().sockets = &sockets;
    sockets.SetHostAddresses({"10.0.0.2"});
    sockets.plan().Fail(operation, WSAHOST_NOT_FOUND);
    std::vector<std::string> list = {"stale"};
    EXPECT_FALSE(GetHostAddresses(list));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(sockets.References(), 0);
  }
}

// --- Reply parsing ---------------------------------------------------------------

TEST(ParseReplyTest, ReadsAddressAndPort) {
  char address[kCenterAddressSize];
  WORD port = 0;
  ASSERT_TRUE(ParseReply("OrvaneSearchAgentPos|10.0.0.5|7273", address, &port));
  EXPECT_STREQ(address, "10.0.0.5");
  EXPECT_EQ(port, 7273);
  // Anything but "|" may follow the keyword; nothing after the digits counts.
  ASSERT_TRUE(ParseReply("OrvaneSearchAgentPos-extra|10.0.0.6| 7300abc|9", address, &port));
  EXPECT_STREQ(address, "10.0.0.6");
  EXPECT_EQ(port, 7300);
  ASSERT_TRUE(ParseReply("OrvaneSearchAgentPos||", address, &port));
  EXPECT_STREQ(address, "");
  EXPECT_EQ(port, 0);
  ASSERT_TRUE(ParseReply("OrvaneSearchAgentPos|a|70000", address, &port));
  EXPECT_EQ(port, 4464);
}

TEST(ParseReplyTest, RefusesWhatIsNotAnAnswer) {
  char address[kCenterAddressSize] = "unchanged";
  WORD port = 1;
  EXPECT_FALSE(ParseReply(nullptr, address, &port));
  EXPECT_FALSE(ParseReply("", address, &port));
  EXPECT_FALSE(ParseReply("OrvaneSearchAgent", address, &port));
  EXPECT_FALSE(ParseReply("orvanesearchagentpos|1.2.3.4|1", address, &port));
  EXPECT_FALSE(ParseReply("OrvaneSearchAgentPos", address, &port));
  EXPECT_FALSE(ParseReply("OrvaneSearchAgentPos|10.0.0.5", address, &port));
  EXPECT_STREQ(address, "unchanged");
}

TEST(ParseReplyTest, CenterAddressOfTwentyCharactersIsRefused) {
  char address[kCenterAddressSize];
  WORD port = 0;
  EXPECT_TRUE(ParseReply("OrvaneSearchAgentPos|1234567890123456789|1", address, &port));
  EXPECT_STREQ(address, "1234567890123456789");
  EXPECT_FALSE(ParseReply("OrvaneSearchAgentPos|12345678901234567890|1", address, &port));
}

}  // namespace
}  // namespace qel
