#include "wizard/deploy_runner.h"

#include <memory>
#include <string>

#include "deploy/run_listing.h"
#include "deploy/run_record.h"
#include "deploy/script_deployer.h"
#include "deploy/text_util.h"
#include "deploy/what_if.h"
#include "log/log_utility.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace qel {

namespace {

std::string Text(UINT id) {
  char buffer[512] = {};
  LoadResString(id, buffer, sizeof buffer);
  return buffer;
}

void Note(IProgressReceiver* receiver, const std::string& line) {
  if (receiver != nullptr) receiver->ReportProgress(PROGRESS_NOTE, reinterpret_cast<LONG_PTR>(line.c_str()));
}

// The lines of a what-if, in the code page of the program's texts.
class WhatIfNotes : public IRunObserver {
 public:
  explicit WhatIfNotes(IProgressReceiver* receiver) : m_pReceiver(receiver) {}
  void OnAccount(const AccountDecision& decision) override { Say(AccountLine(decision)); }
  void OnFile(const FileDecision& decision) override { Say(FileLine(decision)); }

 private:
  void Say(const std::string& utf8) {
    std::wstring wide;
    if (!Utf8ToWideText(utf8, &wide)) return;
    Note(m_pReceiver, AnsiString(wide.c_str()));
  }
  IProgressReceiver* m_pReceiver;
};

}  // namespace

std::atomic<bool>& WhatIfRequested() {
  static std::atomic<bool> requested{false};
  return requested;
}

DeploymentRun MakeScriptDeployerRun(HWND owner, IMessageSink* sink) {
  return [owner, sink](IProgressReceiver* receiver, HANDLE stopEvent, HANDLE pauseEvent, const WizardState& state) {
    bool whatIf = WhatIfRequested().exchange(false);
    // A what-if stands in for the account port; where the real entry points
    // are used (the Windows program) there is none to stand in for.
    if (whatIf && Ports().accounts == nullptr) {
      Note(receiver, Text(IDS_WHATIF_UNAVAILABLE));
      return;
    }
    std::unique_ptr<ScopedWhatIf> scope;
    if (whatIf) scope.reset(new ScopedWhatIf);
    BOOL install = state.m_nOperation == OP_INSTALL;
    CScriptDeployer deployer;
    deployer.SetMessageSink(sink);
    deployer.Init(receiver, stopEvent, pauseEvent);
    deployer.SetCenterIP(state.m_strCenterIP.c_str());
    deployer.SetPackagePath(state.m_strPackagePath.c_str());
    RunRecord record(install ? "add" : "remove", deployer.m_szComputerName);
    WhatIfNotes notes(receiver);
    if (whatIf) {
      Note(receiver, Text(IDS_WHATIF_HEADING));
      deployer.SetObserver(&notes);
    } else {
      // Without its record the run could not be undone: it does not start.
      char folder[MAX_PATH] = {};
      GetLogDirectory(folder);
      if (!record.Open(folder)) {
        _NCOvLogUtility::Warning("[ChangeAllScript]  Run record not created in %s (%lu), nothing done!", folder,
                                 static_cast<unsigned long>(QelGetLastError()));
        if (sink != nullptr)
          sink->ShowMessage(FormatWithText(Text(IDS_RECORD_FAILED), folder).c_str(), Text(IDS_CAPTION).c_str());
        return;
      }
      deployer.SetObserver(&record);
    }
    deployer.ChangeAllScript(owner, install);
    Note(receiver, whatIf ? Text(IDS_WHATIF_DONE) : FormatWithText(Text(IDS_RUN_RECORD), record.Path()));
  };
}

}  // namespace qel
