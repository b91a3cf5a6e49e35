// The probe side: the wizard's own probe over the host ports.
#include <cstdio>
#include <memory>
#include <string>

#include "center/mib_agent.h"
#include "center/search_agent.h"
#include "platform/host/host_ports.h"
#include "platform/net_ports.h"
#include "tools/center-standin/standin.h"

namespace standin {

namespace {
void PrintTrace(const char* text) { std::printf("%s\n", text); }
}  // namespace

int RunProbe(const ProbeOptions& options) {
  std::unique_ptr<qel::ISystem> system = qel::MakeHostSystem(qel::HostConfig());
  qel::Ports().system = system.get();
  qel::InstallHostNetPorts();
  qel::SetSearchTimingForTest(static_cast<DWORD>(options.pauseMs), static_cast<DWORD>(options.waitMs));
  bool found;
  std::string center, from;
  WORD port = 0, fromPort = 0;
  {
    qel::CSearchAgent search;
    if (options.trace) search.TraceSink = PrintTrace;
    DWORD flags = qel::SEARCH_UNICAST | (options.local.empty() ? 0u : static_cast<DWORD>(qel::SEARCH_BIND_LOCAL));
    found = search.Search(options.local.c_str(), options.target.c_str(), flags, false);
    center = search.GetCenterAddress();
    port = search.GetCenterPort();
    from = search.GetReplyAddress();
    fromPort = qel::Sockets().ntohs(search.GetReplyPort());
  }
  qel::CMibAgent::DestroyInstance();
  if (found)
    std::printf("center %s port %u (answered from %s:%u)\n", center.c_str(), port, from.c_str(), fromPort);
  else
    std::printf("no center answered at %s\n", options.target.c_str());
  qel::Ports().system = nullptr;
  return found ? 0 : 1;
}

}  // namespace standin
