// The install-parameters page answered in a terminal: the terminal view
// driving CPage3 over the host world, with a fake socket port for Test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "center/mib_agent.h"
#include "center/search_agent.h"
#include "res/resource.h"
#include "tests/fakes/fake_net.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/sys_util.h"
#include "wizard/ui/page3_presets.h"
#include "wizard/ui/terminal_page3.h"

namespace qel {
namespace {

const char kBadAddress[] = "[The IP address you input is incorrect. Please input again.]";
const char kSuccess[] = "[Success! The IP address you input is the system center address!]";
const char kFailure[] = "[Fail! Can not find the corresponding system center with the IP address you input!]";

class TerminalPage3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    Ports().sockets = &sockets_;
    SetSearchTimingForTest(0, 0);
    sockets_.SetHostAddresses({"127.0.0.1", "10.0.0.2"});
    ASSERT_TRUE(env_.WriteFile("C:\\pkg\\QelSetup.exe", "MZ"));
    state_.m_strCenterIP = "previous";
    state_.m_strPackagePath = "previous";
  }
  void TearDown() override {
    ResetSearchTiming();
    CMibAgent::DestroyInstance();
    if (out_ != nullptr) std::fclose(out_);
  }

  void SetRegistryString(const char* name, const char* value) {
    HKEY key = nullptr;
    ASSERT_EQ(Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, kQelRegistryKey, &key), ERROR_SUCCESS);
    Registry().RegSetValueExA(key, name, REG_SZ, reinterpret_cast<const BYTE*>(value),
                              static_cast<DWORD>(std::strlen(value) + 1));
    Registry().RegCloseKey(key);
  }

  // Answers the page's questions with these lines; what the terminal printed.
  bool Ask(const std::string& lines) {
    in_.clear();
    in_.str(lines);
    return AskParametersPage(console_, page_, view_);
  }
  std::string Printed() {
    std::fflush(out_);
    std::string text;
    std::rewind(out_);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out_)) > 0) text.append(buffer, n);
    return text;
  }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }

  test::ScopedPorts saved_;
  test::HostTestEnv env_;
  test::FakeSockets sockets_;
  std::istringstream in_;
  std::FILE* out_ = std::tmpfile();
  TerminalConsole console_{in_, out_};
  TerminalPage3View view_{console_};
  WizardState state_;
  CPage3 page_{&view_, state_};
};

TEST_F(TerminalPage3Test, NextRefusesZerosUntilAnAddressIsTyped) {
  page_.OnInitDialog();
  ASSERT_TRUE(Ask("\nC:\\pkg\\QelSetup.exe\n"));
  EXPECT_NE(Printed().find("Qel System Center IP [0.0.0.0]> "), std::string::npos);
  EXPECT_EQ(page_.OnWizardNext(), -1);
  EXPECT_EQ(Count(Printed(), kBadAddress), 1u);
  EXPECT_EQ(view_.Focus(), IDC_CENTER_IP);
  EXPECT_EQ(state_.m_strCenterIP, "previous");

  // The second round shows what the first one kept.
  ASSERT_TRUE(Ask("10.1.2.3\n\n"));
  EXPECT_NE(Printed().find("Qel install package [C:\\pkg\\QelSetup.exe]> "), std::string::npos);
  EXPECT_EQ(page_.OnWizardNext(), 0);
  EXPECT_EQ(state_.m_strCenterIP, "10.1.2.3");
  EXPECT_EQ(state_.m_strPackagePath, "C:\\pkg\\QelSetup.exe");
  EXPECT_EQ(sockets_.Sent().size(), 0u) << "Next never probes";
}

TEST_F(TerminalPage3Test, PackageMessagesShowTheirTexts) {
  page_.OnInitDialog();
  ASSERT_TRUE(Ask("10.1.2.3\n\n"));  // no package in the current folder: the edit stays empty
  EXPECT_EQ(page_.OnWizardNext(), -1);
  EXPECT_NE(Printed().find("[Please input the full path name of Qel install package.]"), std::string::npos);
  EXPECT_EQ(view_.Focus(), IDC_PACKAGE);

  ASSERT_TRUE(Ask("\nC:\\pkg\n"));
  EXPECT_EQ(page_.OnWizardNext(), -1);
  EXPECT_NE(Printed().find("[Cann't find file \"C:\\pkg\",please make sure it is exist.]"), std::string::npos);
  EXPECT_EQ(state_.m_strPackagePath, "previous");
}

TEST_F(TerminalPage3Test, TestProbesTheTypedAddressAndReportsBothOutcomes) {
  page_.OnInitDialog();
  sockets_.QueueReply(1, "OrvaneSearchAgentPos|10.0.0.9|7273", "10.0.0.9", 7273);
  // "test <address>" takes the address and probes it; "test" probes the
  // shown one again, which no center answers any more.
  ASSERT_TRUE(Ask("test 10.0.0.9\ntest\n\nC:\\pkg\\QelSetup.exe\n"));
  std::string printed = Printed();
  size_t success = printed.find(kSuccess), failure = printed.find(kFailure);
  ASSERT_NE(success, std::string::npos) << printed;
  ASSERT_NE(failure, std::string::npos) << printed;
  EXPECT_LT(success, failure);
  EXPECT_EQ(Count(printed, "Qel System Center IP [10.0.0.9]> "), 2u);
  // One datagram answered at once, then the ten ports of a unicast probe.
  ASSERT_EQ(sockets_.Sent().size(), 11u);
  for (const auto& datagram : sockets_.Sent()) EXPECT_EQ(datagram.address, "10.0.0.9");
  EXPECT_EQ(sockets_.boundAddress(), "10.0.0.2");
  // Test stores nothing; Next does.
  EXPECT_EQ(state_.m_strCenterIP, "previous");
  EXPECT_EQ(page_.OnWizardNext(), 0);
  EXPECT_EQ(state_.m_strCenterIP, "10.0.0.9");
}

TEST_F(TerminalPage3Test, TestOnZerosRefusesWithoutProbing) {
  page_.OnInitDialog();
  ASSERT_TRUE(Ask("test\n\n\n"));
  EXPECT_EQ(Count(Printed(), kBadAddress), 1u);
  EXPECT_EQ(sockets_.Sent().size(), 0u);
}

TEST_F(TerminalPage3Test, AnAddressTheControlCannotHoldIsAskedAgain) {
  page_.OnInitDialog();
  ASSERT_TRUE(Ask("10.1.2.300\nserver.lan\ntest 1.2.3\n010.001.2.3\n\n"));
  std::string printed = Printed();
  EXPECT_EQ(Count(printed, "(answer an address of four numbers"), 3u);
  EXPECT_EQ(sockets_.Sent().size(), 0u);
  EXPECT_EQ(view_.GetCenterAddress(), "10.1.2.3");
}

TEST_F(TerminalPage3Test, TheEndOfTheInputStopsTheQuestions) {
  page_.OnInitDialog();
  EXPECT_FALSE(Ask(""));
  EXPECT_FALSE(Ask("10.1.2.3\n"));
  EXPECT_TRUE(Ask("10.1.2.3\nC:\\pkg\\QelSetup.exe\n"));
}

TEST_F(TerminalPage3Test, BrowseWithoutAFileDialogKeepsThePackage) {
  page_.OnInitDialog();
  view_.SetPackagePath("C:\\pkg\\QelSetup.exe");
  page_.OnBrowse();
  EXPECT_EQ(view_.GetPackagePath(), "C:\\pkg\\QelSetup.exe");
  EXPECT_NE(Printed().find("no file dialog"), std::string::npos);
}

// A package typed as a path of this computer is read through drive Z:, which
// qelscript mounts on the host's "/" (here a folder of the test's world).
TEST_F(TerminalPage3Test, APackageGivenAsAHostPathIsTakenThroughDriveZ) {
  std::string host = env_.HostPath("C:\\host");
  ASSERT_TRUE(env_.WriteFile("C:\\host\\home\\me\\QelSetup.exe", "MZ"));
  env_.Reconfigure([&](HostConfig& c) { c.mounts["Z:\\"] = host; });
  page_.OnInitDialog();
  ASSERT_TRUE(Ask("10.1.2.3\n/home/me/QelSetup.exe\n"));
  EXPECT_NE(Printed().find("/home/me/QelSetup.exe, is read through drive Z:"), std::string::npos);
  EXPECT_EQ(view_.GetPackagePath(), "Z:\\home\\me\\QelSetup.exe");
  EXPECT_EQ(page_.OnWizardNext(), 0);
  EXPECT_EQ(state_.m_strPackagePath, "Z:\\home\\me\\QelSetup.exe");

  // A host path that does not exist is refused as any missing file is.
  ASSERT_TRUE(Ask("\n/home/me/Missing.exe\n"));
  EXPECT_EQ(page_.OnWizardNext(), -1);
  EXPECT_NE(Printed().find("[Cann't find file \"Z:\\home\\me\\Missing.exe\""), std::string::npos);
  EXPECT_EQ(TerminalPackagePath("C:\\pkg\\QelSetup.exe"), "C:\\pkg\\QelSetup.exe");
}

TEST_F(TerminalPage3Test, CommandLineValuesReplaceTheDefaultsOnlyWhenGiven) {
  SetRegistryString("CenterIP", "10.0.0.5");
  ASSERT_TRUE(env_.WriteFile("C:\\QelSetup.exe", "MZ"));
  env_.Reconfigure([](HostConfig& c) { c.currentDir = "C:\\"; });

  TerminalPage3View given(console_), none(console_);
  CPresetPage3 withValues(&given, "10.1.2.3", "C:\\pkg\\QelSetup.exe", state_);
  CPresetPage3 withoutValues(&none, "", "", state_);
  withValues.OnInitDialog();
  withoutValues.OnInitDialog();
  EXPECT_EQ(given.GetCenterAddress(), "10.1.2.3");
  EXPECT_EQ(given.GetPackagePath(), "C:\\pkg\\QelSetup.exe");
  EXPECT_EQ(none.GetCenterAddress(), "10.0.0.5");
  EXPECT_EQ(none.GetPackagePath(), "C:\\QelSetup.exe");

  // A value the control cannot hold leaves it blank, and Next refuses it.
  TerminalPage3View bad(console_);
  CPresetPage3 withBad(&bad, "10.1.2", "", state_);
  withBad.OnInitDialog();
  EXPECT_EQ(bad.GetCenterAddress(), "");
  EXPECT_EQ(withBad.OnWizardNext(), -1);
  EXPECT_EQ(Count(Printed(), kBadAddress), 1u);
}

TEST(DottedAddress, ReadsAsTheAddressControlDoes) {
  EXPECT_EQ(NormalizeDottedAddress("10.1.2.3"), "10.1.2.3");
  EXPECT_EQ(NormalizeDottedAddress("010.001.2.3"), "10.1.2.3");
  EXPECT_EQ(NormalizeDottedAddress("0.0.0.0"), "0.0.0.0");
  EXPECT_EQ(NormalizeDottedAddress("255.255.255.255"), "255.255.255.255");
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.", "256.1.1.1", "1.2.3.4 ",
                          "1.2.3.-4", "0001.2.3.4", "a.b.c.d", "10.1.2.3/24"}) {
    EXPECT_EQ(NormalizeDottedAddress(bad), "") << bad;
  }
}

}  // namespace
}  // namespace qel
