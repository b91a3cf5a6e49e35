// The real platform of the build for one test: the host adapters over a
// fresh temporary world on Linux, the Win32 adapters under Wine; in both the
// socket and address-table ports too. Everything is put back at the end.
#pragma once

#include <memory>

#include "center/mib_agent.h"
#include "platform/net_ports.h"
#include "tests/fakes/fault_plan.h"
#ifdef _WIN32
#include "platform/win32/win32_ports.h"
#else
#include "tests/fakes/host/host_test_env.h"
#endif

namespace qel::test {

// Wine is not Windows in one point the tests see: it accepts a bind to an
// address of no interface (and to 255.255.255.255), which Windows refuses
// with WSAEADDRNOTAVAIL.
inline bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

class NetTestPlatform {
 public:
  NetTestPlatform() {
#ifdef _WIN32
    InstallWin32Ports();
    InstallWin32NetPorts();
#else
    env_ = std::make_unique<HostTestEnv>();
    InstallHostNetPorts();
#endif
  }
  ~NetTestPlatform() { CMibAgent::DestroyInstance(); }

 private:
  ScopedPorts saved_;
#ifndef _WIN32
  std::unique_ptr<HostTestEnv> env_;
#endif
};

}  // namespace qel::test
