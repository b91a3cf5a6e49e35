#include "tests/fakes/faulty_system.h"

namespace qel::test {

FaultySystem::FaultySystem(ISystem* inner) : inner_(inner != nullptr ? inner : Ports().system) {}

void FaultySystem::SetVersion(DWORD version) {
  std::lock_guard<std::mutex> lock(mutex_);
  fixedVersion_ = true;
  version_ = version;
}

void FaultySystem::SetLocalTime(const SYSTEMTIME& time) {
  std::lock_guard<std::mutex> lock(mutex_);
  fixedTime_ = true;
  time_ = time;
}

void FaultySystem::RecordWinExec(UINT result) {
  std::lock_guard<std::mutex> lock(mutex_);
  recordWinExec_ = true;
  winExecResult_ = result;
}

std::vector<std::string> FaultySystem::WinExecCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return winExecCalls_;
}

DWORD FaultySystem::GetVersion() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fixedVersion_) return version_;
  }
  return inner_->GetVersion();
}

BOOL FaultySystem::GetComputerNameA(char* buffer, DWORD* size) {
  DWORD error = 0;
  if (plan_.ShouldFail("GetComputerNameA", &error)) {
    QelSetLastError(error);
    return FALSE;
  }
  return inner_->GetComputerNameA(buffer, size);
}

UINT FaultySystem::GetWindowsDirectoryA(char* buffer, UINT size) {
  DWORD error = 0;
  if (plan_.ShouldFail("GetWindowsDirectoryA", &error)) {
    QelSetLastError(error);
    return 0;
  }
  return inner_->GetWindowsDirectoryA(buffer, size);
}

DWORD FaultySystem::GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
  DWORD error = 0;
  if (plan_.ShouldFail("GetModuleFileNameA", &error)) {
    QelSetLastError(error);
    return 0;
  }
  return inner_->GetModuleFileNameA(module, buffer, size);
}

DWORD FaultySystem::GetCurrentProcessId() { return inner_->GetCurrentProcessId(); }

void FaultySystem::GetLocalTime(SYSTEMTIME* time) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fixedTime_) {
      *time = time_;
      return;
    }
  }
  inner_->GetLocalTime(time);
}

DWORD FaultySystem::GetTickCount() { return inner_->GetTickCount(); }

void FaultySystem::Sleep(DWORD milliseconds) { inner_->Sleep(milliseconds); }

UINT FaultySystem::WinExec(const char* commandLine, UINT show) {
  DWORD error = 0;
  if (plan_.ShouldFail("WinExec", &error)) {
    QelSetLastError(error);
    return error <= 31 ? static_cast<UINT>(error) : 0u;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (recordWinExec_) {
      winExecCalls_.push_back(commandLine != nullptr ? commandLine : "");
      return winExecResult_;
    }
  }
  return inner_->WinExec(commandLine, show);
}

}  // namespace qel::test
