// What the deployment engine reports while it runs, and to whom.
#pragma once

#include "platform/win_types.h"

namespace qel {

enum ProgressKind {
  PROGRESS_SET_RANGE = 1,      // value: N, the bar's range is 0..N
  PROGRESS_SET_POS = 2,        // value: percent of the file being copied
  PROGRESS_COPY_FILE = 3,      // value: null (heading) or the destination path
  PROGRESS_SET_SCRIPT = 4,     // value: null (heading) or the account's display text
  PROGRESS_REMOVE_SCRIPT = 5,  // value: null (heading) or the account's display text
  PROGRESS_DELETE_FILE = 6,    // value: null (heading) or the path being deleted
  PROGRESS_DONE = 7,           // value: the result text
  PROGRESS_FAILED = 8,         // value: why the run changed nothing; no result text follows
  // Not sent by the engine: a line of its own from whoever runs it (the run
  // record's path, the details of a what-if run); no step of the bar.
  PROGRESS_NOTE = 0x100,
};

// The receiver of a run's reports: the progress page, or a terminal view.
// value is a number for kinds 1 and 2 and a `const char*` (possibly null) for
// kinds 3 to 8, valid only during the call. Returns 1.
class IProgressReceiver {
 public:
  virtual int ReportProgress(int kind, LONG_PTR value) = 0;

 protected:
  virtual ~IProgressReceiver() = default;
};

// How the engine shows its few message boxes (copy error, delete error):
// MessageBoxA without owner, MB_OK, on the run's thread.
class IMessageSink {
 public:
  virtual void ShowMessage(const char* text, const char* caption) = 0;

 protected:
  virtual ~IMessageSink() = default;
};

}  // namespace qel
