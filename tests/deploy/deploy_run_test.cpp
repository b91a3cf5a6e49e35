// Whole runs: staging and clean-up by their flags, the walk of the node
// list and its counting, stopping, and the failures the run reports.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "deploy/script_deployer.h"
#include "platform/domain/domain_text.h"
#include "tests/deploy/deploy_world.h"
#include "tests/fakes/faulty_accounts.h"
#include "tests/fakes/faulty_directory.h"
#include "tests/fakes/faulty_files.h"
#include "wizard/netapi_entry.h"
#include "wizard/wizard_state.h"

namespace qel::test {
namespace {

constexpr unsigned kScripted = 0x201;
const char kPackage[] = "C:\\pkg\\QelSetup.exe";
const char* const kStaged[] = {"QelCheck.exe", "QelSetup.exe", "QelInstall.bat", "SetupSet.ini"};

std::vector<TestAccount> SalesDomain() {
  return {
      {"Sales", "ann", "", kScripted},
      {"Sales", "bob", "bob.cmd", kScripted},
      {"Sales", "carl", "QelInstall.bat", kScripted},  // already deployed
      {"", "jdoe", "logon.bat", kScripted},
      {"", "kim", "", kScripted},
      {"", "WS01$", "Qelx.bat", 0x1001},  // a computer account
  };
}

USER_NODE* Node(const char* name, const wchar_t* path, const wchar_t* account, int type, BOOL selected,
                USER_NODE* parent = nullptr) {
  USER_NODE* node = NewUserNode(name, path, account, type);
  node->bSelected = selected;
  node->pParent = parent;
  USER_NODE** link = parent != nullptr ? &parent->pChild : &g_UserNodeHead.pNext;
  while (*link != nullptr) link = &(*link)->pNext;
  *link = node;
  g_pLastUserNode = node;
  return node;
}

class RunTest : public ::testing::Test {
 protected:
  explicit RunTest(const std::vector<TestAccount>& accounts = SalesDomain()) : world_(accounts) {
    ClearUserNodes();
    TheWizardState() = WizardState();
    world_.env().WriteFile(kPackage, "package bytes");
  }
  ~RunTest() override {
    ClearUserNodes();
    TheWizardState() = WizardState();
  }
  // Makes, initialises and runs one engine as the progress page's worker does.
  BOOL Run(BOOL install, IProgressReceiver* page = nullptr) {
    CScriptDeployer engine;
    engine.SetMessageSink(&messages_);
    engine.Init(page != nullptr ? page : &page_, stop_, pause_);
    engine.SetCenterIP("10.1.2.3");
    engine.SetPackagePath(package_.c_str());
    BOOL result = engine.ChangeAllScript(nullptr, install);
    total_ = engine.m_nTotal;
    succeeded_ = engine.m_nSucceeded;
    return result;
  }
  bool Staged(const char* name) { return world_.env().FileExists(world_.ScriptsFile(name)); }
  std::string Done() {
    auto done = page_.Of(PROGRESS_DONE);
    return done.size() == 1 ? done[0] : "<" + std::to_string(done.size()) + " results>";
  }

  DeployWorld world_;
  RecordingReceiver page_;
  RecordingMessages messages_;
  HANDLE stop_ = nullptr;
  HANDLE pause_ = nullptr;
  std::string package_ = kPackage;
  int total_ = -1;
  int succeeded_ = -1;
};

TEST_F(RunTest, AddingStagesTheFourFilesThenChangesTheAccounts) {
  Node("jdoe", nullptr, L"jdoe", UserType, TRUE);
  Node("kim", nullptr, L"kim", UserType, TRUE);
  EXPECT_TRUE(Run(TRUE));
  EXPECT_EQ(world_.env().ReadFile(world_.ScriptsFile("QelCheck.exe")), "checker");
  EXPECT_EQ(world_.env().ReadFile(world_.ScriptsFile("QelSetup.exe")), "package bytes");
  EXPECT_NE(world_.env().ReadFile(world_.ScriptsFile("QelInstall.bat")).find("START /W \\\\DC01\\NetLogon\\"),
            std::string::npos);
  EXPECT_EQ(world_.env().ReadFile(world_.ScriptsFile("SetupSet.ini")), "[DEFAULT]\r\nCENTERIP=10.1.2.3\r\n");
  EXPECT_EQ(world_.ScriptOf("jdoe"), "Qeljdoe.bat");
  EXPECT_EQ(world_.ScriptOf("kim"), "QelInstall.bat");
  EXPECT_EQ(page_.reports.front(), std::make_pair(int(PROGRESS_SET_RANGE), std::string("100")));
  EXPECT_EQ(page_.Of(PROGRESS_COPY_FILE),
            (std::vector<std::string>{"", world_.ScriptsFile("QelCheck.exe"), world_.ScriptsFile("QelSetup.exe")}));
  EXPECT_EQ(page_.Of(PROGRESS_SET_SCRIPT), (std::vector<std::string>{"", "jdoe", "kim"}));
  EXPECT_EQ(Done(), ", total: 2 , Succeed: 2.");
  EXPECT_TRUE(messages_.messages.empty());
  EXPECT_NE(world_.LogText().find("[ChangeAllScript] Action Choice: Install?[1]  ScriptExist[0]  "
                                  "NoCopyWhenExist[0] RemoveWhenExist[0]"),
            std::string::npos);
}

TEST_F(RunTest, AddingWithNothingSelectedStagesAndCountsZero) {
  Node("kim", nullptr, L"kim", UserType, FALSE);
  EXPECT_TRUE(Run(TRUE));
  for (const char* name : kStaged) EXPECT_TRUE(Staged(name)) << name;
  EXPECT_TRUE(page_.Of(PROGRESS_SET_SCRIPT).empty());
  EXPECT_EQ(Done(), ", total: 0 , Succeed: 0.");
  EXPECT_EQ(world_.ScriptOf("kim"), "");
}

TEST_F(RunTest, AddingOverExistingFilesUnlessNoCopyWhenExist) {
  for (const char* name : kStaged) world_.env().WriteFile(world_.ScriptsFile(name), "old");
  Node("kim", nullptr, L"kim", UserType, TRUE);
  TheWizardState().NoCopyWhenExist = TRUE;
  EXPECT_TRUE(Run(TRUE));
  for (const char* name : kStaged) EXPECT_EQ(world_.env().ReadFile(world_.ScriptsFile(name)), "old") << name;
  EXPECT_TRUE(page_.Of(PROGRESS_COPY_FILE).empty());
  EXPECT_EQ(world_.ScriptOf("kim"), "QelInstall.bat");

  TheWizardState().NoCopyWhenExist = FALSE;
  EXPECT_TRUE(Run(TRUE));
  for (const char* name : kStaged) EXPECT_NE(world_.env().ReadFile(world_.ScriptsFile(name)), "old") << name;
}

TEST_F(RunTest, NoCopyWhenExistWithoutTheBatchStillStages) {
  TheWizardState().NoCopyWhenExist = TRUE;
  EXPECT_TRUE(Run(TRUE));
  for (const char* name : kStaged) EXPECT_TRUE(Staged(name)) << name;
}

TEST_F(RunTest, AFailedPackageCopyNamesItsOwnFileAndChangesNoAccount) {
  package_ = "C:\\pkg\\missing.exe";
  Node("kim", nullptr, L"kim", UserType, TRUE);
  EXPECT_FALSE(Run(TRUE));
  ASSERT_EQ(messages_.messages.size(), 1u);
  EXPECT_EQ(messages_.messages[0].first, world_.ScriptsFile("QelSetup.exe") + " copy error");
  EXPECT_EQ(messages_.messages[0].second, "Orvane Script Wizard");
  EXPECT_FALSE(Staged("QelInstall.bat"));
  EXPECT_EQ(world_.ScriptOf("kim"), "");
  EXPECT_TRUE(page_.Of(PROGRESS_DONE).empty());
}

TEST_F(RunTest, AFailedCheckerCopyStopsBeforeThePackage) {
  world_.env().MakeDirectory(world_.ScriptsFile("QelCheck.exe"));  // a folder in its place
  EXPECT_FALSE(Run(TRUE));
  ASSERT_EQ(messages_.messages.size(), 1u);
  EXPECT_EQ(messages_.messages[0].first, world_.ScriptsFile("QelCheck.exe") + " copy error");
  EXPECT_FALSE(Staged("QelSetup.exe"));
}

TEST_F(RunTest, RunWithoutScriptsFolderDoesNothing) {
  world_.SetNetlogon("Scripts", nullptr);
  world_.SetNetlogon("SysVol", nullptr);
  Node("kim", nullptr, L"kim", UserType, TRUE);
  EXPECT_FALSE(Run(TRUE));
  EXPECT_EQ(world_.ScriptOf("kim"), "");
  EXPECT_FALSE(world_.env().FileExists("C:\\QelCheck.exe"));
  EXPECT_TRUE(page_.Of(PROGRESS_DONE).empty());
  EXPECT_EQ(page_.Of(PROGRESS_FAILED),
            std::vector<std::string>{
                "The logon scripts folder of this domain controller cannot be found. No account was changed."});
}

TEST_F(RunTest, AScriptsFolderThatIsGoneChangesNoAccountInEitherOperation) {
  Node("jdoe", nullptr, L"jdoe", UserType, TRUE);
  Node("carl", nullptr, L"carl", UserType, TRUE);
  ASSERT_TRUE(Run(TRUE));
  std::string before = AccountListing(world_.store());
  // A wrong "Scripts" value, or a SysVol being restored.
  const char kGone[] = "C:\\WINDOWS\\SYSVOL\\sysvol\\gone\\scripts";
  world_.SetNetlogon("Scripts", kGone);
  for (BOOL install : {FALSE, TRUE}) {
    page_.reports.clear();
    TheWizardState().RemoveWhenExist = TRUE;
    EXPECT_FALSE(Run(install));
    EXPECT_EQ(AccountListing(world_.store()), before);
    EXPECT_EQ(page_.Of(PROGRESS_FAILED),
              std::vector<std::string>{std::string("The logon scripts folder ") + kGone +
                                       " cannot be reached (error 3). No account was changed."});
    EXPECT_TRUE(page_.Of(PROGRESS_DONE).empty());
    EXPECT_TRUE(page_.Of(PROGRESS_COPY_FILE).empty());
  }
  EXPECT_TRUE(Staged("Qeljdoe.bat"));
}

TEST_F(RunTest, AStagedFileThatCannotBeWrittenEndsTheRunBeforeAnyAccount) {
  Node("kim", nullptr, L"kim", UserType, TRUE);
  IFileSystem* host = Ports().files;
  FaultyFileSystem files(host);
  Ports().files = &files;
  files.plan().Fail("StreamClose", ERROR_DISK_FULL);
  EXPECT_FALSE(Run(TRUE));
  files.plan().Clear();
  files.plan().Fail("WritePrivateProfileStringA", ERROR_DISK_FULL, -1);
  EXPECT_FALSE(Run(TRUE));
  Ports().files = host;
  ASSERT_EQ(messages_.messages.size(), 2u);
  EXPECT_EQ(messages_.messages[0].first, world_.ScriptsFile("QelInstall.bat") + " write error, no account was changed.");
  EXPECT_EQ(messages_.messages[1].first, world_.ScriptsFile("SetupSet.ini") + " write error, no account was changed.");
  EXPECT_EQ(messages_.messages[1].second, "Orvane Script Wizard");
  EXPECT_EQ(world_.ScriptOf("kim"), "");
  EXPECT_TRUE(page_.Of(PROGRESS_DONE).empty());
}

TEST_F(RunTest, ReadOnlyStagedFilesAreRewritten) {
  for (const char* name : {"QelInstall.bat", "SetupSet.ini"}) {
    world_.env().WriteFile(world_.ScriptsFile(name), "[DEFAULT]\r\nCENTERIP=10.9.9.9\r\n");
    Files().SetFileAttributesA(world_.ScriptsFile(name).c_str(), FILE_ATTRIBUTE_READONLY);
  }
  EXPECT_TRUE(Run(TRUE));
  EXPECT_EQ(world_.env().ReadFile(world_.ScriptsFile("SetupSet.ini")), "[DEFAULT]\r\nCENTERIP=10.1.2.3\r\n");
  EXPECT_EQ(world_.env().ReadFile(world_.ScriptsFile("QelInstall.bat")).substr(0, 9), "@ECHO OFF");
  EXPECT_TRUE(messages_.messages.empty());
}

TEST_F(RunTest, CountingSelectedContainersOnceAndLookingIntoUnselectedOnes) {
  // Selected OU with a selected child loaded: the child is covered by the
  // container and not visited again.
  USER_NODE* sales = Node("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType, TRUE);
  Node("ann", nullptr, L"ann", UserType, TRUE, sales);
  // Unselected container: its selected child counts, the unselected one not.
  USER_NODE* users = Node("Users", L"CN=Users,DC=test,DC=lan", nullptr, OUType, FALSE);
  Node("jdoe", nullptr, L"jdoe", UserType, TRUE, users);
  Node("kim", nullptr, L"kim", UserType, FALSE, users);
  EXPECT_TRUE(Run(TRUE));
  // ann and bob below Sales (carl already runs the shared batch: skipped), then jdoe.
  EXPECT_EQ(page_.Of(PROGRESS_SET_SCRIPT), (std::vector<std::string>{"", "ann", "bob", "jdoe"}));
  EXPECT_EQ(Done(), ", total: 3 , Succeed: 3.");
  EXPECT_EQ(world_.ScriptOf("kim"), "");
}

TEST_F(RunTest, UnselectedNodesOnlyMakeNoAccountHeading) {
  USER_NODE* users = Node("Users", L"CN=Users,DC=test,DC=lan", nullptr, OUType, FALSE);
  Node("kim", nullptr, L"kim", UserType, FALSE, users);
  EXPECT_TRUE(Run(TRUE));
  EXPECT_TRUE(page_.Of(PROGRESS_SET_SCRIPT).empty());
  EXPECT_EQ(Done(), ", total: 0 , Succeed: 0.");
}

TEST_F(RunTest, ContainerIsSearchedThroughLdapWhenTheCatalogRefuses) {
  world_.directory().SetRefuseGlobalCatalog(true);
  Node("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType, TRUE);
  EXPECT_TRUE(Run(TRUE));
  EXPECT_EQ(world_.ScriptOf("ann"), "QelInstall.bat");
  EXPECT_EQ(world_.ScriptOf("bob"), "Qelbob.bat");
  EXPECT_EQ(Done(), ", total: 2 , Succeed: 2.");
  EXPECT_EQ(world_.directory().OpenSearches(), 0);
}

TEST_F(RunTest, AContainerThatCannotBeBoundAddsNothing) {
  world_.directory().SetRefuseGlobalCatalog(true);
  Node("Gone", L"OU=Gone,DC=test,DC=lan", nullptr, OUType, TRUE);
  Node("kim", nullptr, L"kim", UserType, TRUE);
  EXPECT_TRUE(Run(TRUE));
  EXPECT_EQ(Done(), ", total: 1 , Succeed: 1.");
}

TEST_F(RunTest, AFailedAccountWriteOnlyLowersTheSuccessCount) {
  FaultyAccounts accounts(&world_.store());
  Ports().accounts = &accounts;
  accounts.plan().Fail("NetUserSetInfo:kim", 5);
  Node("jdoe", nullptr, L"jdoe", UserType, TRUE);
  Node("kim", nullptr, L"kim", UserType, TRUE);
  EXPECT_TRUE(Run(TRUE));
  EXPECT_EQ(Done(), ", total: 2 , Succeed: 1.");
  EXPECT_TRUE(messages_.messages.empty());
  Ports().accounts = &world_.store();
  EXPECT_EQ(world_.ScriptOf("kim"), "");
  EXPECT_EQ(world_.ScriptOf("jdoe"), "Qeljdoe.bat");
}

TEST_F(RunTest, ContainerSearchAsksTheCatalogFirstAndGivesEverythingBack) {
  FaultyDirectory directory(&world_.directory());
  Ports().directory = &directory;
  directory.plan().Fail("BindSearch:GC", static_cast<DWORD>(E_FAIL));
  Node("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType, TRUE);
  EXPECT_TRUE(Run(TRUE));
  EXPECT_EQ(directory.BoundPaths(),
            (std::vector<std::wstring>{L"GC://OU=Sales,DC=test,DC=lan", L"LDAP://OU=Sales,DC=test,DC=lan"}));
  EXPECT_EQ(directory.Filters(),
            std::vector<std::wstring>{L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE)))"});
  EXPECT_EQ(directory.LastAttributes(), (std::vector<std::wstring>{L"cn", L"distinguishedName", L"sAMAccountName"}));
  EXPECT_EQ(directory.LastPreferences(),
            (std::vector<std::pair<int, DWORD>>{{ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_SUBTREE},
                                                {ADS_SEARCHPREF_PAGESIZE, 100},
                                                {ADS_SEARCHPREF_PAGED_TIME_LIMIT, 15}}));
  EXPECT_EQ(directory.ComInitialized(), 0);
  EXPECT_EQ(directory.OpenSearches(), 0);
  EXPECT_EQ(directory.OpenHandles(), 0);
  EXPECT_EQ(directory.OpenColumns(), 0);
  EXPECT_EQ(Done(), ", total: 2 , Succeed: 2.");
  Ports().directory = &world_.directory();
}

TEST_F(RunTest, RowsWithoutALogonNameAreSkipped) {
  FaultyDirectory directory(&world_.directory());
  Ports().directory = &directory;
  directory.plan().Fail("GetColumn:sAMAccountName", static_cast<DWORD>(E_ADS_COLUMN_NOT_SET), 1);
  Node("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType, TRUE);
  EXPECT_TRUE(Run(TRUE));
  // The first row (ann) has no logon name: not counted; bob is changed.
  EXPECT_EQ(world_.ScriptOf("ann"), "");
  EXPECT_EQ(world_.ScriptOf("bob"), "Qelbob.bat");
  EXPECT_EQ(Done(), ", total: 1 , Succeed: 1.");
  EXPECT_EQ(directory.OpenColumns(), 0);
  Ports().directory = &world_.directory();
}

TEST_F(RunTest, RemovingAContainerSkipsAccountsWithoutTheProductsScript) {
  Node("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType, TRUE);
  ASSERT_TRUE(Run(TRUE));
  page_.reports.clear();
  EXPECT_TRUE(Run(FALSE));
  // ann, bob and carl run the product's batches; all three are cleared or restored.
  EXPECT_EQ(page_.Of(PROGRESS_REMOVE_SCRIPT), (std::vector<std::string>{"", "ann", "bob", "carl"}));
  EXPECT_EQ(world_.ScriptOf("bob"), "bob.cmd");
  EXPECT_FALSE(Staged("Qelbob.bat"));
  page_.reports.clear();
  EXPECT_TRUE(Run(FALSE));
  EXPECT_EQ(page_.Of(PROGRESS_REMOVE_SCRIPT), (std::vector<std::string>{""}));
  EXPECT_EQ(Done(), ", total: 0 , Succeed: 0.");
}

class CleanUpTest : public RunTest {
 protected:
  void StageOld() {
    for (const char* name : kStaged) world_.env().WriteFile(world_.ScriptsFile(name), "old");
  }
};

TEST_F(CleanUpTest, OnlyWithScriptExistAndRemoveWhenExist) {
  // carl runs the shared batch; with him selected no account keeps it.
  Node("carl", nullptr, L"carl", UserType, TRUE);
  TheWizardState().RemoveWhenExist = TRUE;
  EXPECT_TRUE(Run(FALSE));  // no QelInstall.bat at Init: no clean-up
  EXPECT_TRUE(page_.Of(PROGRESS_DELETE_FILE).empty());

  StageOld();
  TheWizardState().RemoveWhenExist = FALSE;
  EXPECT_TRUE(Run(FALSE));
  for (const char* name : kStaged) EXPECT_TRUE(Staged(name)) << name;
  EXPECT_TRUE(page_.Of(PROGRESS_DELETE_FILE).empty());

  TheWizardState().RemoveWhenExist = TRUE;
  page_.reports.clear();
  Files().DeleteFileA(world_.ScriptsFile("QelSetup.exe").c_str());  // already gone: counts as deleted
  Files().SetFileAttributesA(world_.ScriptsFile("QelCheck.exe").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(Run(FALSE));
  std::vector<std::string> expected{""};
  for (const char* name : kStaged) expected.push_back(world_.ScriptsFile(name));
  EXPECT_EQ(page_.Of(PROGRESS_DELETE_FILE), expected);
  for (const char* name : kStaged) EXPECT_FALSE(Staged(name)) << name;
  EXPECT_TRUE(messages_.messages.empty());
  EXPECT_NE(world_.LogText().find("[ChangeAllScript]    Scripted user not exist, Delete Files!"), std::string::npos);
  EXPECT_EQ(Done(), ", total: 1 , Succeed: 1.");
}

TEST_F(CleanUpTest, AScriptedUserOutsideTheSelectionKeepsTheFiles) {
  StageOld();
  TheWizardState().RemoveWhenExist = TRUE;
  Node("ann", nullptr, L"ann", UserType, TRUE);  // carl keeps the product's batch
  EXPECT_TRUE(Run(FALSE));
  for (const char* name : kStaged) EXPECT_TRUE(Staged(name)) << name;
  EXPECT_TRUE(page_.Of(PROGRESS_DELETE_FILE).empty());
  EXPECT_NE(world_.LogText().find("[ChangeAllScript]    Scripted user exist, no remove file!"), std::string::npos);
}

TEST_F(CleanUpTest, AnAccountListingThatFailsKeepsTheFiles) {
  // Nobody but carl runs the product's batch, yet an unreadable listing
  // cannot prove it: deleting would break every account that still calls it.
  StageOld();
  Node("carl", nullptr, L"carl", UserType, TRUE);
  TheWizardState().RemoveWhenExist = TRUE;
  FaultyAccounts accounts(&world_.store());
  Ports().accounts = &accounts;
  accounts.plan().Fail("NetQueryDisplayInformation", 5, -1);
  EXPECT_TRUE(Run(FALSE));
  Ports().accounts = &world_.store();
  EXPECT_EQ(world_.ScriptOf("carl"), "");
  for (const char* name : kStaged) EXPECT_TRUE(Staged(name)) << name;
  EXPECT_TRUE(page_.Of(PROGRESS_DELETE_FILE).empty());
  EXPECT_NE(world_.LogText().find("NetQueryDisplayInformation failed(5), files kept!"), std::string::npos);
  EXPECT_EQ(Done(), ", total: 1 , Succeed: 1.");
}

TEST_F(CleanUpTest, LeftoverWrappersGoOnlyWithTheStagedFiles) {
  StageOld();
  TheWizardState().RemoveWhenExist = TRUE;
  // A wrapper no account names (a run killed before the account's write),
  // and an administrator's own batch of a similar name.
  CScriptDeployer writer;
  ASSERT_TRUE(writer.Init(nullptr, nullptr, nullptr));
  ASSERT_TRUE(writer.WriteUserBatch("ghost", "", "ghost.bat"));
  world_.env().WriteFile(world_.ScriptsFile("QELreports.bat"), "@ECHO OFF\r\n");
  // carl keeps the product's batch: nothing is deleted.
  Node("ann", nullptr, L"ann", UserType, TRUE);
  EXPECT_TRUE(Run(FALSE));
  EXPECT_TRUE(Staged("Qelghost.bat"));

  ClearUserNodes();
  Node("carl", nullptr, L"carl", UserType, TRUE);
  page_.reports.clear();
  EXPECT_TRUE(Run(FALSE));
  std::vector<std::string> expected{""};
  for (const char* name : kStaged) expected.push_back(world_.ScriptsFile(name));
  expected.push_back(world_.ScriptsFile("Qelghost.bat"));
  EXPECT_EQ(page_.Of(PROGRESS_DELETE_FILE), expected);
  EXPECT_FALSE(Staged("Qelghost.bat"));
  EXPECT_TRUE(Staged("QELreports.bat"));
}

TEST_F(CleanUpTest, AFileThatCannotBeDeletedIsReportedAndTheRestGoes) {
  StageOld();
  Node("carl", nullptr, L"carl", UserType, TRUE);
  TheWizardState().RemoveWhenExist = TRUE;
  // A folder named like the settings file cannot be deleted as a file.
  Files().DeleteFileA(world_.ScriptsFile("SetupSet.ini").c_str());
  world_.env().MakeDirectory(world_.ScriptsFile("SetupSet.ini"));
  EXPECT_TRUE(Run(FALSE));
  ASSERT_EQ(messages_.messages.size(), 1u);
  EXPECT_EQ(messages_.messages[0].first, world_.ScriptsFile("SetupSet.ini") + " del error, please del it by hand.");
  EXPECT_EQ(messages_.messages[0].second, "Orvane Script Wizard");
  EXPECT_FALSE(Staged("QelInstall.bat"));
  EXPECT_EQ(Done(), ", total: 1 , Succeed: 1.");
}

// Stops the run (as the page does on "Yes") when a chosen item is reported.
class StoppingPage : public RecordingReceiver {
 public:
  int ReportProgress(int kind, LONG_PTR value) override {
    RecordingReceiver::ReportProgress(kind, value);
    if (value != 0 && kind >= PROGRESS_COPY_FILE && reports.back().second == stopAt) {
      Sync().ResetEvent(pause);
      Sync().SetEvent(stop);
    }
    return 1;
  }
  std::string stopAt;
  HANDLE pause = nullptr;
  HANDLE stop = nullptr;
};

class StopTest : public RunTest {
 protected:
  StopTest() {
    pause_ = Sync().CreateEventA(TRUE, TRUE, nullptr);
    stop_ = Sync().CreateEventA(FALSE, FALSE, nullptr);
    stopping_.pause = pause_;
    stopping_.stop = stop_;
  }
  ~StopTest() override {
    Sync().CloseHandle(pause_);
    Sync().CloseHandle(stop_);
  }
  StoppingPage stopping_;
};

TEST_F(StopTest, StopDuringTheWalkFinishesTheCurrentAccountOnly) {
  Node("jdoe", nullptr, L"jdoe", UserType, TRUE);
  Node("kim", nullptr, L"kim", UserType, TRUE);
  stopping_.stopAt = "jdoe";
  EXPECT_TRUE(Run(TRUE, &stopping_));
  EXPECT_EQ(world_.ScriptOf("jdoe"), "Qeljdoe.bat");
  EXPECT_EQ(world_.ScriptOf("kim"), "");
  // The result line follows a stopped walk.
  EXPECT_EQ(stopping_.Of(PROGRESS_DONE), std::vector<std::string>{", total: 1 , Succeed: 1."});
}

TEST_F(StopTest, StopInsideAContainerAbandonsItsSearch) {
  Node("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType, TRUE);
  Node("kim", nullptr, L"kim", UserType, TRUE);
  stopping_.stopAt = "ann";
  EXPECT_TRUE(Run(TRUE, &stopping_));
  EXPECT_EQ(world_.ScriptOf("ann"), "QelInstall.bat");
  EXPECT_EQ(world_.ScriptOf("bob"), "bob.cmd");
  EXPECT_EQ(world_.ScriptOf("kim"), "");
  EXPECT_EQ(total_, 1);
  EXPECT_EQ(world_.directory().OpenSearches(), 0);
}

TEST_F(StopTest, StopDuringACopyEndsTheRunWithTheCopyError) {
  Node("kim", nullptr, L"kim", UserType, TRUE);
  stopping_.stopAt = world_.ScriptsFile("QelCheck.exe");
  EXPECT_FALSE(Run(TRUE, &stopping_));
  ASSERT_EQ(messages_.messages.size(), 1u);
  EXPECT_EQ(messages_.messages[0].first, world_.ScriptsFile("QelCheck.exe") + " copy error");
  EXPECT_FALSE(Staged("QelCheck.exe"));
  EXPECT_EQ(world_.ScriptOf("kim"), "");
}

TEST(AnyScriptedUser, PagesPastAThousandAccountsAndSkipsComputers) {
  std::vector<TestAccount> accounts;
  for (int i = 0; i < 2500; ++i) accounts.push_back({"", "user" + std::to_string(i), "", kScripted});
  accounts.push_back({"", "PC01$", "QelInstall.bat", 0x1001});
  DeployWorld world(accounts);
  CScriptDeployer engine;
  ASSERT_TRUE(engine.Init(nullptr, nullptr, nullptr));
  EXPECT_FALSE(engine.AnyScriptedUser());  // only the computer account has one

  // The last account of the listing is found only by following the pages.
  LPBYTE buffer = nullptr;
  ASSERT_EQ(g_NetApi.NetUserGetInfo(nullptr, L"user2499", 3, &buffer), NERR_Success);
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
  LPWSTR own = info->usri3_script_path;
  wchar_t script[] = L"QELuser2499.bat";
  info->usri3_script_path = script;
  ASSERT_EQ(g_NetApi.NetUserSetInfo(nullptr, L"user2499", 3, buffer, nullptr), NERR_Success);
  info->usri3_script_path = own;
  g_NetApi.NetApiBufferFree(buffer);
  EXPECT_TRUE(engine.AnyScriptedUser());
}

TEST(AnyScriptedUser, WhatCannotBeReadCountsAsStillScripted) {
  std::vector<TestAccount> accounts;
  for (int i = 0; i < 1500; ++i) accounts.push_back({"", "user" + std::to_string(i), "", kScripted});
  DeployWorld world(accounts);
  CScriptDeployer engine;
  ASSERT_TRUE(engine.Init(nullptr, nullptr, nullptr));
  FaultyAccounts faulty(&world.store());
  Ports().accounts = &faulty;
  ASSERT_FALSE(engine.AnyScriptedUser());
  // The second page of the listing fails.
  faulty.plan().Fail("NetQueryDisplayInformation", 59 /* ERROR_UNEXP_NET_ERR */, 1, 1);
  EXPECT_TRUE(engine.AnyScriptedUser());
  // One account cannot be read.
  faulty.plan().Clear();
  faulty.plan().Fail("NetUserGetInfo:user1200", 5, -1);
  EXPECT_TRUE(engine.AnyScriptedUser());
  EXPECT_NE(world.LogText().find("[AnyScriptedUser]  Account user1200 not readable(5), files kept!"),
            std::string::npos);
  EXPECT_EQ(faulty.LiveBuffers(), 0);
  Ports().accounts = &world.store();
}

}  // namespace
}  // namespace qel::test
