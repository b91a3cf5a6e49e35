// Undo from a run record: every account the record shows changed goes back
// to its script path (and flags) of before the run, but only where it still
// holds what the run left; wrappers the run deleted are recreated from the
// text the record keeps, wrappers it wrote are deleted once their account no
// longer names them, and staged files the run created are deleted once every
// account it changed is back as it was. Running it again changes nothing more.
#pragma once

#include <string>
#include <vector>

#include "deploy/run_observer.h"
#include "deploy/run_record.h"

namespace qel {

struct UndoCounts {
  int total = 0;      // account rows looked at
  int succeeded = 0;  // restored, or already as before the run
};

// Checks that the record can be undone here before anything is touched:
// FALSE with "NAME:LINE: reason" when it names another controller or a row
// cannot be undone (an account without a name, flags that are no number).
bool CheckUndoRecord(const std::string& name, const std::vector<RecordRow>& rows, const char* controller,
                     std::string* error);

// Undoes the rows through the account entry points and the file port.
// scriptsDir: the NETLOGON scripts folder. observer (may be null) hears each
// account and file as the undo goes.
UndoCounts UndoFromRecord(const std::vector<RecordRow>& rows, const char* scriptsDir, IRunObserver* observer);

}  // namespace qel
