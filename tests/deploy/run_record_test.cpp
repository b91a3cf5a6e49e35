// What-if, the run record and undo, through the engine on a test domain:
// a what-if decides exactly what the run then does and writes nothing; the
// record has a row for each decision; undo restores accounts and files.
#include "deploy/run_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "deploy/run_listing.h"
#include "deploy/run_undo.h"
#include "deploy/script_deployer.h"
#include "deploy/what_if.h"
#include "tests/deploy/deploy_world.h"
#include "tests/fakes/faulty_accounts.h"
#include "wizard/wizard_state.h"

namespace qel::test {
namespace {

constexpr unsigned kScripted = 0x201;
const char kPackage[] = "C:\\pkg\\QelSetup.exe";
const char kRecord[] = "C:\\record.csv";

// One account per row of the adding and the removing decision tables.
std::vector<TestAccount> TableDomain() {
  return {
      {"Sales", "nobit", "logon.bat", 0x200},          // the store reports UF_SCRIPT set all the same
      {"Sales", "carl", "QelInstall.bat", kScripted},  // already the product's
      {"Sales", "ann", "", kScripted},                 // no script
      {"Sales", "jdoe", "logon.bat", kScripted},       // own script
      {"Sales", "kim", "Qelkim.bat", kScripted},       // a wrapper without its record (below)
  };
}

class RecordTest : public ::testing::Test {
 protected:
  RecordTest() : world_(TableDomain()) {
    ClearUserNodes();
    TheWizardState() = WizardState();
    world_.env().WriteFile(kPackage, "package bytes");
    world_.env().WriteFile(world_.ScriptsFile("Qelkim.bat"),
                           "@ECHO OFF\r\nREM Please don't Change this batch file.\r\n"
                           "REM otherwise, maybe can't restore script file !\r\n");
    USER_NODE* unit = NewUserNode("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType);
    unit->bSelected = TRUE;
    g_UserNodeHead.pNext = unit;
    g_pLastUserNode = unit;
  }
  ~RecordTest() override {
    ClearUserNodes();
    TheWizardState() = WizardState();
  }
  void Run(BOOL install, IRunObserver* observer) {
    CScriptDeployer engine;
    engine.Init(&page_, nullptr, nullptr);
    engine.SetCenterIP("10.1.2.3");
    engine.SetPackagePath(kPackage);
    engine.SetObserver(observer);
    engine.ChangeAllScript(nullptr, install);
  }
  // Script path and flags of every account, and the scripts folder's files.
  std::string State() {
    std::string state;
    for (const TestAccount& account : TableDomain())
      state += account.name + "=" + world_.ScriptOf(account.name) + "/" + std::to_string(world_.FlagsOf(account.name)) +
               "\n";
    for (const char* file : {"QelCheck.exe", "QelSetup.exe", "QelInstall.bat", "SetupSet.ini", "Qeljdoe.bat",
                             "Qelkim.bat", "Qelnobit.bat"})
      if (world_.env().FileExists(world_.ScriptsFile(file)))
        state += std::string(file) + ":" + world_.env().ReadFile(world_.ScriptsFile(file)) + "\n";
    return state;
  }
  std::vector<RecordRow> ReadRecord() {
    std::vector<RecordRow> rows;
    std::string error;
    EXPECT_TRUE(ParseRunRecord("record.csv", world_.env().ReadFile(kRecord), &rows, &error)) << error;
    return rows;
  }
  const RecordRow* Row(const std::vector<RecordRow>& rows, const std::string& account) {
    for (const RecordRow& row : rows)
      if (row.account == account) return &row;
    return nullptr;
  }

  DeployWorld world_;
  RecordingReceiver page_;
};

class Lines : public IRunObserver {
 public:
  void OnAccount(const AccountDecision& d) override { lines.push_back(AccountLine(d)); }
  void OnFile(const FileDecision& d) override { lines.push_back(FileLine(d)); }
  std::vector<std::string> lines;
};

TEST_F(RecordTest, WhatIfDecidesWhatTheRunDoesAndWritesNothing) {
  for (BOOL install : {TRUE, FALSE}) {
    SCOPED_TRACE(install ? "add" : "remove");
    std::string before = State();
    Lines whatIf;
    std::vector<std::pair<int, std::string>> whatIfReports;
    {
      ScopedWhatIf scope;
      Run(install, &whatIf);
      EXPECT_EQ(scope.accounts().Writes(), install ? 3u : 5u);  // removing also finds carl and kim
    }
    whatIfReports.swap(page_.reports);
    EXPECT_EQ(State(), before);
    EXPECT_FALSE(world_.env().FileExists(kRecord));

    Lines real;
    Run(install, &real);
    EXPECT_EQ(whatIf.lines, real.lines);
    // The same list lines; only the copy's percent reports differ (nothing is copied).
    auto lines = [](std::vector<std::pair<int, std::string>> reports) {
      reports.erase(
          std::remove_if(reports.begin(), reports.end(), [](const auto& r) { return r.first == PROGRESS_SET_POS; }),
          reports.end());
      return reports;
    };
    EXPECT_EQ(lines(whatIfReports), lines(page_.reports));
    EXPECT_NE(State(), before);
    page_.reports.clear();
  }
}

TEST_F(RecordTest, RecordHasARowForEachDecision) {
  {
    RunRecord record("add", "DC1");
    ASSERT_TRUE(record.OpenAt(kRecord));
    Run(TRUE, &record);
  }
  std::string text = world_.env().ReadFile(kRecord);
  EXPECT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
  std::vector<RecordRow> rows = ReadRecord();
  ASSERT_EQ(rows.size(), 4u + 5u);  // the four staged files, then every account the search found
  EXPECT_EQ(rows[0].fileAction, "created");
  EXPECT_EQ(rows[0].file, world_.ScriptsFile("QelCheck.exe"));
  const RecordRow* jdoe = Row(rows, "jdoe");
  ASSERT_NE(jdoe, nullptr);
  EXPECT_EQ(jdoe->dn, "CN=jdoe,OU=Sales,DC=test,DC=lan");
  EXPECT_EQ(jdoe->before + ">" + jdoe->after + " " + jdoe->fileAction + " " + jdoe->file + " " + jdoe->result,
            "logon.bat>Qeljdoe.bat written Qeljdoe.bat changed");
  EXPECT_EQ(Row(rows, "ann")->after, "QelInstall.bat");
  EXPECT_EQ(Row(rows, "carl")->result, "skipped");
  EXPECT_EQ(Row(rows, "kim")->result, "skipped");

  world_.env().WriteFile(kRecord + std::string(), "");
  Files().DeleteFileA(kRecord);
  {
    RunRecord record("remove", "DC1");
    ASSERT_TRUE(record.OpenAt(kRecord));
    Run(FALSE, &record);
  }
  rows = ReadRecord();
  const RecordRow* restored = Row(rows, "jdoe");
  ASSERT_NE(restored, nullptr);
  EXPECT_EQ(restored->after + " " + restored->fileAction + " " + restored->reason,
            "logon.bat deleted own script restored from its wrapper batch");
  EXPECT_NE(restored->fileText.find("REM szScriptPath = logon.bat\n"), std::string::npos);
  EXPECT_EQ(Row(rows, "ann")->reason, "on the shared batch: cleared");
  EXPECT_EQ(Row(rows, "kim")->reason, "wrapper record missing: cleared");
}

TEST_F(RecordTest, AFailedAccountIsRecordedWithItsCode) {
  FaultyAccounts faulty;
  faulty.plan().Fail("NetUserSetInfo:ann", ERROR_ACCESS_DENIED);
  Ports().accounts = &faulty;
  {
    RunRecord record("add", "DC1");
    ASSERT_TRUE(record.OpenAt(kRecord));
    Run(TRUE, &record);
  }
  std::vector<RecordRow> rows = ReadRecord();
  ASSERT_NE(Row(rows, "ann"), nullptr);
  EXPECT_EQ(Row(rows, "ann")->result + ": " + Row(rows, "ann")->reason, "failed: account not written (error 5)");
  Ports().accounts = &world_.store();
}

// A run stopped after its second account: the record holds the staged files
// and exactly the accounts done, and reads back whole while it is still open
// (rows reach the disk as they happen, not when the record closes).
TEST_F(RecordTest, StoppedRunLeavesACompleteRecordOfWhatItDid) {
  class StopAfterTwo : public IRunObserver {
   public:
    StopAfterTwo(RunRecord* record, HANDLE stop, HANDLE pause) : record_(record), stop_(stop), pause_(pause) {}
    void OnAccount(const AccountDecision& d) override {
      record_->OnAccount(d);
      // As the page does on "Yes": the run holds, then stops.
      if (++accounts == 2) {
        Sync().ResetEvent(pause_);
        Sync().SetEvent(stop_);
      }
    }
    void OnFile(const FileDecision& d) override { record_->OnFile(d); }
    RunRecord* record_;
    HANDLE stop_;
    HANDLE pause_;
    int accounts = 0;
  };
  HANDLE pause = Sync().CreateEventA(TRUE, TRUE, nullptr);
  HANDLE stop = Sync().CreateEventA(FALSE, FALSE, nullptr);
  RunRecord record("add", "DC1");
  ASSERT_TRUE(record.OpenAt(kRecord));
  StopAfterTwo observer(&record, stop, pause);
  CScriptDeployer engine;
  engine.Init(&page_, stop, pause);
  engine.SetCenterIP("10.1.2.3");
  engine.SetPackagePath(kPackage);
  engine.SetObserver(&observer);
  engine.ChangeAllScript(nullptr, TRUE);
  EXPECT_EQ(observer.accounts, 2);
  std::vector<RecordRow> rows = ReadRecord();
  ASSERT_EQ(rows.size(), 4u + 2u);
  EXPECT_EQ(rows[4].account + " " + rows[4].result, "nobit changed");
  EXPECT_EQ(rows[5].account + " " + rows[5].result, "carl skipped");
  EXPECT_EQ(world_.ScriptOf("nobit"), "Qelnobit.bat");
  EXPECT_EQ(world_.ScriptOf("ann"), "");  // never reached
  Sync().CloseHandle(pause);
  Sync().CloseHandle(stop);
}

TEST_F(RecordTest, UndoRestoresAddAndRemoveAndLeavesAMovedAccountAlone) {
  for (BOOL install : {TRUE, FALSE}) {
    SCOPED_TRACE(install ? "add" : "remove");
    Files().DeleteFileA(kRecord);
    std::string before = State();
    {
      RunRecord record(install ? "add" : "remove", "DC1");
      ASSERT_TRUE(record.OpenAt(kRecord));
      Run(install, &record);
    }
    std::string after = State();
    std::vector<RecordRow> rows = ReadRecord();
    std::string error;
    ASSERT_TRUE(CheckUndoRecord("record.csv", rows, "DC1", &error)) << error;
    EXPECT_FALSE(CheckUndoRecord("record.csv", rows, "DC2", &error));
    EXPECT_NE(error.find("record.csv:2: the record is of domain controller \"DC1\""), std::string::npos) << error;

    // ann is changed by someone else after the run.
    USER_INFO_1009 moved = {const_cast<LPWSTR>(L"moved.bat")};
    ASSERT_EQ(world_.store().NetUserSetInfo(nullptr, L"ann", 1009, reinterpret_cast<LPBYTE>(&moved), nullptr), 0u);
    Lines lines;
    UndoCounts counts = UndoFromRecord(rows, kScriptsDir, &lines);
    EXPECT_EQ(counts.succeeded, counts.total - 1);
    EXPECT_EQ(world_.ScriptOf("ann"), "moved.bat");
    bool reported = false;
    for (const std::string& line : lines.lines)
      reported = reported ||
                 line.find("ann: \"moved.bat\" -> \"moved.bat\"; skipped: changed since the run") != std::string::npos;
    EXPECT_TRUE(reported);

    // Put back as the run left it: a second undo restores the rest, a third changes nothing.
    std::string annAfter = install ? "QelInstall.bat" : "";
    USER_INFO_1009 back = {const_cast<LPWSTR>(install ? L"QelInstall.bat" : L"")};
    world_.store().NetUserSetInfo(nullptr, L"ann", 1009, reinterpret_cast<LPBYTE>(&back), nullptr);
    counts = UndoFromRecord(rows, kScriptsDir, nullptr);
    EXPECT_EQ(counts.succeeded, counts.total);
    EXPECT_EQ(State(), before);
    counts = UndoFromRecord(rows, kScriptsDir, nullptr);
    EXPECT_EQ(counts.succeeded, counts.total);
    EXPECT_EQ(State(), before);
    if (install) Run(TRUE, nullptr);  // the removal undoes from the added state
    EXPECT_EQ(State(), install ? after : before);
  }
}

TEST(RecordParseTest, RefusesWhatIsNotACompleteRecordWithFileLineAndReason) {
  std::string header = std::string("\xEF\xBB\xBF") + kRunRecordHeader + "\r\n";
  std::string row =
      "2026-01-01 10:00:00,add,DC1,jdoe,,logon.bat,Qeljdoe.bat,0x201,0x201,written,Qeljdoe.bat,changed,x,\r\n";
  std::vector<RecordRow> rows;
  std::string error;
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      {"", "r.csv:1: empty file"},
      {"account,script\r\njdoe,x\r\n", "r.csv:1: not a run record"},
      {header + row + row.substr(0, 40), "r.csv:3: the last row has no line end"},
      {header + row + "2026,add,DC1,\"jdoe", "r.csv:3: a quoted field is not closed"},
      {header + "a,b,c\r\n", "r.csv:2: 3 fields"},
      {header + row + "2026-01-01 10:00:00,add,DC1,jdoe,,,,,,,,done,x,\r\n", "r.csv:3: unknown result \"done\""},
      {header + row + "2026-01-01 10:00:00,add,DC2,kim,,,,,,,,changed,x,\r\n",
       "r.csv:3: the row belongs to another run"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(ParseRunRecord("r.csv", c.text, &rows, &error)) << c.text;
    EXPECT_EQ(error.compare(0, c.error.size(), c.error), 0) << error;
    EXPECT_TRUE(rows.empty());
  }
  // Quoted fields keep commas, quotes and line breaks; lines count inside them.
  std::string quoted =
      "2026-01-01 10:00:00,remove,DC1,jdoe,\"CN=Doe, John\",Qeljdoe.bat,\"a \"\"b\"\".bat\",0x201,0x201,"
      "deleted,Qeljdoe.bat,changed,x,\"@ECHO OFF\n\nREM x\n\"\r\n";
  ASSERT_TRUE(ParseRunRecord("r.csv", header + quoted + row.substr(0, 19) + ",remove" + row.substr(23), &rows, &error))
      << error;
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].dn, "CN=Doe, John");
  EXPECT_EQ(rows[0].after, "a \"b\".bat");
  EXPECT_EQ(rows[0].fileText, "@ECHO OFF\n\nREM x\n");
  EXPECT_EQ(rows[1].line, 6);
}

}  // namespace
}  // namespace qel::test
