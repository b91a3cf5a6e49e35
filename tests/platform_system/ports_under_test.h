// The ports the contract tests run against: the host adapters over a fresh
// HostTestEnv in the host build, the Win32 adapters in the Windows build.
// Tests reach them through Sync(), CodePage(), System() and Loader().
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/ports.h"
#include "tests/fakes/fault_plan.h"

#ifndef _WIN32
#include "tests/fakes/host/host_test_env.h"
#endif

namespace qel::test {

class PortsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A Windows path of a program of this build folder ("qel_mutex_holder"),
  // to hand to WinExec.
  std::string ProgramPath(const std::string& name);
  // The argument that tells the mutex holder where the named mutexes live.
  std::string MutexFolderArgument() const;

 private:
  std::unique_ptr<ScopedPorts> saved_;
#ifndef _WIN32
 protected:
  std::unique_ptr<HostTestEnv> env_;
#endif
};

// Polls `condition` every 20 ms until it holds or `milliseconds` pass.
template <class Condition>
bool Eventually(Condition condition, unsigned milliseconds) {
  for (unsigned waited = 0;; waited += 20) {
    if (condition()) return true;
    if (waited >= milliseconds) return false;
    System().Sleep(20);
  }
}

}  // namespace qel::test
