// ISync decorator that fails chosen calls.
//
// Each operation asks the plan under its Win32 name ("CreateEventA",
// "SetEvent", "ResetEvent", "WaitForSingleObject", "WaitForMultipleObjects",
// "CreateThread", "CreateMutexA", "OpenMutexA", "ReleaseMutex",
// "CloseHandle"). A failing wait returns WAIT_FAILED; a failing create or
// open returns null; the others FALSE. The last error is the planned code.
#pragma once

#include "tests/fakes/fault_plan.h"

namespace qel::test {

class FaultySync : public ISync {
 public:
  // Forwards to `inner` (default: the sync port installed now).
  explicit FaultySync(ISync* inner = nullptr);
  FaultPlan& plan() { return plan_; }

  HANDLE CreateEventA(BOOL manualReset, BOOL initialState, const char* name) override;
  BOOL SetEvent(HANDLE event) override;
  BOOL ResetEvent(HANDLE event) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
  DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) override;
  HANDLE CreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId) override;
  HANDLE CreateMutexA(BOOL initialOwner, const char* name) override;
  HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, const char* name) override;
  BOOL ReleaseMutex(HANDLE mutex) override;
  BOOL CloseHandle(HANDLE handle) override;

 private:
  bool Fails(const char* operation);
  ISync* inner_;
  FaultPlan plan_;
};

}  // namespace qel::test
