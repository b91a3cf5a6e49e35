#include "center/ip_address_table.h"

#include <cstring>

#include "center/mib_agent.h"

namespace qel {

const MibOid kIpAdEntAddr = {10, {1, 3, 6, 1, 2, 1, 4, 20, 1, 1}};
const MibOid kIpAdEntNetMask = {10, {1, 3, 6, 1, 2, 1, 4, 20, 1, 3}};

namespace {
const char kLoopback[] = "127.0.0.1";
const UINT kColumnLength = 10;
}  // namespace

CIpAddressTable::CIpAddressTable() : m_dwCount(0) {
  std::memset(m_dwAddresses, 0, sizeof m_dwAddresses);
  std::memset(m_dwMasks, 0, sizeof m_dwMasks);
}

bool CIpAddressTable::WalkColumn(const MibOid& column, ULONG* out, DWORD* count) {
  const DWORD room = *count;
  DWORD stored = 0;
  MibVarBind binding;
  std::memset(&binding, 0, sizeof binding);
  binding.name = column;
  binding.asnType = ASN_NULL;
  CMibAgent& agent = CMibAgent::GetInstance();
  while (stored < room) {
    LONG errorStatus = 0, errorIndex = 0;
    if (!agent.Query(SNMP_PDU_GETNEXT, &binding, 1, &errorStatus, &errorIndex)) break;
    // Past the column: the next object belongs to another one.
    if (MibOidNCompare(binding.name, column, kColumnLength) != 0) break;
    ULONG value = 0;
    // A value shorter than an address is taken with zeros after it.
    UINT length = binding.valueLength < 4 ? binding.valueLength : 4;
    std::memcpy(&value, binding.value, length);
    out[stored++] = value;
  }
  *count = stored;
  return true;
}

bool CIpAddressTable::Refresh() {
  CMibAgent& agent = CMibAgent::GetInstance();
  if (!agent.IsInitialised()) {
    // The entry point answers TRUE or FALSE, never a negative value, so a
    // failed initialisation still counts as done; an agent that does not
    // work then yields an empty table.
    agent.Init();
    agent.SetInitialised();
  }
  DWORD addresses = kMaxRows;
  WalkColumn(kIpAdEntAddr, m_dwAddresses, &addresses);
  DWORD masks = kMaxRows;
  WalkColumn(kIpAdEntNetMask, m_dwMasks, &masks);
  // Rows without a mask in this reading have none (never an older one).
  for (DWORD i = masks; i < kMaxRows; ++i) m_dwMasks[i] = 0;
  m_dwCount = addresses;
  return true;
}

int CIpAddressTable::FindAddress(const char* address, bool skipLoopback) {
  if (address == nullptr) return -1;
  ULONG wanted = Sockets().inet_addr(address);
  if (wanted == INADDR_NONE) return -1;
  if (!Refresh()) return -2;
  if (m_dwCount == 0) return -1;
  ULONG loopback = Sockets().inet_addr(kLoopback);
  for (DWORD i = 0; i < m_dwCount; ++i) {
    if (skipLoopback && m_dwAddresses[i] == loopback) continue;
    if (m_dwAddresses[i] == wanted) return static_cast<int>(i);
  }
  return -1;
}

bool CIpAddressTable::GetNetMask(const char* address, ULONG* mask) {
  *mask = 0;
  int row = FindAddress(address, true);
  if (row < 0) return false;
  *mask = m_dwMasks[row];
  return true;
}

ULONG CIpAddressTable::GetBroadcastAddress(const char* address) {
  ULONG mask = 0;
  if (!GetNetMask(address, &mask)) return INADDR_BROADCAST;
  return ~mask | Sockets().inet_addr(address);
}

}  // namespace qel
