// The back-ends through the Windows directory port: "ActiveDS.dll" loaded by
// name for each operation (the stand-in over the sample domain, under Wine).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "directory/directory_backend.h"
#include "directory/user_node.h"
#include "platform/win32/win32_ports.h"
#include "tests/fakes/fault_plan.h"
#include "tests/standins/standin_world.h"
#include "wizard/netapi_entry.h"
#include "wizard/wizard_state.h"

namespace qel {
namespace {

class NameSink : public IUserEntrySink {
 public:
  HTREEITEM InsertUserItem(const char* name, const wchar_t*, const wchar_t* account, int, HTREEITEM) override {
    names.push_back(name != nullptr ? name : "");
    accounts.push_back(account != nullptr ? std::wstring(account) : std::wstring(L"<null>"));
    return reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(names.size()));
  }
  std::vector<std::string> names;
  std::vector<std::wstring> accounts;
};

class StandinBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(world_.ok()) << world_.Error();
    InstallWin32Ports();
    Ports().directory = Win32Directory();
    ASSERT_TRUE(LoadNetApiEntryPoints());
    state_.m_nOperation = OP_INSTALL;
    state_.m_dwMajorVersion = 6;
  }
  void TearDown() override { standin_test::SetSetting("QEL_STANDIN_FAIL", nullptr); }
  test::ScopedPorts ports_;
  standin_test::World world_;
  WizardState state_;
};

TEST_F(StandinBackend, BrowseSearchAndEmptinessTest) {
  NameSink sink;
  CDirectoryBackend backend(state_, &sink);
  EXPECT_EQ(backend.BrowseDirectory(L"DC=test,DC=lan", TVI_ROOT), S_OK);
  // The unit with a Chinese name has no name in the prefix's code page 1252.
  EXPECT_EQ(sink.names, (std::vector<std::string>{"Users", "Sales", "Engineering", "Branches", "???"}));
  sink.names.clear();
  sink.accounts.clear();
  backend.SearchDirectoryUsers(L"DC=test,DC=lan", "john", nullptr, FALSE);
  EXPECT_EQ(sink.accounts, std::vector<std::wstring>{L"jdoe"});
  EXPECT_NE(ContainerHasUsers(L"OU=Branches,DC=test,DC=lan"), 0u);
  EXPECT_EQ(ContainerHasUsers(L"OU=Empty,DC=test,DC=lan"), 0u);
  EXPECT_EQ(HasDeploymentScript(L"fblack"), 1);
}

TEST_F(StandinBackend, GlobalCatalogDownFallsBackToLdap) {
  standin_test::SetSetting("QEL_STANDIN_FAIL", "ADsGetObject:GC=0x8007203A");
  NameSink sink;
  CDirectoryBackend backend(state_, &sink);
  EXPECT_EQ(backend.BrowseDirectory(L"OU=QA,OU=Engineering,DC=test,DC=lan", TVI_ROOT), S_OK);
  EXPECT_EQ(sink.names.size(), 2u);
}

}  // namespace
}  // namespace qel
