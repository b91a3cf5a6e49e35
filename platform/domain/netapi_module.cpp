#include "platform/domain/netapi_module.h"

#include <cstdlib>
#include <cstring>

#include "platform/account_store.h"
#include "platform/ports.h"

namespace qel {

namespace {

// Without an account store the machine is in no domain: the locator finds
// nothing and every account call names a computer that cannot answer.
IAccountStore* Store() { return Ports().accounts; }

NET_API_STATUS WINAPI ProcNetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                           DWORD preferred, LPDWORD read, LPDWORD total, DWORD_PTR* resume) {
  if (!Store()) return NERR_InvalidComputer;
  return Store()->NetGroupGetUsers(server, group, level, buffer, preferred, read, total, resume);
}

NET_API_STATUS WINAPI ProcNetApiBufferFree(LPVOID buffer) {
  // Every store hands out malloc blocks; without one the block is still freed.
  if (!Store()) {
    std::free(buffer);
    return NERR_Success;
  }
  return Store()->NetApiBufferFree(buffer);
}

NET_API_STATUS WINAPI ProcNetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) {
  if (!Store()) return NERR_InvalidComputer;
  return Store()->NetUserGetInfo(server, user, level, buffer);
}

NET_API_STATUS WINAPI ProcNetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                         LPDWORD parameterError) {
  if (!Store()) return NERR_InvalidComputer;
  return Store()->NetUserSetInfo(server, user, level, buffer, parameterError);
}

NET_API_STATUS WINAPI ProcNetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index, DWORD requested,
                                                     DWORD preferred, LPDWORD returned, PVOID* buffer) {
  if (!Store()) return NERR_InvalidComputer;
  return Store()->NetQueryDisplayInformation(server, level, index, requested, preferred, returned, buffer);
}

DWORD WINAPI ProcDsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* guid, LPCSTR site, ULONG flags,
                              PDOMAIN_CONTROLLER_INFOA* info) {
  if (!Store()) {
    if (info) *info = nullptr;
    return ERROR_NO_SUCH_DOMAIN;
  }
  return Store()->DsGetDcNameA(computer, domain, guid, site, flags, info);
}

NET_API_STATUS WINAPI ProcNetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) {
  if (!Store()) {
    if (buffer) *buffer = nullptr;
    return NERR_DCNotFound;
  }
  return Store()->NetGetDCName(server, domain, buffer);
}

// Checks at compile time that each procedure has its Windows shape.
const PFN_NetGroupGetUsers kNetGroupGetUsers = ProcNetGroupGetUsers;
const PFN_NetApiBufferFree kNetApiBufferFree = ProcNetApiBufferFree;
const PFN_NetUserGetInfo kNetUserGetInfo = ProcNetUserGetInfo;
const PFN_NetUserSetInfo kNetUserSetInfo = ProcNetUserSetInfo;
const PFN_NetQueryDisplayInformation kNetQueryDisplayInformation = ProcNetQueryDisplayInformation;
const PFN_DsGetDcNameA kDsGetDcNameA = ProcDsGetDcNameA;
const PFN_NetGetDCName kNetGetDCName = ProcNetGetDCName;

}  // namespace

FARPROC DomainNetApiProc(const char* name) {
  if (!name) return nullptr;
  struct Entry {
    const char* name;
    FARPROC proc;
  };
  const Entry kEntries[] = {
      {"NetGroupGetUsers", reinterpret_cast<FARPROC>(kNetGroupGetUsers)},
      {"NetApiBufferFree", reinterpret_cast<FARPROC>(kNetApiBufferFree)},
      {"NetUserGetInfo", reinterpret_cast<FARPROC>(kNetUserGetInfo)},
      {"NetUserSetInfo", reinterpret_cast<FARPROC>(kNetUserSetInfo)},
      {"NetQueryDisplayInformation", reinterpret_cast<FARPROC>(kNetQueryDisplayInformation)},
      {"DsGetDcNameA", reinterpret_cast<FARPROC>(kDsGetDcNameA)},
      {"NetGetDCName", reinterpret_cast<FARPROC>(kNetGetDCName)},
  };
  for (const Entry& e : kEntries)
    if (std::strcmp(e.name, name) == 0) return e.proc;
  return nullptr;
}

}  // namespace qel
