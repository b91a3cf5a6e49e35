#include "wizard/deploy_runner.h"

#include "deploy/script_deployer.h"

namespace qel {

DeploymentRun MakeScriptDeployerRun(HWND owner, IMessageSink* sink) {
  return [owner, sink](IProgressReceiver* receiver, HANDLE stopEvent, HANDLE pauseEvent, const WizardState& state) {
    CScriptDeployer deployer;
    deployer.SetMessageSink(sink);
    deployer.Init(receiver, stopEvent, pauseEvent);
    deployer.SetCenterIP(state.m_strCenterIP.c_str());
    deployer.SetPackagePath(state.m_strPackagePath.c_str());
    deployer.ChangeAllScript(owner, state.m_nOperation == OP_INSTALL);
  };
}

}  // namespace qel
