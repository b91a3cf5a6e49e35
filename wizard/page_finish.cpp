#include "wizard/page_finish.h"

#include "platform/ports.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace qel {

namespace {

std::atomic<int> g_runsInFlight{0};

struct RunContext {
  std::shared_ptr<ProgressRelay> relay;
  DeploymentRun run;
  const WizardState* state;
};

struct KindTexts {
  UINT heading;
  UINT label;
};

// Kinds 3 to 6: the heading of the list section and the label of one item.
const KindTexts kKindTexts[] = {
    {IDS_COPY_HEADING, IDS_COPY_ITEM},
    {IDS_SET_SCRIPT_HEADING, IDS_SET_SCRIPT_ITEM},
    {IDS_REMOVE_SCRIPT_HEADING, IDS_REMOVE_SCRIPT_ITEM},
    {IDS_DELETE_HEADING, IDS_DELETE_ITEM},
};

}  // namespace

BOOL IsDeploymentRunActive() { return g_runsInFlight.load() > 0; }

BOOL WaitForDeploymentRuns(DWORD milliseconds, const std::function<void()>& pump) {
  DWORD start = System().GetTickCount();
  while (IsDeploymentRunActive()) {
    if (System().GetTickCount() - start >= milliseconds) return FALSE;
    if (pump) pump();
    System().Sleep(10);
  }
  return TRUE;
}

std::string FormatWithText(const std::string& format, const std::string& value) {
  std::string out;
  bool substituted = false;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (format[i + 1] == 's' && !substituted) {
        out += value;
        substituted = true;
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

// ---------------------------------------------------------------- relay

ProgressRelay::ProgressRelay(CPageFinish* page, HANDLE stopEvent, HANDLE pauseEvent)
    : m_pPage(page), m_hStopEvent(stopEvent), m_hPauseEvent(pauseEvent) {}

ProgressRelay::~ProgressRelay() {
  if (m_hStopEvent != nullptr) Sync().CloseHandle(m_hStopEvent);
  if (m_hPauseEvent != nullptr) Sync().CloseHandle(m_hPauseEvent);
}

CPageFinish* ProgressRelay::Enter() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pPage != nullptr) ++m_nBusy;
  return m_pPage;
}

void ProgressRelay::Leave() {
  std::lock_guard<std::mutex> lock(m_mutex);
  --m_nBusy;
}

int ProgressRelay::ReportProgress(int kind, LONG_PTR value) {
  CPageFinish* page = Enter();
  if (page == nullptr) return 1;
  page->ReportProgress(kind, value);
  Leave();
  return 1;
}

void ProgressRelay::RunFinished() {
  CPageFinish* page = Enter();
  if (page == nullptr) return;
  page->OnRunFinished();
  Leave();
}

void ProgressRelay::Detach(const std::function<void()>& pump) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pPage = nullptr;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_nBusy == 0) return;
    }
    if (pump) pump();
    System().Sleep(1);
  }
}

// ---------------------------------------------------------------- page

CPageFinish::CPageFinish(IProgressPageView* view, DeploymentRun run, WizardState& state)
    : CWizardPage(IDD_PAGE_FINISH), m_pView(view), m_run(std::move(run)), m_state(state) {}

CPageFinish::~CPageFinish() {
  // The worker may outlive the page (the administrator closed the wizard
  // during the run): from here on its reports go nowhere. The events belong
  // to the relay and are closed when the worker lets go of it too.
  if (m_relay) m_relay->Detach(m_pump);
}

std::string CPageFinish::Text(UINT id) const {
  char buffer[512];
  LoadResString(id, buffer, sizeof(buffer));
  return buffer;
}

BOOL CPageFinish::OnInitDialog() {
  m_pView->InitList();
  return TRUE;
}

BOOL CPageFinish::OnSetActive() {
  if (m_pSheet != nullptr) {
    m_pSheet->PostWizardButtons(PSWIZB_DISABLEDFINISH);
    m_pSheet->HideCancelButton();
  }
  m_pView->SetPos(0);
  m_pView->ClearList();
  m_pView->SetHeading(
      Text(m_state.m_nOperation == OP_INSTALL ? IDS_SET_SCRIPT_HEADING : IDS_REMOVE_SCRIPT_HEADING).c_str());

  if (m_hPauseEvent == nullptr) m_hPauseEvent = Sync().CreateEventA(TRUE, TRUE, nullptr);
  if (m_hStopEvent == nullptr) m_hStopEvent = Sync().CreateEventA(FALSE, FALSE, nullptr);
  if (!m_relay) m_relay = std::make_shared<ProgressRelay>(this, m_hStopEvent, m_hPauseEvent);

  m_bRunning = TRUE;
  auto* context = new RunContext{m_relay, m_run, &m_state};
  ++g_runsInFlight;
  HANDLE thread = Sync().CreateThread(&CPageFinish::ProgressThreadProc, context, nullptr);
  if (thread != nullptr) {
    Sync().CloseHandle(thread);
  } else {
    // No worker: nothing runs, so nothing may keep the wizard from closing.
    --g_runsInFlight;
    delete context;
    OnRunFinished();
  }
  return TRUE;
}

DWORD WINAPI CPageFinish::ProgressThreadProc(LPVOID parameter) {
  std::unique_ptr<RunContext> context(static_cast<RunContext*>(parameter));
  if (context->run) {
    context->run(context->relay.get(), context->relay->StopEvent(), context->relay->PauseEvent(),
                 *context->state);
  }
  context->relay->RunFinished();
  context.reset();
  --g_runsInFlight;
  return 0;
}

void CPageFinish::OnRunFinished() {
  // The flag first: once Finish shows, closing must not ask any more.
  m_bRunning = FALSE;
  if (m_pSheet != nullptr) m_pSheet->PostWizardButtons(PSWIZB_FINISH);
}

BOOL CPageFinish::OnQueryCancel() {
  if (!m_bRunning) return TRUE;
  // Hold the run at its next check while the question is open.
  Sync().ResetEvent(m_hPauseEvent);
  int answer = m_pSheet != nullptr
                   ? m_pSheet->MessageBox(Text(IDS_CONFIRM_EXIT).c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2)
                   : IDNO;
  if (answer != IDYES) {
    Sync().SetEvent(m_hPauseEvent);
    return FALSE;
  }
  Sync().SetEvent(m_hStopEvent);
  return TRUE;
}

int CPageFinish::ReportProgress(int kind, LONG_PTR value) {
  if (kind == PROGRESS_NOTE) {
    if (value != 0) m_pView->AppendLine(reinterpret_cast<const char*>(value));
    return 1;
  }
  if (kind < PROGRESS_SET_RANGE || kind > PROGRESS_FAILED) return 1;
  if (kind == PROGRESS_SET_RANGE) {
    m_pView->SetRange(static_cast<WORD>(value & 0xFFFF));
    return 1;
  }
  if (kind == PROGRESS_SET_POS) {
    m_pView->SetPos(static_cast<short>(value & 0xFFFF));
    return 1;
  }
  const char* text = reinterpret_cast<const char*>(value);
  std::string line;
  if (kind == PROGRESS_FAILED) {
    // The run refused to start: its reason stands where "Completed" would.
    line = text != nullptr ? text : "";
    m_pView->SetAction(line.c_str());
  } else if (kind == PROGRESS_DONE) {
    m_pView->SetPos(m_pView->GetRangeUpper());
    line = Text(IDS_COMPLETED) + (text != nullptr ? text : "");
    m_pView->SetAction(line.c_str());
  } else {
    m_pView->StepIt();
    const KindTexts& texts = kKindTexts[kind - PROGRESS_COPY_FILE];
    if (text == nullptr) {
      line = Text(texts.heading);
      m_pView->SetAction(line.c_str());
    } else {
      line = std::string("    ") + text;
      m_pView->SetAction(FormatWithText(Text(texts.label), line).c_str());
    }
  }
  m_pView->AppendLine(line.c_str());
  return 1;
}

}  // namespace qel
