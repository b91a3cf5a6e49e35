// The MIB-II agent on Linux: "inetmib1.dll" answers GETNEXT over an
// ipAddrTable built from the interface addresses (getifaddrs), read afresh
// at every query. Rows are in the table's own order, by address.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/host/net_posix.h"
#include "platform/net_ports.h"

namespace qel {

namespace {

// Stand-ins for the four entry points; only their identity matters.
void EntryInit() {}
void EntryInitEx() {}
void EntryQuery() {}
void EntryTrap() {}

HMODULE const kAgentModule = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10000));

// ipAddrEntry: 1.3.6.1.2.1.4.20.1.<column>.<a>.<b>.<c>.<d>
const UINT kEntry[] = {1, 3, 6, 1, 2, 1, 4, 20, 1};
const UINT kEntryLength = 9;

struct Row {
  uint32_t address;  // network byte order
  uint32_t mask;
  UINT ifIndex;
};

void SetIpValue(MibVarBind* b, uint32_t value) {
  b->asnType = ASN_IPADDRESS;
  b->valueLength = 4;
  std::memcpy(b->value, &value, 4);
}

void SetIntegerValue(MibVarBind* b, UINT value) {
  b->asnType = ASN_INTEGER;
  b->valueLength = 4;
  std::memcpy(b->value, &value, 4);
}

void MakeName(MibOid* name, UINT column, uint32_t address) {
  std::copy(kEntry, kEntry + kEntryLength, name->ids);
  name->ids[kEntryLength] = column;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
  for (int i = 0; i < 4; ++i) name->ids[kEntryLength + 1 + i] = b[i];
  name->idLength = kEntryLength + 5;
}

class HostAddressTable : public IAddressTablePort {
 public:
  HMODULE LoadLibraryA(const char* fileName) override {
    if (fileName != nullptr && strcasecmp(fileName, "inetmib1.dll") == 0) return kAgentModule;
    QelSetLastError(126);  // ERROR_MOD_NOT_FOUND
    return nullptr;
  }

  FARPROC GetProcAddress(HMODULE module, const char* procName) override {
    if (module == kAgentModule && procName != nullptr) {
      if (std::strcmp(procName, "SnmpExtensionInit") == 0) return EntryInit;
      if (std::strcmp(procName, "SnmpExtensionInitEx") == 0) return EntryInitEx;
      if (std::strcmp(procName, "SnmpExtensionQuery") == 0) return EntryQuery;
      if (std::strcmp(procName, "SnmpExtensionTrap") == 0) return EntryTrap;
    }
    QelSetLastError(127);  // ERROR_PROC_NOT_FOUND
    return nullptr;
  }

  BOOL FreeLibrary(HMODULE module) override { return module == kAgentModule ? TRUE : FALSE; }

  BOOL SnmpExtensionInit(FARPROC entry, DWORD /*timeZeroReference*/, HANDLE* trapEvent,
                         MibOid* supportedView) override {
    if (entry != EntryInit) return FALSE;
    if (trapEvent) *trapEvent = nullptr;
    if (supportedView) {
      // The agent serves MIB-II: 1.3.6.1.2.1.
      const UINT view[] = {1, 3, 6, 1, 2, 1};
      std::copy(view, view + 6, supportedView->ids);
      supportedView->idLength = 6;
    }
    return TRUE;
  }

  BOOL SnmpExtensionQuery(FARPROC entry, BYTE pduType, MibVarBind* bindings, UINT count, LONG* errorStatus,
                          LONG* errorIndex) override {
    if (entry != EntryQuery || errorStatus == nullptr || errorIndex == nullptr) return FALSE;
    *errorStatus = SNMP_ERRORSTATUS_NOERROR;
    *errorIndex = 0;
    if (pduType != SNMP_PDU_GETNEXT) {
      *errorStatus = SNMP_ERRORSTATUS_GENERR;
      return FALSE;
    }
    std::vector<Row> rows = ReadRows();
    for (UINT i = 0; i < count; ++i) {
      if (!Next(rows, &bindings[i])) {
        *errorStatus = SNMP_ERRORSTATUS_NOSUCHNAME;
        *errorIndex = static_cast<LONG>(i + 1);
        return FALSE;
      }
    }
    return TRUE;
  }

 private:
  static std::vector<Row> ReadRows() {
    hostnet::InterfaceAddress list[100];
    int n = hostnet::InterfaceAddresses(list, 100);
    std::vector<Row> rows;
    for (int i = 0; i < n; ++i) rows.push_back(Row{list[i].address, list[i].mask, static_cast<UINT>(i + 1)});
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
      return hostnet::NetToHost32(a.address) < hostnet::NetToHost32(b.address);
    });
    return rows;
  }

  // Replaces the binding with the first object of the table after its name:
  // columns 1 (address), 2 (interface index) and 3 (net mask), each over all
  // rows. False when the table holds nothing after it.
  static bool Next(const std::vector<Row>& rows, MibVarBind* b) {
    for (UINT column = 1; column <= 3; ++column) {
      for (const Row& row : rows) {
        MibOid name;
        MakeName(&name, column, row.address);
        if (MibOidCompare(name, b->name) <= 0) continue;
        b->name = name;
        if (column == 2)
          SetIntegerValue(b, row.ifIndex);
        else
          SetIpValue(b, column == 1 ? row.address : row.mask);
        return true;
      }
    }
    return false;
  }
};

}  // namespace

IAddressTablePort* HostAddressTablePort() {
  static HostAddressTable* table = new HostAddressTable;
  return table;
}

void InstallHostNetPorts() {
  Ports().sockets = HostSocketPort();
  Ports().addressTable = HostAddressTablePort();
}

}  // namespace qel
