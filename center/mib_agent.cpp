#include "center/mib_agent.h"

namespace qel {

// Owns the process's agent. At exit the agent cleans up through the ports
// it was made with, but only while those are still the installed ones: a
// test's ports may be gone by then.
struct MibAgentHolder {
  CMibAgent* agent = nullptr;
  ~MibAgentHolder() {
    if (agent != nullptr && Ports().addressTable == agent->m_pPort && Ports().sockets == agent->m_pSockets)
      delete agent;
  }
  // Forgets the agent without calling its ports, which may be gone.
  void Drop() {
    agent->m_pPort = nullptr;
    agent->m_pSockets = nullptr;
    agent->m_hModule = nullptr;
    delete agent;
    agent = nullptr;
  }
};

namespace {
MibAgentHolder& Holder() {
  static MibAgentHolder holder;
  return holder;
}
}  // namespace

CMibAgent& CMibAgent::GetInstance() {
  MibAgentHolder& holder = Holder();
  CMibAgent* agent = holder.agent;
  // The ports were exchanged (only tests do that): start afresh.
  if (agent != nullptr && (Ports().addressTable != agent->m_pPort || Ports().sockets != agent->m_pSockets))
    holder.Drop();
  if (holder.agent == nullptr) holder.agent = new CMibAgent(Ports().addressTable, Ports().sockets);
  return *holder.agent;
}

void CMibAgent::DestroyInstance() {
  MibAgentHolder& holder = Holder();
  if (holder.agent == nullptr) return;
  if (Ports().addressTable != holder.agent->m_pPort || Ports().sockets != holder.agent->m_pSockets) {
    holder.Drop();
    return;
  }
  delete holder.agent;
  holder.agent = nullptr;
}

CMibAgent::CMibAgent(IAddressTablePort* port, ISocketPort* sockets) : m_pPort(port), m_pSockets(sockets) {
  if (m_pPort != nullptr) {
    HMODULE module = m_pPort->LoadLibraryA("inetmib1.dll");
    // As in the days of LoadLibrary's ancestors, a handle below 32 is an
    // error code, not a module.
    if (reinterpret_cast<ULONG_PTR>(module) >= 32) {
      m_hModule = module;
      m_pfnInit = m_pPort->GetProcAddress(module, "SnmpExtensionInit");
      m_pfnInitEx = m_pPort->GetProcAddress(module, "SnmpExtensionInitEx");
      m_pfnQuery = m_pPort->GetProcAddress(module, "SnmpExtensionQuery");
      m_pfnTrap = m_pPort->GetProcAddress(module, "SnmpExtensionTrap");
    }
  }
  if (m_pSockets != nullptr) {
    WSADATA data;
    m_pSockets->WSAStartup(MAKEWORD(1, 1), &data);  // its result is not used
  }
}

CMibAgent::~CMibAgent() {
  if (m_pSockets != nullptr) m_pSockets->WSACleanup();
  if (m_hModule != nullptr && m_pPort != nullptr) m_pPort->FreeLibrary(m_hModule);
}

BOOL CMibAgent::Init() {
  if (m_hModule == nullptr || m_pfnInit == nullptr) return FALSE;
  HANDLE trapEvent = nullptr;
  MibOid supportedView;
  supportedView.idLength = 0;
  DWORD timeZero = Ports().system != nullptr ? System().GetTickCount() : 0;
  return m_pPort->SnmpExtensionInit(m_pfnInit, timeZero, &trapEvent, &supportedView);
}

BOOL CMibAgent::Query(BYTE pduType, MibVarBind* bindings, UINT count, LONG* errorStatus, LONG* errorIndex) {
  if (m_hModule == nullptr || m_pfnQuery == nullptr) return FALSE;
  return m_pPort->SnmpExtensionQuery(m_pfnQuery, pduType, bindings, count, errorStatus, errorIndex);
}

}  // namespace qel
