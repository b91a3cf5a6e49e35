// A fresh log over the host adapters, with a pinned clock and process id.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "log/log_utility.h"
#include "platform/ports.h"
#include "tests/fakes/faulty_system.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/sys_util.h"

namespace qel::test {

inline constexpr char kLogDir[] = "C:\\ProgramData\\Orvane\\Qel\\Log";
inline constexpr char kLogPath[] = "C:\\ProgramData\\Orvane\\Qel\\Log\\QelScript.log";
inline constexpr char kBackupPath[] = "C:\\ProgramData\\Orvane\\Qel\\Log\\QelScript.wtx";
// What every line begins with at the pinned time and process id.
inline constexpr char kStamp[] = "[1234]2008-03-05 06:30:12:045: ";

// FaultySystem with a process id of the test's choosing.
class PinnedSystem : public FaultySystem {
 public:
  using FaultySystem::FaultySystem;
  void SetProcessId(DWORD processId) { processId_ = processId; }
  DWORD GetCurrentProcessId() override { return processId_; }

 private:
  DWORD processId_ = 1234;
};

inline SYSTEMTIME MakeTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms) {
  SYSTEMTIME time = {};
  time.wYear = year;
  time.wMonth = month;
  time.wDay = day;
  time.wHour = hour;
  time.wMinute = minute;
  time.wSecond = second;
  time.wMilliseconds = ms;
  return time;
}

class LogTest : public ::testing::Test {
 protected:
  explicit LogTest(const HostTestOptions& options = HostTestOptions()) : env_(options), system_(Ports().system) {
    Ports().system = &system_;
    system_.SetLocalTime(MakeTime(2008, 3, 5, 6, 30, 12, 45));
    _NCOvLogUtility::DestroyInstance();
  }
  ~LogTest() override { _NCOvLogUtility::DestroyInstance(); }

  void SetValue(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, kQelRegistryKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(Registry().RegSetValueExA(key, name, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    Registry().RegCloseKey(key);
  }
  void SetDword(const char* name, DWORD value) { SetValue(name, REG_DWORD, &value, sizeof(value)); }

  // A new instance that reads the registry as it is now.
  _NCOvLogUtility* Fresh() {
    _NCOvLogUtility::DestroyInstance();
    return _NCOvLogUtility::GetInstance();
  }
  std::string Log() const { return env_.ReadFile(kLogPath); }
  std::string Backup() const { return env_.ReadFile(kBackupPath); }

  HostTestEnv env_;
  PinnedSystem system_;
};

}  // namespace qel::test
