// Start-up of QelScript: the domain-controller gate, the application object
// and the directory's default naming context.
#pragma once

#include <functional>

#include "platform/win_types.h"
#include "wizard/wizard_state.h"

namespace qel {

// The controller the domain locator returns, without its two leading
// backslashes, through "netapi32.dll" of Loader(): DsGetDcNameA on major
// version 5 or later, NetGetDCName below. `name` holds 260 bytes. 0 on
// success, else the error of the library, the entry point or the call.
DWORD FindDomainControllerName(char* name);

// Case-insensitive comparison of two ANSI texts that steps over double-byte
// characters whole (_mbsicmp): <0, 0, >0.
int MbsICmp(const char* left, const char* right);

// The directory's default naming context (rootDSE) through Directory().
// `capacity` is in characters. 1 when the buffer was filled; 0 for a null
// capacity, a value that does not fit (the needed length is then stored in
// *capacity) or a value that could not be read (0 stored); the system error
// when the provider cannot be loaded.
DWORD GetDefaultNamingContext(wchar_t* buffer, DWORD* capacity);

// What the start-up shows and runs: the message boxes (string ids 121 and
// 122, MB_OK without owner) and the modal wizard.
struct StartupHooks {
  std::function<void(UINT stringId)> showMessage;
  std::function<void()> runWizard;
};

class CScriptWizardApp {
 public:
  explicit CScriptWizardApp(WizardState& state = TheWizardState()) : m_state(state) {}

  // The whole start-up: version, entry points, controller, computer name,
  // then the wizard. Always FALSE: the program ends after it.
  BOOL InitInstance(const StartupHooks& hooks);
  // Empties the selected-user list. 0.
  int ExitInstance();

  // The gate alone: 0 when this computer is the domain's controller, else the
  // string id of the message to show (121 or 122). Fills m_dwMajorVersion
  // and m_szDCName.
  UINT CheckDomainController();

 private:
  WizardState& m_state;
};

}  // namespace qel
