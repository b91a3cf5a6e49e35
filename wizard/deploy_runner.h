// The progress page's run: one CScriptDeployer on the worker thread.
#pragma once

#include <atomic>

#include "deploy/progress.h"
#include "wizard/page_finish.h"

namespace qel {

// Init with the receiver and the two events, SetCenterIP, SetPackagePath,
// ChangeAllScript(owner, install). The engine's message boxes go to `sink`.
// The run keeps its record beside the log and names it in a line after the
// result; a run that cannot make its record changes nothing and says so.
// When WhatIfRequested() is set, the next run is a what-if instead: it lists
// what it would do, account by account, and writes nothing.
DeploymentRun MakeScriptDeployerRun(HWND owner, IMessageSink* sink);

// Asks that the next run started by MakeScriptDeployerRun be a what-if;
// that run clears it.
std::atomic<bool>& WhatIfRequested();

}  // namespace qel
