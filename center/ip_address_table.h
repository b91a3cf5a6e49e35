// This computer's IPv4 address table (MIB-II ipAddrTable), read through the
// SNMP agent: where an address stands, its net mask, and the broadcast
// address of its subnet. The table is read afresh by every lookup.
#pragma once

#include "platform/net_ports.h"

namespace qel {

class CIpAddressTable {
 public:
  static constexpr DWORD kMaxRows = 100;

  CIpAddressTable();

  // Reads both columns; false only when the agent could not be set up.
  bool Refresh();
  // Row of `address`, 0 or more; -1 for a null or invalid text (so also
  // "255.255.255.255", which is not looked up), an empty table or no match;
  // -2 when the table could not be read. With skipLoopback, 127.0.0.1 never
  // matches.
  int FindAddress(const char* address, bool skipLoopback);
  // The mask of a local address other than 127.0.0.1 (network byte order).
  bool GetNetMask(const char* address, ULONG* mask);
  // ~mask | address, or 255.255.255.255 when the address has no mask.
  ULONG GetBroadcastAddress(const char* address);

  DWORD GetCount() const { return m_dwCount; }
  ULONG GetAddress(DWORD row) const { return row < m_dwCount ? m_dwAddresses[row] : 0; }
  ULONG GetMask(DWORD row) const { return row < m_dwCount ? m_dwMasks[row] : 0; }

  // Walks one column with GETNEXT, storing the first four octets of each
  // value while the names stay in the column (its first 10 components) and
  // fewer than *count values are stored. *count: room in, values out.
  static bool WalkColumn(const MibOid& column, ULONG* out, DWORD* count);

 private:
  ULONG m_dwAddresses[kMaxRows];
  ULONG m_dwMasks[kMaxRows];
  DWORD m_dwCount;
};

// ipAdEntAddr (1.3.6.1.2.1.4.20.1.1) and ipAdEntNetMask (1.3.6.1.2.1.4.20.1.3).
extern const MibOid kIpAdEntAddr;
extern const MibOid kIpAdEntNetMask;

}  // namespace qel
