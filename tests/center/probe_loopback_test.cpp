// The probe over the platform's real sockets, against a responder on
// 127.0.0.1 ports 7273 to 7282. Nothing is sent to any other address.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "center/search_agent.h"
#include "tests/center/loopback_responder.h"
#include "tests/center/net_test_platform.h"

namespace qel {
namespace {

using test::LoopbackResponder;

const DWORD kLocalFlags = SEARCH_BIND_LOCAL | SEARCH_UNICAST;

class ProbeLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSearchTimingForTest(10, 50); }
  void TearDown() override { ResetSearchTiming(); }

  test::NetTestPlatform platform_;
};

TEST_F(ProbeLoopbackTest, SilentCenterGetsTenDatagramsInPortOrder) {
  LoopbackResponder responder([](int, int, const std::string&) { return std::string(); });
  ASSERT_TRUE(responder.ok());
  CSearchAgent search;
  EXPECT_FALSE(search.Search("127.0.0.1", "127.0.0.1", kLocalFlags, false));
  EXPECT_EQ(responder.Received(), (std::vector<int>{7273, 7274, 7275, 7276, 7277, 7278, 7279, 7280, 7281, 7282}));
  for (const std::string& payload : responder.Payloads()) EXPECT_EQ(payload, "OrvaneSearchAgentPos");
}

TEST_F(ProbeLoopbackTest, AnswerToTheThirdDatagramEndsTheProbe) {
  LoopbackResponder responder([](int port, int, const std::string&) {
    return port == 7275 ? std::string("OrvaneSearchAgentPos|10.20.30.40|7999") : std::string();
  });
  ASSERT_TRUE(responder.ok());
  CSearchAgent search;
  ASSERT_TRUE(search.Search("127.0.0.1", "127.0.0.1", kLocalFlags, false));
  EXPECT_STREQ(search.GetCenterAddress(), "10.20.30.40");
  EXPECT_EQ(search.GetCenterPort(), 7999);
  EXPECT_STREQ(search.GetReplyAddress(), "127.0.0.1");
  EXPECT_EQ(Sockets().ntohs(search.GetReplyPort()), 7275);
  EXPECT_EQ(responder.Received(), (std::vector<int>{7273, 7274, 7275}));
}

TEST_F(ProbeLoopbackTest, MalformedAnswerIsSkipped) {
  LoopbackResponder responder([](int port, int, const std::string&) {
    if (port == 7273) return std::string("OrvaneSearchAgentPos|10.20.30.40");  // no second "|"
    return std::string("OrvaneSearchAgentPos|10.20.30.41|70000");
  });
  ASSERT_TRUE(responder.ok());
  CSearchAgent search;
  ASSERT_TRUE(search.Search("127.0.0.1", "127.0.0.1", kLocalFlags, false));
  EXPECT_STREQ(search.GetCenterAddress(), "10.20.30.41");
  EXPECT_EQ(search.GetCenterPort(), 4464);
  EXPECT_EQ(responder.Received(), (std::vector<int>{7273, 7274}));
}

TEST_F(ProbeLoopbackTest, UnboundProbeReachesTheCenterToo) {
  LoopbackResponder responder(
      [](int, int, const std::string&) { return std::string("OrvaneSearchAgentPos|127.0.0.1|7273"); });
  ASSERT_TRUE(responder.ok());
  CSearchAgent search;
  EXPECT_TRUE(search.Search(nullptr, "127.0.0.1", SEARCH_UNICAST, false));
  EXPECT_EQ(responder.Received(), std::vector<int>{7273});
}

TEST_F(ProbeLoopbackTest, BindFailureSendsNothing) {
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine accepts binds to addresses of no interface";
  LoopbackResponder responder([](int, int, const std::string&) { return std::string("x"); });
  ASSERT_TRUE(responder.ok());
  CSearchAgent search;
  EXPECT_FALSE(search.Search(test::ForeignAddress().c_str(), "127.0.0.1", kLocalFlags, false));
  EXPECT_FALSE(search.Search("not an address", "127.0.0.1", kLocalFlags, false));
  EXPECT_TRUE(responder.Received().empty());
}

}  // namespace
}  // namespace qel
