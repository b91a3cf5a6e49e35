#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/account_store.h"
#include "platform/netapi_types.h"
#include "platform/ports.h"
#include "res/string_table.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/page_finish.h"
#include "wizard/ui/rehearsal.h"
#include "wizard/wizard_page.h"

namespace qel {
namespace {

// The page's controls as texts and a bar model; safe to call from the worker.
class RecordingView : public IProgressPageView {
 public:
  void InitList() override { ++inits; }
  void SetHeading(const char* text) override { Locked([&] { heading = text; }); }
  void SetAction(const char* text) override { Locked([&] { action = text; }); }
  void SetRange(WORD upper) override { Locked([&] { bar.SetRange(upper); }); }
  void SetPos(int position) override { Locked([&] { bar.SetPos(position); }); }
  void StepIt() override { Locked([&] { bar.StepIt(); }); }
  int GetRangeUpper() override {
    std::lock_guard<std::mutex> lock(mutex);
    return bar.Upper();
  }
  void ClearList() override { Locked([&] { lines.clear(); }); }
  void AppendLine(const char* text) override {
    Locked([&] { lines.push_back(text); });
    if (afterDetach) ++callsAfterDetach;
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
  }
  template <class F>
  void Locked(F f) {
    std::lock_guard<std::mutex> lock(mutex);
    f();
  }

  std::mutex mutex;
  int inits = 0;
  std::string heading, action;
  ProgressBarModel bar;
  std::vector<std::string> lines;
  std::atomic<bool> afterDetach{false};
  std::atomic<int> callsAfterDetach{0};
};

LONG_PTR Text(const char* text) { return reinterpret_cast<LONG_PTR>(text); }

struct Page {
  Page() : page(&view, nullptr, state) {
    SetStringLanguage(1033);
    flow.AddPage(&page);
  }
  test::HostTestEnv env;
  WizardState state;
  RecordingView view;
  CPageFinish page;
  CWizardFlow flow;
};

TEST(ProgressReport, HeadingsItemsAndLabels) {
  Page p;
  p.page.ReportProgress(PROGRESS_COPY_FILE, 0);
  EXPECT_EQ(p.view.action, "Copy files:");
  p.page.ReportProgress(PROGRESS_COPY_FILE, Text("C:\\NETLOGON\\QelCheck.exe"));
  EXPECT_EQ(p.view.action, "Coping file     C:\\NETLOGON\\QelCheck.exe...");
  p.page.ReportProgress(PROGRESS_SET_SCRIPT, 0);
  p.page.ReportProgress(PROGRESS_SET_SCRIPT, Text("Backup Operator (backupop)"));
  EXPECT_EQ(p.view.action, "Setting logon script for     Backup Operator (backupop)...");
  p.page.ReportProgress(PROGRESS_REMOVE_SCRIPT, Text("alice"));
  EXPECT_EQ(p.view.action, "Remove logon script for     alice...");
  p.page.ReportProgress(PROGRESS_DELETE_FILE, Text("100%s.bat"));  // a value is never a format
  EXPECT_EQ(p.view.action, "Deleting file     100%s.bat...");
  p.page.ReportProgress(PROGRESS_DONE, Text(", total: 1 , Succeed: 1."));
  EXPECT_EQ(p.view.action, "Completed, total: 1 , Succeed: 1.");
  std::vector<std::string> expected = {"Copy files:",
                                       "    C:\\NETLOGON\\QelCheck.exe",
                                       "Set logon script for user:",
                                       "    Backup Operator (backupop)",
                                       "    alice",
                                       "    100%s.bat",
                                       "Completed, total: 1 , Succeed: 1."};
  EXPECT_EQ(p.view.Lines(), expected);
}

TEST(ProgressReport, UnknownKindsAndBarOnlyKindsAddNoLine) {
  Page p;
  p.page.ReportProgress(0, Text("x"));
  p.page.ReportProgress(9, Text("x"));
  p.page.ReportProgress(PROGRESS_SET_RANGE, 40);
  p.page.ReportProgress(PROGRESS_SET_POS, 25);
  EXPECT_TRUE(p.view.Lines().empty());
  EXPECT_EQ(p.view.bar.Upper(), 40);
  EXPECT_EQ(p.view.bar.Pos(), 25);
  EXPECT_EQ(p.page.ReportProgress(PROGRESS_DONE, 0), 1);
  EXPECT_EQ(p.view.Lines().back(), "Completed");
}

TEST(ProgressReport, ARefusedRunShowsItsReasonInsteadOfCompleted) {
  Page p;
  p.page.ReportProgress(PROGRESS_SET_RANGE, 100);
  p.page.ReportProgress(PROGRESS_FAILED, Text("The logon scripts folder C:\\x cannot be reached (error 3)."));
  EXPECT_EQ(p.view.action, "The logon scripts folder C:\\x cannot be reached (error 3).");
  EXPECT_EQ(p.view.Lines(), std::vector<std::string>{"The logon scripts folder C:\\x cannot be reached (error 3)."});
  EXPECT_EQ(p.view.bar.Pos(), 0);
}

// The runner's own lines (the record's path, what-if details) after the
// result: as given, with no step of the bar and no change of the label.
TEST(ProgressReport, NotesAreLinesOfTheirOwn) {
  Page p;
  p.page.ReportProgress(PROGRESS_DONE, Text(", total: 1 , Succeed: 1."));
  int position = p.view.bar.Pos();
  p.page.ReportProgress(PROGRESS_NOTE, Text("Run record: C:\\Log\\QelScript-20260101-100000.csv"));
  p.page.ReportProgress(PROGRESS_NOTE, 0);
  std::vector<std::string> expected = {"Completed, total: 1 , Succeed: 1.",
                                       "Run record: C:\\Log\\QelScript-20260101-100000.csv"};
  EXPECT_EQ(p.view.Lines(), expected);
  EXPECT_EQ(p.view.action, "Completed, total: 1 , Succeed: 1.");
  EXPECT_EQ(p.view.bar.Pos(), position);
}

TEST(ProgressReport, RangeIsUnsigned16BitAndPositionTheLowWordSigned) {
  Page p;
  p.page.ReportProgress(PROGRESS_SET_RANGE, 0x1FFFF);  // only the low word: 65535
  EXPECT_EQ(p.view.bar.Upper(), 65535);
  p.page.ReportProgress(PROGRESS_SET_POS, 0x10064);  // low word 100
  EXPECT_EQ(p.view.bar.Pos(), 100);
  p.page.ReportProgress(PROGRESS_SET_POS, 0xFFFF);  // -1, pulled to the lower end
  EXPECT_EQ(p.view.bar.Pos(), 0);
}

TEST(ProgressReport, EachLineStepsTheBarByTenAndWrapsPastTheEnd) {
  Page p;
  p.page.ReportProgress(PROGRESS_SET_RANGE, 25);
  p.page.ReportProgress(PROGRESS_SET_SCRIPT, 0);
  EXPECT_EQ(p.view.bar.Pos(), 10);
  p.page.ReportProgress(PROGRESS_SET_SCRIPT, Text("a"));
  EXPECT_EQ(p.view.bar.Pos(), 20);
  p.page.ReportProgress(PROGRESS_SET_SCRIPT, Text("b"));
  EXPECT_EQ(p.view.bar.Pos(), 0);
  p.page.ReportProgress(PROGRESS_DONE, Text("."));
  EXPECT_EQ(p.view.bar.Pos(), 25);  // the end of the range
}

TEST(ProgressReport, ActivationSetsHeadingByOperationAndFinishFollowsTheRun) {
  Page p;
  p.state.m_nOperation = OP_UNINSTALL;
  p.flow.Start();
  EXPECT_EQ(p.view.inits, 1);
  EXPECT_EQ(p.view.heading, "Delete user's logon script setting:");
  EXPECT_EQ(p.flow.WaitButtonsChange(PSWIZB_DISABLEDFINISH, 5000), PSWIZB_FINISH);
  EXPECT_FALSE(p.page.IsRunning());
}

// A deployment that checks the two events between its steps as the engine
// does (pause first, no time limit) and reports one item per step.
struct FakeRun {
  int steps = 50;
  std::atomic<int> done{0};
  std::atomic<bool> stopped{false};
  std::atomic<bool> release{false};  // holds the run before its first report until set
  std::atomic<bool> started{false};

  DeploymentRun Make() {
    return [this](IProgressReceiver* receiver, HANDLE stop, HANDLE pause, const WizardState&) {
      started = true;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      receiver->ReportProgress(PROGRESS_SET_SCRIPT, 0);
      for (int i = 0; i < steps; ++i) {
        HANDLE handles[2] = {pause, stop};
        if (Sync().WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
          stopped = true;
          return;
        }
        std::string item = "user" + std::to_string(i);
        receiver->ReportProgress(PROGRESS_SET_SCRIPT, reinterpret_cast<LONG_PTR>(item.c_str()));
        ++done;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      receiver->ReportProgress(PROGRESS_DONE, reinterpret_cast<LONG_PTR>(", total: 50 , Succeed: 50."));
    };
  }
};

struct RunningPage {
  explicit RunningPage(std::function<int(const char*, UINT)> answer)
      : flow([this, answer](const char* text, UINT type) {
          question = text;
          questionType = type;
          ++questions;
          return answer(text, type);
        }) {
    SetStringLanguage(1033);
    state.m_nOperation = OP_INSTALL;
    page = std::make_unique<CPageFinish>(&view, run.Make(), state);
    flow.AddPage(page.get());
  }
  test::HostTestEnv env;
  WizardState state;
  RecordingView view;
  FakeRun run;
  std::string question;
  UINT questionType = 0;
  int questions = 0;
  CWizardFlow flow;
  std::unique_ptr<CPageFinish> page;
};

void WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 10000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(ProgressCancel, NoLetsTheRunGoOnWithoutLosingALine) {
  int held = -1;
  RunningPage* self = nullptr;
  RunningPage p([&](const char*, UINT) {
    // While the question is open the run holds at its next check.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int before = self->run.done;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    held = self->run.done - before;
    return IDNO;
  });
  self = &p;
  p.flow.Start();
  p.run.release = true;
  WaitFor([&] { return p.run.done >= 5; });
  EXPECT_FALSE(p.flow.Cancel());
  EXPECT_EQ(p.question, "Setting not finished, Are you sure to exit?");
  EXPECT_EQ(p.questionType, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
  EXPECT_EQ(held, 0);
  EXPECT_EQ(p.flow.WaitButtonsChange(PSWIZB_DISABLEDFINISH, 10000), PSWIZB_FINISH);
  EXPECT_FALSE(p.run.stopped);
  std::vector<std::string> lines = p.view.Lines();
  ASSERT_EQ(lines.size(), 52u);  // heading, 50 items, Completed
  for (int i = 0; i < 50; ++i) EXPECT_EQ(lines[static_cast<size_t>(i + 1)], "    user" + std::to_string(i));
  EXPECT_EQ(lines.back(), "Completed, total: 50 , Succeed: 50.");
}

TEST(ProgressCancel, YesStopsTheRunAndClosesTheWizard) {
  RunningPage p([](const char*, UINT) { return IDYES; });
  p.flow.Start();
  p.run.release = true;
  WaitFor([&] { return p.run.done >= 3; });
  EXPECT_TRUE(p.flow.Cancel());
  EXPECT_TRUE(p.flow.IsClosed());
  WaitFor([&] { return p.run.stopped.load(); });
  EXPECT_TRUE(p.run.stopped);
  EXPECT_LT(p.run.done, 50);
  EXPECT_EQ(p.flow.WaitButtonsChange(PSWIZB_DISABLEDFINISH, 5000), PSWIZB_FINISH);
}

TEST(ProgressCancel, AfterTheRunNoQuestion) {
  RunningPage p([](const char*, UINT) { return IDNO; });
  p.run.steps = 2;
  p.flow.Start();
  p.run.release = true;
  EXPECT_EQ(p.flow.WaitButtonsChange(PSWIZB_DISABLEDFINISH, 5000), PSWIZB_FINISH);
  EXPECT_TRUE(p.flow.Cancel());
  EXPECT_EQ(p.questions, 0);
}

// The wizard closed during the run and the page is gone: the worker goes on
// reporting into nothing, and no report reaches the page's controls.
TEST(ProgressCancel, TheWorkerNeverCallsAPageThatIsGone) {
  RunningPage p([](const char*, UINT) { return IDYES; });
  p.flow.Start();
  WaitFor([&] { return p.run.started.load(); });
  EXPECT_TRUE(IsDeploymentRunActive());
  p.page.reset();
  p.view.afterDetach = true;
  p.run.release = true;
  WaitFor([] { return !IsDeploymentRunActive(); });
  EXPECT_FALSE(IsDeploymentRunActive());
  EXPECT_EQ(p.run.done, 50);
  EXPECT_EQ(p.view.callsAfterDetach, 0);
}

// Closing with Yes while the worker is inside a step (here: before its first
// check). The program waits for the stop point before it shuts anything, and
// the wait is bounded: a worker still stuck is reported, not waited for.
TEST(StoppedRunAtExit, TheWaitEndsAtTheWorkersStopPointAndIsBounded) {
  RunningPage p([](const char*, UINT) { return IDYES; });
  p.flow.Start();
  WaitFor([&] { return p.run.started.load(); });
  EXPECT_TRUE(p.flow.Cancel());
  p.page.reset();
  EXPECT_FALSE(WaitForDeploymentRuns(50));  // still inside the step
  int pumped = 0;
  p.run.release = true;
  EXPECT_TRUE(WaitForDeploymentRuns(10000, [&] { ++pumped; }));
  EXPECT_FALSE(IsDeploymentRunActive());
  EXPECT_TRUE(p.run.stopped);  // at its first check, as the administrator asked
  EXPECT_EQ(p.run.done, 0);
}

// A rehearsal finished while a stopped run is still inside a step keeps its
// ports: the step's write lands in the domain copy, never in the accounts the
// program had before the rehearsal.
TEST(StoppedRunAtExit, ARehearsalFinishedUnderARunKeepsItsWrites) {
  test::HostTestEnv env;
  env.MakeDirectory("C:\\Rehearsal");
  std::string sample = std::string(QEL_SOURCE_DIR) + "/samples/sample-domain.ldif";
  std::string folder = env.root() + "/C/Rehearsal";
  IAccountStore* before = Ports().accounts;
  std::atomic<bool> release{false}, started{false};
  std::atomic<DWORD> written{0xFFFFFFFF};
  DeploymentRun run = [&](IProgressReceiver*, HANDLE, HANDLE, const WizardState&) {
    started = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    USER_INFO_1009 info = {const_cast<wchar_t*>(L"Qelrscott.bat")};
    written = Ports().accounts->NetUserSetInfo(nullptr, L"rscott", 1009, reinterpret_cast<LPBYTE>(&info), nullptr);
  };
  std::string error;
  {
    Rehearsal rehearsal;
    ASSERT_TRUE(rehearsal.Start(sample, folder, "C:\\Rehearsal", &error)) << error;
    IAccountStore* rehearsed = Ports().accounts;
    WizardState state;
    RecordingView view;
    CWizardFlow flow;
    auto page = std::make_unique<CPageFinish>(&view, run, state);
    flow.AddPage(page.get());
    flow.Start();
    WaitFor([&] { return started.load(); });
    page.reset();
    EXPECT_TRUE(rehearsal.Finish(&error)) << error;
    EXPECT_EQ(Ports().accounts, rehearsed);
    release = true;
    EXPECT_TRUE(WaitForDeploymentRuns(10000));
    EXPECT_EQ(written, 0u);
  }
  EXPECT_EQ(Ports().accounts, before);  // put back once the run had ended
  Rehearsal again;
  ASSERT_TRUE(again.Start(sample, folder, "C:\\Rehearsal", &error)) << error;
  LPBYTE buffer = nullptr;
  ASSERT_EQ(Ports().accounts->NetUserGetInfo(nullptr, L"rscott", 3, &buffer), 0u);
  EXPECT_EQ(std::wstring(reinterpret_cast<USER_INFO_3*>(buffer)->usri3_script_path), L"Qelrscott.bat");
  Ports().accounts->NetApiBufferFree(buffer);
  EXPECT_TRUE(again.Finish(&error)) << error;
}

}  // namespace
}  // namespace qel
