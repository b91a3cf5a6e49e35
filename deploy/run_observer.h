// What the engine decided, step by step, for whoever keeps an account of a
// run: the run record and the what-if listing. The engine calls the observer
// on the run's worker thread; the texts are valid only during the call.
#pragma once

#include "platform/win_types.h"

namespace qel {

enum RunResult {
  RUN_CHANGED = 0,    // written (account) or done (file)
  RUN_UNCHANGED = 1,  // nothing needed
  RUN_FAILED = 2,
  RUN_SKIPPED = 3,    // passed over (a container's account with nothing to do, files kept)
};

enum FileAction {
  FILE_NONE = 0,
  FILE_WRITTEN = 1,  // a wrapper batch written, or a staged file put in place
  FILE_DELETED = 2,
  FILE_KEPT = 3,     // the clean-up left the staged files where they are
};

// One account of a run: its logon script before and after, and the wrapper
// batch the change wrote or deleted.
struct AccountDecision {
  const char* account = "";      // logon name, ANSI
  const wchar_t* dn = nullptr;   // distinguished name, when the directory gave it
  const char* before = "";       // script path as read, ANSI
  const char* after = "";        // script path as written (as before when not written)
  BOOL read = FALSE;              // the account was read: the flags are known
  DWORD flagsBefore = 0;
  DWORD flagsAfter = 0;
  int fileAction = FILE_NONE;
  const char* file = "";         // wrapper file name ("Qeljdoe.bat")
  const char* fileText = "";     // a deleted wrapper's text, to recreate it
  int result = RUN_UNCHANGED;
  const char* reason = "";
  DWORD error = 0;               // the platform's code of a failure, or 0
};

// One staged file of a run: put in place, deleted, or kept by the clean-up.
struct FileDecision {
  const char* path = "";
  int action = FILE_NONE;
  BOOL existed = FALSE;  // the file was there before the run touched it
  int result = RUN_CHANGED;
  const char* reason = "";
  DWORD error = 0;
};

class IRunObserver {
 public:
  virtual void OnAccount(const AccountDecision& decision) = 0;
  virtual void OnFile(const FileDecision& decision) = 0;

 protected:
  virtual ~IRunObserver() = default;
};

}  // namespace qel
