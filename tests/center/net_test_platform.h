// The real platform of the build for one test: the host adapters over a
// fresh temporary world on Linux, the Win32 adapters under Wine; in both the
// socket and address-table ports too. Everything is put back at the end.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "center/mib_agent.h"
#include "center/search_agent.h"
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

// A documentation address that is none of this machine's (the machines
// these tests run on may well sit in one of those ranges).
inline std::string ForeignAddress() {
  std::vector<std::string> local;
  GetHostAddresses(local);
  for (const char* candidate : {"198.51.100.77", "203.0.113.77", "192.0.2.77"}) {
    if (std::find(local.begin(), local.end(), candidate) == local.end()) return candidate;
  }
  return "198.51.100.78";
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
