// The install-parameters page over a fake view, the host platform (registry,
// files, current folder) and a fake socket port for the Test button.
#include "wizard/page3_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "center/mib_agent.h"
#include "center/search_agent.h"
#include "res/resource.h"
#include "tests/fakes/fake_net.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/sys_util.h"

namespace qel {
namespace {

using test::FakeSockets;

struct Shown {
  UINT id;
  std::string text;
  UINT type;
};

class FakePage3View : public IPage3View {
 public:
  std::string GetCenterAddress() override { return address; }
  void SetCenterAddress(const std::string& a) override { address = a; }
  std::string GetPackagePath() override { return package; }
  void SetPackagePath(const std::string& p) override {
    package = p;
    ++packageSets;
  }
  void FocusControl(int id) override { focus.push_back(id); }
  void ShowMessage(UINT id, const std::string& text, UINT type) override { shown.push_back(Shown{id, text, type}); }
  bool RunOpenFileDialog(const Page3OpenFile& d, std::string* chosen) override {
    dialogs.push_back(d);
    if (dialogAnswer.empty()) return false;
    *chosen = dialogAnswer;
    return true;
  }

  std::string address, package, dialogAnswer;
  int packageSets = 0;
  std::vector<int> focus;
  std::vector<Shown> shown;
  std::vector<Page3OpenFile> dialogs;
};

class FakeSheet : public ISheetSite {
 public:
  void PostWizardButtons(DWORD flags) override { buttons = flags; }
  void HideCancelButton() override {}
  int MessageBox(const char*, UINT) override { return IDOK; }
  DWORD buttons = 0;
};

class Page3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    Ports().sockets = &sockets_;
    SetSearchTimingForTest(0, 0);
    state_.m_strCenterIP = "previous";
    state_.m_strPackagePath = "previous";
  }
  void TearDown() override {
    ResetSearchTiming();
    CMibAgent::DestroyInstance();
  }

  void SetRegistryString(const char* name, const char* value) {
    HKEY key = nullptr;
    ASSERT_EQ(Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, kQelRegistryKey, &key), ERROR_SUCCESS);
    Registry().RegSetValueExA(key, name, REG_SZ, reinterpret_cast<const BYTE*>(value),
                              static_cast<DWORD>(std::strlen(value) + 1));
    Registry().RegCloseKey(key);
  }
  void SetCurrentFolder(const std::string& folder) {
    env_.Reconfigure([&](HostConfig& c) { c.currentDir = folder; });
  }

  test::ScopedPorts saved_;
  test::HostTestEnv env_;
  FakeSockets sockets_;
  FakePage3View view_;
  WizardState state_;
  CPage3 page_{&view_, state_};
};

TEST_F(Page3Test, WithoutCenterIpTheAddressIsZerosAndNextRefuses) {
  ASSERT_TRUE(env_.WriteFile("C:\\QelSetup.exe", "MZ"));
  page_.OnInitDialog();
  EXPECT_EQ(view_.address, "0.0.0.0");
  EXPECT_EQ(page_.OnWizardNext(), -1);
  ASSERT_EQ(view_.shown.size(), 1u);
  EXPECT_EQ(view_.shown[0].id, 117u);
  EXPECT_EQ(view_.shown[0].text, "The IP address you input is incorrect. Please input again.");
  EXPECT_EQ(view_.shown[0].type, static_cast<UINT>(MB_ICONEXCLAMATION));
  EXPECT_EQ(view_.focus, std::vector<int>{IDC_CENTER_IP});
  EXPECT_EQ(state_.m_strCenterIP, "previous");
}

TEST_F(Page3Test, CenterIpComesFromTheRegistryTrimmed) {
  SetRegistryString("CenterIP", "  10.0.0.5 ");
  page_.OnInitDialog();
  EXPECT_EQ(view_.address, "10.0.0.5");
}

TEST_F(Page3Test, DefaultPackageIsJoinedWithoutDoubledBackslash) {
  ASSERT_TRUE(env_.WriteFile("C:\\Qel\\QelSetup.exe", "MZ"));
  SetCurrentFolder("C:\\Qel\\\\");
  page_.OnInitDialog();
  EXPECT_EQ(view_.package, "C:\\Qel\\QelSetup.exe");

  FakePage3View rootView;
  CPage3 rootPage(&rootView, state_);
  ASSERT_TRUE(env_.WriteFile("C:\\QelSetup.exe", "MZ"));
  SetCurrentFolder("C:\\");
  rootPage.OnInitDialog();
  EXPECT_EQ(rootView.package, "C:\\QelSetup.exe");
}

TEST_F(Page3Test, NoDefaultPackageWhenItIsMissingOrAFolder) {
  SetCurrentFolder("C:\\");
  page_.OnInitDialog();
  EXPECT_EQ(view_.packageSets, 0);
  ASSERT_TRUE(env_.MakeDirectory("C:\\QelSetup.exe"));
  page_.OnInitDialog();
  EXPECT_EQ(view_.packageSets, 0);
}

TEST_F(Page3Test, SetActiveOffersBackAndNext) {
  FakeSheet sheet;
  page_.SetSheet(&sheet);
  EXPECT_TRUE(page_.OnSetActive());
  EXPECT_EQ(sheet.buttons, static_cast<DWORD>(PSWIZB_BACK | PSWIZB_NEXT));
}

TEST_F(Page3Test, NextChecksInOrder) {
  ASSERT_TRUE(env_.MakeDirectory("C:\\Packages"));
  struct Case {
    const char* address;
    const char* package;
    UINT message;
    int focus;
  };
  for (const Case& c : {
           Case{"", "", 117, IDC_CENTER_IP},
           Case{"0.0.0.0", "C:\\nope.exe", 117, IDC_CENTER_IP},
           Case{"10.0.0.5", " \t ", 120, IDC_PACKAGE},
           Case{"10.0.0.5", "C:\\nope.exe", 113, IDC_PACKAGE},
           Case{"10.0.0.5", "C:\\Packages", 113, IDC_PACKAGE},
       }) {
    SCOPED_TRACE(std::string(c.address) + " / " + c.package);
    view_.shown.clear();
    view_.focus.clear();
    view_.address = c.address;
    view_.package = c.package;
    EXPECT_EQ(page_.OnWizardNext(), -1);
    ASSERT_EQ(view_.shown.size(), 1u);
    EXPECT_EQ(view_.shown[0].id, c.message);
    EXPECT_EQ(view_.shown[0].type, static_cast<UINT>(MB_ICONEXCLAMATION));
    EXPECT_EQ(view_.focus, std::vector<int>{c.focus});
    EXPECT_EQ(state_.m_strCenterIP, "previous");
    EXPECT_EQ(state_.m_strPackagePath, "previous");
  }
}

TEST_F(Page3Test, MissingPackageMessageNamesThePath) {
  view_.address = "10.0.0.5";
  view_.package = "  C:\\nope %d.exe ";
  EXPECT_EQ(page_.OnWizardNext(), -1);
  ASSERT_EQ(view_.shown.size(), 1u);
  EXPECT_EQ(view_.shown[0].text, "Cann't find file \"C:\\nope %d.exe\",please make sure it is exist.");
}

TEST_F(Page3Test, NextStoresAddressAndTrimmedPackage) {
  ASSERT_TRUE(env_.WriteFile("C:\\Qel\\QelSetup.exe", "MZ"));
  view_.address = "10.0.0.5";
  view_.package = " \tC:\\Qel\\QelSetup.exe  ";
  EXPECT_EQ(page_.OnWizardNext(), 0);
  EXPECT_TRUE(view_.shown.empty());
  EXPECT_EQ(state_.m_strCenterIP, "10.0.0.5");
  EXPECT_EQ(state_.m_strPackagePath, "C:\\Qel\\QelSetup.exe");
}

TEST_F(Page3Test, BrowseOffersThePackageFilter) {
  const char filter[] = "All file(*.*)\0*.*\0QEL install package(.exe)\0*.exe\0";  // + the literal's own NUL
  Page3OpenFile d = CPage3::MakeOpenFile(0x1DB10106);
  ASSERT_EQ(d.filterLength, sizeof filter);
  EXPECT_EQ(std::memcmp(d.filter, filter, sizeof filter), 0);
  EXPECT_EQ(d.filterIndex, 2u);
  EXPECT_STREQ(d.file, "QelSetup.exe");
  EXPECT_EQ(d.maxFile, 260u);
  EXPECT_STREQ(d.title, "Please select Qel install package");
  EXPECT_EQ(d.flags, 0x21804u);
  EXPECT_EQ(d.structSize, 88u);
  EXPECT_EQ(CPage3::MakeOpenFile(0x00000004).structSize, 76u);   // 4.0
  EXPECT_EQ(CPage3::MakeOpenFile(0x00000A04).structSize, 88u);   // 4.10
  EXPECT_EQ(CPage3::MakeOpenFile(0x08930005).structSize, 88u);   // 5.0
}

TEST_F(Page3Test, BrowseReplacesThePackageOnlyWhenChosen) {
  view_.package = "C:\\old.exe";
  page_.OnBrowse();
  EXPECT_EQ(view_.package, "C:\\old.exe");
  view_.dialogAnswer = "D:\\Setup\\QelSetup.exe";
  page_.OnBrowse();
  EXPECT_EQ(view_.package, "D:\\Setup\\QelSetup.exe");
  ASSERT_EQ(view_.dialogs.size(), 2u);
}

TEST_F(Page3Test, TestRefusesZerosAndEmptyWithoutProbing) {
  for (const char* address : {"0.0.0.0", ""}) {
    view_.shown.clear();
    view_.address = address;
    page_.OnTest();
    ASSERT_EQ(view_.shown.size(), 1u);
    EXPECT_EQ(view_.shown[0].id, 117u);
  }
  EXPECT_TRUE(view_.focus.empty());
  EXPECT_EQ(sockets_.Startups(), 0);
  EXPECT_TRUE(sockets_.Sent().empty());
}

TEST_F(Page3Test, TestReportsSuccessAndChangesNothing) {
  sockets_.SetHostAddresses({"10.0.0.2"});
  sockets_.QueueReply(1, "OrvaneSearchAgentPos|10.0.0.9|7273", "10.0.0.9", 7273);
  view_.address = "10.0.0.9";
  page_.OnTest();
  ASSERT_EQ(view_.shown.size(), 1u);
  EXPECT_EQ(view_.shown[0].id, 118u);
  EXPECT_EQ(view_.shown[0].type, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_EQ(view_.address, "10.0.0.9");
  EXPECT_EQ(state_.m_strCenterIP, "previous");
  EXPECT_EQ(sockets_.boundAddress(), "10.0.0.2");
  EXPECT_FALSE(sockets_.broadcastEnabled());
  EXPECT_EQ(sockets_.References(), 0);
}

TEST_F(Page3Test, TestReportsFailureAfterTenDatagramsToTheTypedAddress) {
  sockets_.SetHostAddresses({"10.0.0.2"});
  view_.address = "10.0.0.9";
  page_.OnTest();
  ASSERT_EQ(view_.shown.size(), 1u);
  EXPECT_EQ(view_.shown[0].id, 119u);
  EXPECT_EQ(view_.shown[0].type, static_cast<UINT>(MB_ICONEXCLAMATION));
  ASSERT_EQ(sockets_.Sent().size(), 10u);
  EXPECT_EQ(sockets_.Sent()[0].address, "10.0.0.9");
  EXPECT_EQ(state_.m_strCenterIP, "previous");
}

TEST_F(Page3Test, LocalAgentAddressRules) {
  // Nothing configured: the first address that is not the loopback.
  sockets_.SetHostAddresses({"127.0.0.1", "10.0.0.2", "192.168.1.4"});
  EXPECT_EQ(CPage3::GetLocalAgentAddress(), "10.0.0.2");
  // Configured and local: it wins.
  SetRegistryString("QelAgentIP", "192.168.1.4");
  EXPECT_EQ(CPage3::GetLocalAgentAddress(), "192.168.1.4");
  // Configured address of another computer: the first local one instead.
  SetRegistryString("QelAgentIP", "10.9.9.9");
  EXPECT_EQ(CPage3::GetLocalAgentAddress(), "10.0.0.2");
  // The loopback never counts, even when configured.
  SetRegistryString("QelAgentIP", "127.0.0.1");
  EXPECT_EQ(CPage3::GetLocalAgentAddress(), "10.0.0.2");
  // Only the loopback: empty.
  sockets_.SetHostAddresses({"127.0.0.1", "127.0.0.1"});
  EXPECT_EQ(CPage3::GetLocalAgentAddress(), "");
  // No addresses at all: empty.
  sockets_.SetHostAddresses({});
  EXPECT_EQ(CPage3::GetLocalAgentAddress(), "");
}

TEST(FindStringInArrayTest, CaseRules) {
  test::HostTestEnv env;
  std::vector<std::string> list = {"alpha", "Beta", "beta"};
  EXPECT_EQ(CPage3::FindStringInArray(list, "beta", true), 2);
  EXPECT_EQ(CPage3::FindStringInArray(list, "beta", false), 1);
  EXPECT_EQ(CPage3::FindStringInArray(list, "ALPHA", false), 0);
  EXPECT_EQ(CPage3::FindStringInArray(list, "ALPHA", true), -1);
  EXPECT_EQ(CPage3::FindStringInArray(list, "gamma", false), -1);
  EXPECT_EQ(CPage3::FindStringInArray({}, "x", false), -1);
}

}  // namespace
}  // namespace qel
