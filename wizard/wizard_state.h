// The administrator's choices, written by the pages on the main thread and
// read (never changed) by the deployment run.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace qel {

enum WizardOperation {
  OP_NONE = 0,       // nothing chosen yet
  OP_INSTALL = 1,    // add logon scripts
  OP_UNINSTALL = 2,  // remove logon scripts
};

struct WizardState {
  int m_nOperation = OP_NONE;
  std::string m_strCenterIP;     // system center address as typed (dotted IPv4)
  std::string m_strPackagePath;  // full path of the install package, trimmed
  DWORD m_dwMajorVersion = 0;    // operating-system major version
  char m_szDCName[260] = {};     // the domain controller's name
  BOOL NoCopyWhenExist = FALSE;  // add without copying files that already exist
  BOOL RemoveWhenExist = FALSE;  // after removal, delete the staged files when unused
};

// The process's one wizard state, owned by the application object.
WizardState& TheWizardState();

}  // namespace qel
