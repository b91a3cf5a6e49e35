// The local address table over a fake MIB-II agent.
#include "center/ip_address_table.h"

#include <gtest/gtest.h>

#include "center/mib_agent.h"
#include "tests/center/net_test_platform.h"
#include "tests/fakes/fake_net.h"

namespace qel {
namespace {

using test::AddressToDotted;
using test::FakeMibAgent;
using test::FakeSockets;

class IpAddressTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Ports().sockets = &sockets_;
    Ports().addressTable = &agent_;
    CMibAgent::DestroyInstance();
  }
  void TearDown() override { CMibAgent::DestroyInstance(); }

  std::string Broadcast(const char* address) { return AddressToDotted(table_.GetBroadcastAddress(address)); }

  test::NetTestPlatform platform_;
  FakeSockets sockets_;
  FakeMibAgent agent_;
  CIpAddressTable table_;
};

TEST_F(IpAddressTableTest, BroadcastAddressFollowsTheMask) {
  agent_.AddRow("192.168.1.10", "255.255.255.0");
  EXPECT_EQ(Broadcast("192.168.1.10"), "192.168.1.255");
  FakeMibAgent wide;
  wide.AddRow("192.168.1.10", "255.255.0.0");
  Ports().addressTable = &wide;
  EXPECT_EQ(Broadcast("192.168.1.10"), "192.168.255.255");
  FakeMibAgent host;
  host.AddRow("192.168.1.10", "255.255.255.255");
  Ports().addressTable = &host;
  EXPECT_EQ(Broadcast("192.168.1.10"), "192.168.1.10");
  CMibAgent::DestroyInstance();
}

TEST_F(IpAddressTableTest, AddressesWithoutMaskBroadcastToAllOnes) {
  agent_.AddRow("127.0.0.1", "255.0.0.0");
  agent_.AddRow("192.168.1.10", "255.255.255.0");
  EXPECT_EQ(Broadcast("10.0.0.1"), "255.255.255.255");
  EXPECT_EQ(Broadcast("127.0.0.1"), "255.255.255.255");
  EXPECT_EQ(Broadcast("not an address"), "255.255.255.255");
}

TEST_F(IpAddressTableTest, LoopbackHasNoMaskEvenWhenListed) {
  agent_.AddRow("127.0.0.1", "255.0.0.0");
  ULONG mask = 123;
  EXPECT_FALSE(table_.GetNetMask("127.0.0.1", &mask));
  EXPECT_EQ(mask, 0u);
  EXPECT_EQ(table_.FindAddress("127.0.0.1", false), 0);
  EXPECT_EQ(table_.FindAddress("127.0.0.1", true), -1);
}

TEST_F(IpAddressTableTest, RowsAreInTableOrderWithTheirMasks) {
  agent_.AddRow("192.168.1.10", "255.255.255.0");
  agent_.AddRow("10.0.0.2", "255.0.0.0");
  agent_.AddRow("127.0.0.1", "255.0.0.0");
  ASSERT_TRUE(table_.Refresh());
  ASSERT_EQ(table_.GetCount(), 3u);
  EXPECT_EQ(AddressToDotted(table_.GetAddress(0)), "10.0.0.2");
  EXPECT_EQ(AddressToDotted(table_.GetAddress(1)), "127.0.0.1");
  EXPECT_EQ(AddressToDotted(table_.GetAddress(2)), "192.168.1.10");
  EXPECT_EQ(AddressToDotted(table_.GetMask(2)), "255.255.255.0");
  EXPECT_EQ(table_.FindAddress("192.168.1.10", true), 2);
  ULONG mask = 0;
  EXPECT_TRUE(table_.GetNetMask("10.0.0.2", &mask));
  EXPECT_EQ(AddressToDotted(mask), "255.0.0.0");
}

TEST_F(IpAddressTableTest, AllOnesAndBadTextsAreNotLookedUp) {
  agent_.AddRow("10.0.0.2", "255.0.0.0");
  EXPECT_EQ(table_.FindAddress("255.255.255.255", false), -1);
  EXPECT_EQ(table_.FindAddress(nullptr, false), -1);
  EXPECT_EQ(table_.FindAddress("", false), -1);
  EXPECT_EQ(table_.FindAddress("10.0.0", false), -1);
  EXPECT_EQ(agent_.QueryCalls(), 0);
}

TEST_F(IpAddressTableTest, EmptyTableFindsNothing) {
  for (const char* address : {"10.0.0.2", "127.0.0.1", "0.0.0.0"}) {
    EXPECT_EQ(table_.FindAddress(address, false), -1) << address;
  }
  EXPECT_EQ(Broadcast("10.0.0.2"), "255.255.255.255");
}

TEST_F(IpAddressTableTest, TableIsReadAfreshForEveryLookup) {
  EXPECT_EQ(table_.FindAddress("10.0.0.2", true), -1);
  agent_.AddRow("10.0.0.2", "255.0.0.0");
  EXPECT_EQ(table_.FindAddress("10.0.0.2", true), 0);
}

TEST_F(IpAddressTableTest, WalkStopsWhenTheNamesLeaveTheColumn) {
  FakeMibAgent agent;
  // Column 1 only, then an object of column 2: its value is not an address.
  agent.AddObject({1, 3, 6, 1, 2, 1, 4, 20, 1, 1, 10, 0, 0, 2}, "10.0.0.2");
  agent.AddObject({1, 3, 6, 1, 2, 1, 4, 20, 1, 1, 10, 0, 0, 3}, "10.0.0.3");
  agent.AddObject({1, 3, 6, 1, 2, 1, 4, 20, 1, 2, 10, 0, 0, 2}, "9.9.9.9");
  Ports().addressTable = &agent;
  ULONG values[100] = {};
  DWORD count = 100;
  EXPECT_TRUE(CIpAddressTable::WalkColumn(kIpAdEntAddr, values, &count));
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(AddressToDotted(values[0]), "10.0.0.2");
  EXPECT_EQ(AddressToDotted(values[1]), "10.0.0.3");
  EXPECT_EQ(values[2], 0u);
  CMibAgent::DestroyInstance();
}

TEST_F(IpAddressTableTest, WalkStopsAtTheEndOfTheAgentAndAtItsRoom) {
  for (int i = 1; i <= 120; ++i) {
    std::string address = "10.0." + std::to_string(i / 100) + "." + std::to_string(i % 100);
    agent_.AddRow(address.c_str(), "255.255.0.0");
  }
  ULONG values[100] = {};
  DWORD count = 3;
  CIpAddressTable::WalkColumn(kIpAdEntAddr, values, &count);
  EXPECT_EQ(count, 3u);
  ASSERT_TRUE(table_.Refresh());
  EXPECT_EQ(table_.GetCount(), 100u);  // only the first 100 rows are seen
  // The walk of the masks column ends with the agent's objects.
  FakeMibAgent small;
  small.AddRow("10.0.0.2", "255.0.0.0");
  Ports().addressTable = &small;
  count = 100;
  CIpAddressTable::WalkColumn(kIpAdEntNetMask, values, &count);
  EXPECT_EQ(count, 1u);
  CMibAgent::DestroyInstance();
}

TEST_F(IpAddressTableTest, AgentThatDidNotLoadGivesAnEmptyTable) {
  agent_.AddRow("10.0.0.2", "255.0.0.0");
  agent_.SetModuleHandle(5);  // below 32: an error code, not a module
  EXPECT_EQ(table_.FindAddress("10.0.0.2", false), -1);
  EXPECT_EQ(Broadcast("10.0.0.2"), "255.255.255.255");
  EXPECT_EQ(agent_.InitCalls(), 0);
  EXPECT_EQ(agent_.QueryCalls(), 0);
}

TEST_F(IpAddressTableTest, MissingQueryEntryGivesAnEmptyTable) {
  agent_.AddRow("10.0.0.2", "255.0.0.0");
  agent_.RemoveEntryPoint("SnmpExtensionQuery");
  EXPECT_EQ(table_.FindAddress("10.0.0.2", false), -1);
  EXPECT_EQ(agent_.QueryCalls(), 0);
  EXPECT_EQ(agent_.InitCalls(), 1);
}

TEST_F(IpAddressTableTest, AgentIsInitialisedOnceEvenWhenThatFails) {
  agent_.AddRow("10.0.0.2", "255.0.0.0");
  agent_.plan().Fail("SnmpExtensionInit", 1);
  EXPECT_TRUE(table_.Refresh());
  EXPECT_TRUE(table_.Refresh());
  CIpAddressTable other;
  EXPECT_TRUE(other.Refresh());
  EXPECT_EQ(agent_.InitCalls(), 1);
  // The walk goes on after the failed initialisation.
  EXPECT_EQ(table_.GetCount(), 1u);
}

TEST_F(IpAddressTableTest, AgentLoadsOnceAndStartsWinsockOneOne) {
  table_.Refresh();
  table_.Refresh();
  EXPECT_EQ(agent_.Loads(), 1);
  EXPECT_EQ(sockets_.References(), 1);
  CMibAgent::DestroyInstance();
  EXPECT_EQ(sockets_.References(), 0);
  EXPECT_EQ(agent_.Frees(), 1);
}

}  // namespace
}  // namespace qel
