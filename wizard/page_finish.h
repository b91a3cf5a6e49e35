// The progress page (dialog 110): starts the deployment run on a worker
// thread and shows what it reports.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "deploy/progress.h"
#include "wizard/wizard_page.h"
#include "wizard/wizard_state.h"

namespace qel {

// The page's controls: heading 1005, action label 1004, progress bar 1000 and
// list 1017. The Win32 view sends its messages to the controls, so every call
// made on the worker thread is carried out by the main thread.
class IProgressPageView {
 public:
  virtual void InitList() = 0;                    // one empty, left-aligned column of 426 pixels
  virtual void SetHeading(const char* text) = 0;  // 1005
  virtual void SetAction(const char* text) = 0;   // 1004
  virtual void SetRange(WORD upper) = 0;          // PBM_SETRANGE 0..upper
  virtual void SetPos(int position) = 0;          // PBM_SETPOS
  virtual void StepIt() = 0;                      // PBM_STEPIT
  virtual int GetRangeUpper() = 0;                // PBM_GETRANGE, upper end
  virtual void ClearList() = 0;                   // LVM_DELETEALLITEMS
  virtual void AppendLine(const char* text) = 0;  // new last item, scrolled into view

 protected:
  ~IProgressPageView() = default;
};

// The bar of a view without a control: range 0..100, position 0, step 10;
// positions outside the range are pulled into it, and a step past the upper
// end starts again from the lower one, as the common control does.
class ProgressBarModel {
 public:
  void SetRange(WORD upper) {
    m_nUpper = upper;
    if (m_nPos > m_nUpper) m_nPos = m_nUpper;
  }
  void SetPos(int position) { m_nPos = position < 0 ? 0 : (position > m_nUpper ? m_nUpper : position); }
  void StepIt() {
    m_nPos += m_nStep;
    if (m_nPos > m_nUpper) m_nPos = 0;
  }
  int Upper() const { return m_nUpper; }
  int Pos() const { return m_nPos; }

 private:
  int m_nUpper = 100;
  int m_nPos = 0;
  int m_nStep = 10;
};

class CPageFinish;

// What the worker thread reports to. The page and the worker share it; the
// page detaches itself before it goes away, after which reports go nowhere.
// It also owns the run's two events, so that they outlive the page for as
// long as the worker may still wait on them.
class ProgressRelay : public IProgressReceiver {
 public:
  ProgressRelay(CPageFinish* page, HANDLE stopEvent, HANDLE pauseEvent);
  ~ProgressRelay();
  ProgressRelay(const ProgressRelay&) = delete;
  ProgressRelay& operator=(const ProgressRelay&) = delete;

  int ReportProgress(int kind, LONG_PTR value) override;
  void RunFinished();
  // Cuts the page off. Waits for a report that is being carried out; `pump`
  // runs between the checks (the Win32 page lets sent messages through, so a
  // worker waiting on the main thread can finish its report).
  void Detach(const std::function<void()>& pump);

  HANDLE StopEvent() const { return m_hStopEvent; }
  HANDLE PauseEvent() const { return m_hPauseEvent; }

 private:
  CPageFinish* Enter();
  void Leave();

  std::mutex m_mutex;
  CPageFinish* m_pPage;
  int m_nBusy = 0;
  HANDLE m_hStopEvent;
  HANDLE m_hPauseEvent;
};

// One deployment run on the worker thread: Init, SetCenterIP, SetPackagePath,
// ChangeAllScript with the receiver and the two events.
using DeploymentRun = std::function<void(IProgressReceiver* receiver, HANDLE stopEvent, HANDLE pauseEvent,
                                         const WizardState& state)>;

class CPageFinish : public CWizardPage {
 public:
  CPageFinish(IProgressPageView* view, DeploymentRun run, WizardState& state = TheWizardState());
  ~CPageFinish() override;

  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  BOOL OnQueryCancel() override;

  // Called by the run on the worker thread. Always 1.
  int ReportProgress(int kind, LONG_PTR value);
  // Called on the worker thread after the run.
  void OnRunFinished();
  static DWORD WINAPI ProgressThreadProc(LPVOID parameter);

  BOOL IsRunning() const { return m_bRunning.load(); }
  void SetDetachPump(std::function<void()> pump) { m_pump = std::move(pump); }

  HANDLE m_hStopEvent = nullptr;   // auto reset, not signalled: the administrator confirmed cancelling
  HANDLE m_hPauseEvent = nullptr;  // manual reset, signalled: the run may go on
  std::atomic<BOOL> m_bRunning{FALSE};

 private:
  std::string Text(UINT id) const;

  IProgressPageView* m_pView;
  DeploymentRun m_run;
  WizardState& m_state;
  std::shared_ptr<ProgressRelay> m_relay;
  std::function<void()> m_pump;
};

// True while a worker started by a progress page has not returned; the
// program's exit leaves the node list alone then, because the run may still
// be reading it.
BOOL IsDeploymentRunActive();

// Waits until every worker started by a progress page has returned, at most
// `milliseconds`, running `pump` (if any) between the checks. TRUE when none
// is left. After the administrator stopped a run and the wizard closed, the
// worker may still be inside a step (an account being written); the program
// waits here before it shuts the log and the domain that step writes to.
BOOL WaitForDeploymentRuns(DWORD milliseconds, const std::function<void()>& pump = nullptr);

// "%s" of `format` replaced by `value` (and "%%" by "%"), without letting
// either text act as a format.
std::string FormatWithText(const std::string& format, const std::string& value);

}  // namespace qel
