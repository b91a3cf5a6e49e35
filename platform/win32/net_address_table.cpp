// The SNMP extension agent "inetmib1.dll", called in-process. Bindings go
// to the agent in its own structures, made and freed with the SNMP utility
// library (the agent frees and replaces the names it is given), and come
// back in the plain form of the port.
#include "platform/net_ports.h"

namespace qel {

namespace {

// The largest list the port passes at once.
const UINT kMaxBindings = 16;

void CopyOid(const AsnObjectIdentifier& from, MibOid* to) {
  UINT length = from.idLength < MIB_OID_MAX_LENGTH ? from.idLength : MIB_OID_MAX_LENGTH;
  for (UINT i = 0; i < length; ++i) to->ids[i] = from.ids[i];
  to->idLength = length;
}

void CopyValue(const AsnAny& from, MibVarBind* to) {
  to->asnType = from.asnType;
  to->valueLength = 0;
  switch (from.asnType) {
    case ASN_OCTETSTRING:
    case ASN_IPADDRESS:
    case ASN_OPAQUE: {
      // string and address share one layout in the value union.
      const AsnOctetString& octets = from.asnValue.string;
      UINT length = octets.length < MIB_VALUE_MAX_LENGTH ? octets.length : MIB_VALUE_MAX_LENGTH;
      for (UINT i = 0; i < length; ++i) to->value[i] = octets.stream[i];
      to->valueLength = length;
      break;
    }
    case ASN_INTEGER32:
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS: {
      const BYTE* bytes = reinterpret_cast<const BYTE*>(&from.asnValue.number);
      for (UINT i = 0; i < 4; ++i) to->value[i] = bytes[i];
      to->valueLength = 4;
      break;
    }
    default:
      break;
  }
}

class Win32AddressTable : public IAddressTablePort {
 public:
  HMODULE LoadLibraryA(const char* fileName) override { return ::LoadLibraryA(fileName); }
  FARPROC GetProcAddress(HMODULE module, const char* procName) override {
    return ::GetProcAddress(module, procName);
  }
  BOOL FreeLibrary(HMODULE module) override { return ::FreeLibrary(module); }

  BOOL SnmpExtensionInit(FARPROC entry, DWORD timeZeroReference, HANDLE* trapEvent,
                         MibOid* supportedView) override {
    if (entry == nullptr) return FALSE;
    // The region stays the agent's; it is only read.
    AsnObjectIdentifier region = {0, nullptr};
    BOOL ok = reinterpret_cast<PFNSNMPEXTENSIONINIT>(entry)(timeZeroReference, trapEvent, &region);
    if (supportedView != nullptr) {
      supportedView->idLength = 0;
      if (ok && region.ids != nullptr) CopyOid(region, supportedView);
    }
    return ok;
  }

  BOOL SnmpExtensionQuery(FARPROC entry, BYTE pduType, MibVarBind* bindings, UINT count, LONG* errorStatus,
                          LONG* errorIndex) override {
    if (entry == nullptr || bindings == nullptr || count == 0 || count > kMaxBindings) return FALSE;
    SnmpVarBindList list;
    list.len = count;
    list.list = static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(count * sizeof(SnmpVarBind)));
    if (list.list == nullptr) return FALSE;
    for (UINT i = 0; i < count; ++i) {
      AsnObjectIdentifier name = {bindings[i].name.idLength, bindings[i].name.ids};
      list.list[i].value.asnType = ASN_NULL;
      if (!SnmpUtilOidCpy(&list.list[i].name, &name)) {
        list.len = i;
        SnmpUtilVarBindListFree(&list);
        return FALSE;
      }
    }
    AsnInteger32 status = 0, index = 0;
    BOOL ok = reinterpret_cast<PFNSNMPEXTENSIONQUERY>(entry)(pduType, &list, &status, &index);
    if (errorStatus != nullptr) *errorStatus = status;
    if (errorIndex != nullptr) *errorIndex = index;
    if (ok) {
      for (UINT i = 0; i < count && i < list.len; ++i) {
        CopyOid(list.list[i].name, &bindings[i].name);
        CopyValue(list.list[i].value, &bindings[i]);
      }
    }
    // Frees every name and value and the list itself.
    SnmpUtilVarBindListFree(&list);
    return ok;
  }
};

// Namespace scope, as the other Win32 ports (no local-static guard).
Win32AddressTable g_addressTable;

}  // namespace

IAddressTablePort* Win32AddressTablePort() { return &g_addressTable; }

}  // namespace qel
