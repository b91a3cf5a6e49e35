// Whole runs of the engine over the Samba back-end, its directory link
// standing in for the controller's database (transactions included): the
// requests a run sends, that it changes, logs and reports exactly what the
// one-request-per-read path does, and that a write that never lasts (a fault
// inside a transaction, a commit that fails, the process ending before it)
// leaves no account without its own script and is completed by the next run.
#include <gtest/gtest.h>
#include <ldap.h>

#include <cstdio>
#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "deploy/script_deployer.h"
#include "platform/domain/domain_text.h"
#include "platform/samba/samba_accounts.h"
#include "platform/samba/samba_directory.h"
#include "tests/deploy/deploy_world.h"
#include "tests/samba/store_link.h"
#include "wizard/wizard_state.h"

namespace qel::test {
namespace {

constexpr unsigned kNormal = 0x200;
const char kPackage[] = "C:\\pkg\\QelSetup.exe";

std::string Name(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "u%04d", i);
  return name;
}

// `count` accounts in OU=Sales (every third with a script of its own, every
// seventh already running the shared batch) and two in CN=Users.
std::vector<TestAccount> Domain(int count) {
  std::vector<TestAccount> accounts;
  for (int i = 0; i < count; ++i)
    accounts.emplace_back("Sales", Name(i), i % 7 == 1 ? "QelInstall.bat" : i % 3 == 0 ? "logon.bat" : "", kNormal);
  accounts.emplace_back("", "jdoe", "logon.bat", kNormal);
  accounts.emplace_back("", "kim", "", kNormal);
  return accounts;
}

USER_NODE* Node(const char* name, const wchar_t* path, const wchar_t* account, int type) {
  USER_NODE* node = NewUserNode(name, path, account, type);
  node->bSelected = TRUE;
  USER_NODE** link = &g_UserNodeHead.pNext;
  while (*link != nullptr) link = &(*link)->pNext;
  *link = node;
  g_pLastUserNode = node;
  return node;
}

// The log without its time stamps: "[pid]date time: [WAR]text" -> "[WAR]text".
std::vector<std::string> LogLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    size_t tag = line.find(": [");
    lines.push_back(tag == std::string::npos ? line : line.substr(tag + 2));
    at = end + 1;
  }
  return lines;
}

class SambaRunTest : public ::testing::Test {
 protected:
  explicit SambaRunTest(int accounts = 40)
      : world_(Domain(accounts)),
        link_(world_.store()),
        accounts_(link_, SambaConfig(), "DC=test,DC=lan"),
        directory_(link_, link_, "DC=test,DC=lan", {"DC01"}) {
    directory_.ReadAheadInto(&accounts_);
    Ports().accounts = &accounts_;
    Ports().directory = &directory_;
    ClearUserNodes();
    TheWizardState() = WizardState();
    world_.env().WriteFile(kPackage, "package bytes");
    world_.env().WriteFile(world_.ScriptsFile("logon.bat"), "@ECHO OFF\r\n");
  }
  ~SambaRunTest() override {
    ClearUserNodes();
    TheWizardState() = WizardState();
  }

  void SelectSales() { Node("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType); }

  // One run as the progress page's worker makes it; the requests it sent.
  uint64_t Run(BOOL install) {
    uint64_t before = link_.RoundTrips();
    CScriptDeployer engine;
    engine.Init(&page_, nullptr, nullptr);
    engine.SetCenterIP("10.1.2.3");
    engine.SetPackagePath(kPackage);
    EXPECT_TRUE(engine.ChangeAllScript(nullptr, install));
    total_ = engine.m_nTotal;
    succeeded_ = engine.m_nSucceeded;
    return link_.RoundTrips() - before;
  }

  bool Wrapper(const std::string& account) { return world_.env().FileExists(world_.ScriptsFile("Qel" + account + ".bat")); }

  DeployWorld world_;
  StoreLink link_;
  SambaAccounts accounts_;
  SambaDirectory directory_;
  RecordingReceiver page_;
  int total_ = -1, succeeded_ = -1;
};

TEST_F(SambaRunTest, AContainerCostsItsSearchesAndOneWritePerChangedAccount) {
  SelectSales();
  uint64_t requests = Run(TRUE);
  // 40 accounts, 6 of them already on the shared batch: 34 writes.
  EXPECT_EQ(total_, 34);
  EXPECT_EQ(succeeded_, 34);
  EXPECT_EQ(link_.Modifications(), 34);
  // Beside the writes: the start-up check, the bind, the search and one
  // transaction, never a read per account.
  EXPECT_LE(requests - link_.Modifications(), 8u) << requests;
  EXPECT_EQ(world_.ScriptOf("u0000"), "Qelu0000.bat");
  EXPECT_EQ(world_.ScriptOf("u0002"), "QelInstall.bat");

  int before = link_.Modifications();
  requests = Run(FALSE);
  EXPECT_EQ(link_.Modifications() - before, 40);  // every account ran the product's batch
  EXPECT_LE(requests - 40, 8u) << requests;
  EXPECT_EQ(world_.ScriptOf("u0000"), "logon.bat");
  EXPECT_FALSE(Wrapper("u0000"));
  EXPECT_EQ(world_.ScriptOf("u0001"), "");
}

TEST_F(SambaRunTest, SelectedAccountsAreReadWithOneSearch) {
  for (int i = 0; i < 30; ++i) {
    std::wstring name = Utf8ToWide(Name(i));
    Node(Name(i).c_str(), nullptr, name.c_str(), UserType);
  }
  Node("jdoe", nullptr, L"jdoe", UserType);
  uint64_t requests = Run(TRUE);
  EXPECT_EQ(total_, 31);
  EXPECT_EQ(link_.Modifications(), 26);  // 5 of the 30 run the shared batch already
  EXPECT_LE(requests - link_.Modifications(), 6u) << requests;
  EXPECT_EQ(world_.ScriptOf("jdoe"), "Qeljdoe.bat");
}

// The same runs, one world on each path: every account, wrapper, report and
// log line alike.
TEST(SambaPathsTest, BothPathsChangeLogAndReportTheSame) {
  struct Outcome {
    std::string accounts;
    std::vector<std::pair<int, std::string>> reports;
    std::vector<std::string> log;
    std::vector<bool> wrappers;
  };
  auto run = [](bool perAccount) {
    class Fixture : public SambaRunTest {
     public:
      void TestBody() override {}
      using SambaRunTest::accounts_;
      using SambaRunTest::page_;
      using SambaRunTest::Run;
      using SambaRunTest::SelectSales;
      using SambaRunTest::Wrapper;
      using SambaRunTest::world_;
    } f;
    f.accounts_.SetPerAccountRequests(perAccount);
    f.SelectSales();
    Node("jdoe", nullptr, L"jdoe", UserType);
    Node("kim", nullptr, L"kim", UserType);
    f.Run(TRUE);
    f.Run(FALSE);
    TheWizardState().RemoveWhenExist = TRUE;
    f.Run(FALSE);
    Outcome o;
    o.accounts = AccountListing(f.world_.store());
    o.reports = f.page_.reports;
    o.log = LogLines(f.world_.LogText());
    for (const char* name : {"u0000", "u0003", "jdoe"}) o.wrappers.push_back(f.Wrapper(name));
    return o;
  };
  Outcome old = run(true), grouped = run(false);
  EXPECT_EQ(grouped.accounts, old.accounts);
  EXPECT_EQ(grouped.reports, old.reports);
  EXPECT_EQ(grouped.log, old.log);
  EXPECT_EQ(grouped.wrappers, old.wrappers);
  EXPECT_GT(old.log.size(), 100u);
}

TEST_F(SambaRunTest, AFaultInsideATransactionCostsOnlyItsAccount) {
  SelectSales();
  link_.plan().Fail("Modify:u0003", LDAP_OTHER);
  Run(TRUE);
  EXPECT_EQ(total_, 34);
  EXPECT_EQ(succeeded_, 33);
  // Its wrapper was written first and names nothing; its own script stays.
  EXPECT_EQ(world_.ScriptOf("u0003"), "logon.bat");
  EXPECT_TRUE(Wrapper("u0003"));
  // The writes before and after it in the same transaction lasted.
  EXPECT_EQ(world_.ScriptOf("u0000"), "Qelu0000.bat");
  EXPECT_EQ(world_.ScriptOf("u0006"), "Qelu0006.bat");
  EXPECT_EQ(link_.Commits(), 1);
  EXPECT_FALSE(link_.InTransaction());

  Run(TRUE);
  EXPECT_EQ(world_.ScriptOf("u0003"), "Qelu0003.bat");

  // Removing: the account whose write fails keeps naming its wrapper, and
  // the wrapper stays.
  link_.plan().Fail("Modify:u0006", LDAP_OTHER);
  Run(FALSE);
  EXPECT_EQ(succeeded_, total_ - 1);
  EXPECT_EQ(world_.ScriptOf("u0006"), "Qelu0006.bat");
  EXPECT_TRUE(Wrapper("u0006"));
  EXPECT_EQ(world_.ScriptOf("u0003"), "logon.bat");
  EXPECT_FALSE(Wrapper("u0003"));
  Run(FALSE);
  EXPECT_EQ(world_.ScriptOf("u0006"), "logon.bat");
  EXPECT_FALSE(Wrapper("u0006"));
}

// A commit that fails is what the end of the process before the commit
// leaves behind: nothing of the transaction.
TEST_F(SambaRunTest, AWriteThatNeverLastsLosesNoScriptAndTheNextRunCompletes) {
  SelectSales();
  link_.plan().Fail("CommitTransaction", LDAP_OTHER);
  Run(TRUE);
  EXPECT_EQ(total_, 34);
  EXPECT_EQ(succeeded_, 0);
  for (int i : {0, 3, 39}) {
    EXPECT_EQ(world_.ScriptOf(Name(i)), "logon.bat");
    EXPECT_TRUE(Wrapper(Name(i)));  // written before the transaction, now naming nothing
  }
  EXPECT_EQ(world_.ScriptOf("u0002"), "");
  EXPECT_NE(world_.LogText().find("not committed"), std::string::npos);

  Run(TRUE);
  EXPECT_EQ(succeeded_, 34);
  EXPECT_EQ(world_.ScriptOf("u0003"), "Qelu0003.bat");

  link_.plan().Fail("CommitTransaction", LDAP_OTHER);
  Run(FALSE);
  EXPECT_EQ(succeeded_, 0);
  for (int i : {0, 3, 39}) {
    // Still naming its wrapper, and the wrapper still holds its own script.
    EXPECT_EQ(world_.ScriptOf(Name(i)), "Qel" + Name(i) + ".bat");
    EXPECT_TRUE(Wrapper(Name(i)));
  }
  Run(FALSE);
  EXPECT_EQ(succeeded_, 40);
  EXPECT_EQ(world_.ScriptOf("u0003"), "logon.bat");
  EXPECT_FALSE(Wrapper("u0003"));
}

// Pauses the run (as the page does) when an account is reported, and resumes
// it once the store holds no open transaction, or after five seconds.
class PausingPage : public RecordingReceiver {
 public:
  PausingPage(StoreLink& link, HANDLE pause) : link_(link), pause_(pause) {}
  ~PausingPage() override { Join(); }
  void Join() {
    if (resumer_.joinable()) resumer_.join();
  }
  int ReportProgress(int kind, LONG_PTR value) override {
    RecordingReceiver::ReportProgress(kind, value);
    if (value != 0 && kind == PROGRESS_SET_SCRIPT && reports.back().second == "u0005") {
      Sync().ResetEvent(pause_);
      resumer_ = std::thread([this] {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (link_.InTransaction() && std::chrono::steady_clock::now() < end)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        committedWhilePaused = !link_.InTransaction() && link_.Commits() == 1;
        Sync().SetEvent(pause_);
      });
    }
    return 1;
  }
  bool committedWhilePaused = false;

 private:
  StoreLink& link_;
  HANDLE pause_;
  std::thread resumer_;
};

// A paused run holds no transaction (the database would stay locked for as
// long as the administrator looks away): what it holds commits first.
TEST_F(SambaRunTest, APauseCommitsWhatTheRunHolds) {
  SelectSales();
  HANDLE pause = Sync().CreateEventA(TRUE, TRUE, nullptr);
  HANDLE stop = Sync().CreateEventA(FALSE, FALSE, nullptr);
  {
    PausingPage page(link_, pause);
    CScriptDeployer engine;
    engine.Init(&page, stop, pause);
    engine.SetCenterIP("10.1.2.3");
    engine.SetPackagePath(kPackage);
    EXPECT_TRUE(engine.ChangeAllScript(nullptr, TRUE));
    page.Join();
    EXPECT_TRUE(page.committedWhilePaused);
    EXPECT_EQ(engine.m_nSucceeded, 34);
    // Paused after its write: that account's group commits, the rest is another.
    EXPECT_EQ(link_.Commits(), 2);
  }
  Sync().CloseHandle(pause);
  Sync().CloseHandle(stop);
}

// Accounts are read ahead, so what a write decides on may be a while old: a
// script path changed by someone else meanwhile is never overwritten.
TEST_F(SambaRunTest, AScriptPathChangedSinceItWasReadIsNotOverwritten) {
  accounts_.ExpectAccounts({L"jdoe", L"kim"});
  for (const wchar_t* name : {L"jdoe", L"kim"}) {
    SCOPED_TRACE(WideToUtf8(name));
    LPBYTE buffer = nullptr;
    ASSERT_EQ(accounts_.NetUserGetInfo(nullptr, name, 3, &buffer), NERR_Success);
    USER_INFO_1009 other = {const_cast<LPWSTR>(L"other.bat")};
    ASSERT_EQ(world_.store().NetUserSetInfo(nullptr, name, 1009, reinterpret_cast<LPBYTE>(&other), nullptr),
              NERR_Success);
    USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
    info->usri3_script_path = const_cast<LPWSTR>(L"QelInstall.bat");
    EXPECT_NE(accounts_.NetUserSetInfo(nullptr, name, 3, buffer, nullptr), NERR_Success);
    EXPECT_EQ(world_.ScriptOf(WideToUtf8(name)), "other.bat");
    // Read again, the same write goes through.
    accounts_.NetApiBufferFree(buffer);
    ASSERT_EQ(accounts_.NetUserGetInfo(nullptr, name, 3, &buffer), NERR_Success);
    info = reinterpret_cast<USER_INFO_3*>(buffer);
    info->usri3_script_path = const_cast<LPWSTR>(L"QelInstall.bat");
    EXPECT_EQ(accounts_.NetUserSetInfo(nullptr, name, 3, buffer, nullptr), NERR_Success);
    EXPECT_EQ(world_.ScriptOf(WideToUtf8(name)), "QelInstall.bat");
    accounts_.NetApiBufferFree(buffer);
  }
}

class SambaLargeRunTest : public SambaRunTest {
 protected:
  SambaLargeRunTest() : SambaRunTest(1200) {}
};

TEST_F(SambaLargeRunTest, TransactionsAreBounded) {
  SelectSales();
  Run(TRUE);
  EXPECT_EQ(succeeded_, total_);
  EXPECT_LE(link_.LargestTransaction(), static_cast<size_t>(SambaAccounts::kGroupWrites));
  EXPECT_GE(link_.Commits(), 2);
  EXPECT_EQ(world_.ScriptOf(Name(1199)), "QelInstall.bat");
  EXPECT_EQ(world_.ScriptOf(Name(1197)), "Qelu1197.bat");
}

}  // namespace
}  // namespace qel::test
