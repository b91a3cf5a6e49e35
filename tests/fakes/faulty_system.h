// ISystem decorator that fails chosen calls and can pin what tests compare.
//
// Each operation asks the plan under its Win32 name ("GetComputerNameA",
// "GetWindowsDirectoryA", "GetModuleFileNameA", "WinExec") whether to fail.
// Version and local time can be fixed; WinExec can be recorded instead of
// starting anything.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "tests/fakes/fault_plan.h"

namespace qel::test {

class FaultySystem : public ISystem {
 public:
  // Forwards to `inner` (default: the system port installed now).
  explicit FaultySystem(ISystem* inner = nullptr);
  FaultPlan& plan() { return plan_; }

  void SetVersion(DWORD version);
  void SetLocalTime(const SYSTEMTIME& time);
  // From now on WinExec starts nothing, records the command line and
  // returns `result` (33: success).
  void RecordWinExec(UINT result = 33);
  std::vector<std::string> WinExecCalls() const;

  DWORD GetVersion() override;
  BOOL GetComputerNameA(char* buffer, DWORD* size) override;
  UINT GetWindowsDirectoryA(char* buffer, UINT size) override;
  DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) override;
  DWORD GetCurrentProcessId() override;
  void GetLocalTime(SYSTEMTIME* time) override;
  DWORD GetTickCount() override;
  void Sleep(DWORD milliseconds) override;
  UINT WinExec(const char* commandLine, UINT show) override;

 private:
  ISystem* inner_;
  FaultPlan plan_;
  mutable std::mutex mutex_;
  bool fixedVersion_ = false;
  DWORD version_ = 0;
  bool fixedTime_ = false;
  SYSTEMTIME time_ = {};
  bool recordWinExec_ = false;
  UINT winExecResult_ = 33;
  std::vector<std::string> winExecCalls_;
};

}  // namespace qel::test
