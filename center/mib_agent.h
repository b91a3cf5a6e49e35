// The process-wide SNMP extension agent for MIB-II ("inetmib1.dll").
//
// The agent library is loaded once, by name, with its four entry points
// looked up by name; only SnmpExtensionInit and SnmpExtensionQuery are
// called. Loading also starts Winsock 1.1 for the life of the agent.
//
// The agent is made at its first use (the first CIpAddressTable::Refresh of
// the process), once the program has installed its platform ports, and is
// destroyed at exit: Winsock is cleaned up and the library freed.
#pragma once

#include "platform/net_ports.h"

namespace qel {

class CMibAgent {
 public:
  // The agent of the process, made at the first call (and made again, when
  // tests have exchanged the ports since).
  static CMibAgent& GetInstance();
  // Destroys the agent of the process while its ports still exist; the next
  // GetInstance() makes a new, uninitialised one. For tests that install
  // their own ports.
  static void DestroyInstance();

  // SnmpExtensionInit with GetTickCount as the time reference; FALSE
  // without a call when the library or the entry point is missing.
  BOOL Init();
  // SnmpExtensionQuery; FALSE (failure) without a call when the library or
  // the entry point is missing.
  BOOL Query(BYTE pduType, MibVarBind* bindings, UINT count, LONG* errorStatus, LONG* errorIndex);

  bool IsLoaded() const { return m_hModule != nullptr; }
  // Whether Init has been run in this process (whatever it gave).
  bool IsInitialised() const { return m_bInitialised; }
  void SetInitialised() { m_bInitialised = true; }

  CMibAgent(const CMibAgent&) = delete;
  CMibAgent& operator=(const CMibAgent&) = delete;

 private:
  CMibAgent(IAddressTablePort* port, ISocketPort* sockets);
  ~CMibAgent();

  IAddressTablePort* m_pPort;
  ISocketPort* m_pSockets;
  HMODULE m_hModule = nullptr;
  FARPROC m_pfnInit = nullptr;
  FARPROC m_pfnInitEx = nullptr;
  FARPROC m_pfnQuery = nullptr;
  FARPROC m_pfnTrap = nullptr;
  bool m_bInitialised = false;

  friend struct MibAgentHolder;
};

}  // namespace qel
