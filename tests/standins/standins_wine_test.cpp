// The production path under Wine: the Win32 adapters and the real
// LoadLibraryA load the stand-in "netapi32.dll" and "ActiveDS.dll" from this
// program's folder, and the gate, the entry-point table and the engine run
// over them as they run over the real libraries on a domain controller.
#include <windows.h>
#include <oleauto.h>
#include <iads.h>

#include <gtest/gtest.h>

#include <string>

#include "deploy/script_deployer.h"
#include "platform/win32/win32_ports.h"
#include "tests/standins/standin_world.h"
#include "wizard/deploy_runner.h"
#include "wizard/netapi_entry.h"
#include "wizard/startup.h"
#include "wizard/wizard_state.h"

namespace qel {
namespace standin_test {
namespace {

class Standins : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InstallWin32Ports();
    Ports().directory = Win32Directory();
    ASSERT_TRUE(LoadNetApiEntryPoints());
  }
  void SetUp() override { ASSERT_TRUE(world_.ok()) << world_.Folder() << ": " << world_.Error(); }

  std::string Staged(const char* name) const { return world_.Scripts() + "\\" + name; }

  World world_;
};

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  GetComputerNameA(name, &size);
  return name;
}

TEST_F(Standins, LocatorGate) {
  WizardState state;
  CScriptWizardApp app(state);
  // By default the stand-in names this computer: the gate passes.
  EXPECT_EQ(app.CheckDomainController(), 0u);
  EXPECT_STREQ(state.m_szDCName, ComputerName().c_str());

  // Letter case alone does not make another computer.
  std::string lower = ComputerName();
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  SetSetting("QEL_STANDIN_DC", lower.c_str());
  EXPECT_EQ(app.CheckDomainController(), 0u);

  // A member server: the locator names another controller.
  SetSetting("QEL_STANDIN_DC", "OTHERDC");
  EXPECT_EQ(app.CheckDomainController(), 121u);
  EXPECT_STREQ(state.m_szDCName, "OTHERDC");

  // Outside any domain.
  SetSetting("QEL_STANDIN_DC", nullptr);
  SetSetting("QEL_STANDIN_FAIL", "DsGetDcNameA=1355");
  char name[MAX_PATH] = {};
  EXPECT_EQ(FindDomainControllerName(name), 1355u);
  EXPECT_EQ(app.CheckDomainController(), 122u);
}

TEST_F(Standins, NetGetDCNameGivesTheControllerWithBackslashes) {
  HMODULE netapi = LoadLibraryA("netapi32.dll");
  ASSERT_NE(netapi, nullptr);
  auto getDc = reinterpret_cast<PFN_NetGetDCName>(GetProcAddress(netapi, "NetGetDCName"));
  ASSERT_NE(getDc, nullptr);
  SetSetting("QEL_STANDIN_DC", "DC7");
  LPBYTE buffer = nullptr;
  ASSERT_EQ(getDc(nullptr, nullptr, &buffer), 0u);
  EXPECT_STREQ(reinterpret_cast<wchar_t*>(buffer), L"\\\\DC7");
  g_NetApi.NetApiBufferFree(buffer);
  SetSetting("QEL_STANDIN_FAIL", "NetGetDCName=2453");
  EXPECT_EQ(getDc(nullptr, nullptr, &buffer), 2453u);
  FreeLibrary(netapi);
}

TEST_F(Standins, RootDseAndSearchThroughCom) {
  wchar_t context[64] = {};
  DWORD capacity = 64;
  EXPECT_EQ(GetDefaultNamingContext(context, &capacity), 1u);
  EXPECT_STREQ(context, L"DC=test,DC=lan");
  // Exactly the value's length is one too few (the terminator).
  capacity = 14;
  wchar_t small[14] = {L'x'};
  EXPECT_EQ(GetDefaultNamingContext(small, &capacity), 0u);
  EXPECT_EQ(capacity, 14u);
  EXPECT_EQ(small[0], L'x');
  // A rootDSE that cannot be bound: nothing read, 0 stored, buffer untouched.
  SetSetting("QEL_STANDIN_FAIL", "ADsGetObject:LDAP://rootDSE=0x8007203A");
  capacity = 14;
  EXPECT_EQ(GetDefaultNamingContext(small, &capacity), 0u);
  EXPECT_EQ(capacity, 0u);
  EXPECT_EQ(small[0], L'x');
  SetSetting("QEL_STANDIN_FAIL", nullptr);

  HMODULE ads = LoadLibraryA("ActiveDS.dll");
  ASSERT_NE(ads, nullptr);
  typedef HRESULT(WINAPI * GetObjectFn)(LPCWSTR, REFIID, void**);
  auto get = reinterpret_cast<GetObjectFn>(GetProcAddress(ads, "ADsGetObject"));
  ASSERT_NE(get, nullptr);
  IDirectorySearch* search = nullptr;
  ASSERT_EQ(get(L"LDAP://OU=Engineering,DC=test,DC=lan", IID_IDirectorySearch, reinterpret_cast<void**>(&search)),
            S_OK);
  ADS_SEARCHPREF_INFO scope = {};
  scope.dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
  scope.vValue.dwType = ADSTYPE_INTEGER;
  scope.vValue.Integer = ADS_SCOPE_SUBTREE;
  EXPECT_EQ(search->SetSearchPreference(&scope, 1), S_OK);
  LPWSTR attributes[] = {const_cast<LPWSTR>(L"sAMAccountName")};
  ADS_SEARCH_HANDLE handle = nullptr;
  ASSERT_EQ(search->ExecuteSearch(const_cast<LPWSTR>(L"(&(objectClass=user)(objectCategory=Person))"), attributes,
                                  1, &handle),
            S_OK);
  std::wstring names;
  for (HRESULT hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle)) {
    ADS_SEARCH_COLUMN column;
    if (search->GetColumn(handle, attributes[0], &column) != S_OK) continue;
    EXPECT_EQ(column.dwADsType, ADSTYPE_CASE_IGNORE_STRING);
    names += column.pADsValues[0].CaseIgnoreString;
    names += L" ";
    search->FreeColumn(&column);
  }
  EXPECT_EQ(names, L"ijames jlee kmartin lnguyen mclark nlewis tadams oharris uhall ");
  IDirectorySearch* unused = nullptr;
  EXPECT_EQ(search->GetPreviousRow(handle), E_NOTIMPL);
  EXPECT_EQ(search->CloseSearchHandle(handle), S_OK);
  search->Release();

  // An object that does not exist, and a refused global catalog.
  EXPECT_EQ(get(L"LDAP://OU=Nowhere,DC=test,DC=lan", IID_IDirectorySearch, reinterpret_cast<void**>(&unused)),
            static_cast<HRESULT>(0x80072030));
  SetSetting("QEL_STANDIN_FAIL", "ADsGetObject:GC=0x8007203A");
  EXPECT_EQ(get(L"GC://DC=test,DC=lan", IID_IDirectorySearch, reinterpret_cast<void**>(&unused)),
            static_cast<HRESULT>(0x8007203A));
  EXPECT_EQ(unused, nullptr);
  EXPECT_EQ(get(L"LDAP://DC=test,DC=lan", IID_IDirectorySearch, reinterpret_cast<void**>(&unused)), S_OK);
  if (unused != nullptr) unused->Release();
  FreeLibrary(ads);
}

// A whole add run and a whole remove run through the stand-ins.
TEST_F(Standins, AddThenRemoveRun) {
  Selection selection;
  selection.users = {"swalker", "rscott", "jdoe"};
  selection.containers = {"OU=East,OU=Sales,DC=test,DC=lan"};
  RunResult add = RunDeployment(true, selection, "10.1.2.3", world_.Package(), false, false);
  EXPECT_TRUE(add.initialised);
  EXPECT_TRUE(add.finished);
  EXPECT_TRUE(add.messages.empty()) << add.messages.front();
  // swalker, rscott, jdoe (already the product's), and below East cwhite and
  // dgreen (ebrown already runs QelInstall.bat and is passed over).
  EXPECT_EQ(add.total, 5);
  EXPECT_EQ(add.succeeded, 5);
  for (const char* name : {"QelCheck.exe", "QelSetup.exe", "QelInstall.bat", "SetupSet.ini"})
    EXPECT_TRUE(FileExists(Staged(name))) << name;
  EXPECT_EQ(ReadFile(Staged("QelSetup.exe")), "install package");
  EXPECT_EQ(ScriptPathOf("swalker"), "Qelswalker.bat");
  EXPECT_EQ(ScriptPathOf("rscott"), "QelInstall.bat");
  EXPECT_EQ(ScriptPathOf("jdoe"), "Qeljdoe.bat");
  EXPECT_EQ(ScriptPathOf("cwhite"), "Qelcwhite.bat");
  EXPECT_EQ(ScriptPathOf("dgreen"), "QelInstall.bat");
  EXPECT_EQ(ScriptPathOf("asmith"), "logon.bat");  // not selected
  // The logon-script bit is set; the password bit stays as it was (512 + 1).
  EXPECT_EQ(FlagsOf("rscott"), 0x201u);
  EXPECT_NE(ReadFile(Staged("Qelswalker.bat")).find("logon.bat"), std::string::npos);
  EXPECT_NE(ReadFile(Staged("Qelcwhite.bat")).find("scripts\\sales.cmd"), std::string::npos);

  RunResult remove = RunDeployment(false, selection, "", "", false, true);
  EXPECT_TRUE(remove.finished);
  EXPECT_EQ(remove.total, 6);  // the five above and ebrown below East
  EXPECT_EQ(remove.succeeded, 6);
  EXPECT_EQ(ScriptPathOf("swalker"), "logon.bat");
  EXPECT_EQ(ScriptPathOf("rscott"), "");
  EXPECT_EQ(ScriptPathOf("cwhite"), "scripts\\sales.cmd");
  EXPECT_EQ(ScriptPathOf("dgreen"), "");
  EXPECT_FALSE(FileExists(Staged("Qelswalker.bat")));
  EXPECT_FALSE(FileExists(Staged("Qelcwhite.bat")));
  // Other accounts of the domain (fblack, mclark ...) still run the
  // product's batches, so the staged files stay.
  EXPECT_TRUE(FileExists(Staged("QelInstall.bat")));
  EXPECT_EQ(ScriptPathOf("fblack"), "qelinstall.bat");
}

TEST_F(Standins, WritesAreJournalledAndTheFileWrittenWhenTheDomainIsLetGo) {
  Selection selection;
  selection.users = {"swalker"};
  RunResult add = RunDeployment(true, selection, "10.1.2.3", world_.Package(), false, false);
  ASSERT_EQ(add.succeeded, 1);
  const std::string journal = world_.Domain() + ".journal";
  EXPECT_TRUE(FileExists(journal));
  EXPECT_EQ(ReadFile(world_.Domain()), ReadFile(SampleDomain()));
  // Serving another domain writes this one and drops its journal.
  SetSetting("QEL_STANDIN_DOMAIN", SampleDomain().c_str());
  EXPECT_EQ(ScriptPathOf("swalker"), "logon.bat");
  EXPECT_FALSE(FileExists(journal));
  EXPECT_NE(ReadFile(world_.Domain()).find("scriptPath: Qelswalker.bat"), std::string::npos);
  SetSetting("QEL_STANDIN_DOMAIN", world_.Domain().c_str());
  EXPECT_EQ(ScriptPathOf("swalker"), "Qelswalker.bat");
}

TEST_F(Standins, AccountWriteRefusedForOneAccount) {
  SetSetting("QEL_STANDIN_FAIL", "NetUserSetInfo:swalker=5");
  Selection selection;
  selection.users = {"swalker", "asmith", "rscott"};
  RunResult add = RunDeployment(true, selection, "10.1.2.3", world_.Package(), false, false);
  EXPECT_TRUE(add.finished);
  EXPECT_EQ(add.total, 3);
  EXPECT_EQ(add.succeeded, 2);
  // Unchanged, and its wrapper, which records its own script, is kept.
  EXPECT_EQ(ScriptPathOf("swalker"), "logon.bat");
  EXPECT_NE(ReadFile(Staged("Qelswalker.bat")).find("logon.bat"), std::string::npos);
  EXPECT_EQ(ScriptPathOf("asmith"), "Qelasmith.bat");
  EXPECT_EQ(ScriptPathOf("rscott"), "QelInstall.bat");

  // Once the write goes through again, a second run completes the account.
  SetSetting("QEL_STANDIN_FAIL", nullptr);
  RunResult again = RunDeployment(true, selection, "10.1.2.3", world_.Package(), true, false);
  EXPECT_EQ(again.succeeded, 3);
  EXPECT_EQ(ScriptPathOf("swalker"), "Qelswalker.bat");
}

TEST_F(Standins, ContainerSearchFallsBackToLdapWhenTheGlobalCatalogIsDown) {
  SetSetting("QEL_STANDIN_FAIL", "ADsGetObject:GC=0x8007203A");
  Selection selection;
  selection.containers = {"OU=QA,OU=Engineering,DC=test,DC=lan"};
  RunResult add = RunDeployment(true, selection, "10.1.2.3", world_.Package(), false, false);
  EXPECT_EQ(add.total, 2);
  EXPECT_EQ(add.succeeded, 2);
  EXPECT_EQ(ScriptPathOf("oharris"), "Qeloharris.bat");
  EXPECT_EQ(ScriptPathOf("uhall"), "QelInstall.bat");

  // Neither provider: the container adds nothing and changes nothing.
  SetSetting("QEL_STANDIN_FAIL", "ADsGetObject=0x8007203A");
  selection.containers = {"OU=Remote,OU=Branches,DC=test,DC=lan"};
  RunResult none = RunDeployment(true, selection, "10.1.2.3", world_.Package(), true, false);
  EXPECT_TRUE(none.finished);
  EXPECT_EQ(none.total, 0);
  EXPECT_EQ(ScriptPathOf("pyoung"), "logon.bat");
}

TEST_F(Standins, UnreadableDomainUsersFailsInitAndTheRunChangesNoAccount) {
  SetSetting("QEL_STANDIN_FAIL", "NetGroupGetUsers=5");
  // As the progress page runs it: Init's result is not looked at, the run
  // goes on with what Init filled. CopyFileExA was never resolved, so the
  // staging fails on the checker with its message and no account is touched.
  struct Sink : IMessageSink {
    void ShowMessage(const char* text, const char*) override { messages.push_back(text); }
    std::vector<std::string> messages;
  } sink;
  struct Page : IProgressReceiver {
    int ReportProgress(int kind, LONG_PTR) override {
      if (kind == PROGRESS_DONE) ++done;
      return 1;
    }
    int done = 0;
  } page;
  Selection selection;
  selection.users = {"swalker"};
  RunResult direct = RunDeployment(true, selection, "10.1.2.3", world_.Package(), false, false);
  EXPECT_FALSE(direct.initialised);
  EXPECT_FALSE(direct.finished);

  WizardState state;
  state.m_nOperation = OP_INSTALL;
  state.m_strCenterIP = "10.1.2.3";
  state.m_strPackagePath = world_.Package();
  MakeScriptDeployerRun(nullptr, &sink)(&page, nullptr, nullptr, state);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0], Staged("QelCheck.exe") + " copy error");
  EXPECT_EQ(page.done, 0);
  EXPECT_EQ(ScriptPathOf("swalker"), "logon.bat");
  EXPECT_FALSE(FileExists(Staged("QelInstall.bat")));
}

}  // namespace
}  // namespace standin_test
}  // namespace qel
