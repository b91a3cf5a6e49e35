// The progress page's run: one CScriptDeployer on the worker thread.
#pragma once

#include "deploy/progress.h"
#include "wizard/page_finish.h"

namespace qel {

// Init with the receiver and the two events, SetCenterIP, SetPackagePath,
// ChangeAllScript(owner, install). The engine's message boxes go to `sink`.
DeploymentRun MakeScriptDeployerRun(HWND owner, IMessageSink* sink);

}  // namespace qel
