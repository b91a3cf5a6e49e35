// The domain's account database as the network-management entry points see
// it. On Windows the real "netapi32.dll" is loaded and this interface is not
// used; on the host (and in the stand-in DLLs run under Wine) the loader's
// "netapi32.dll" module forwards each entry point to the store installed in
// Ports().accounts. Shapes, buffers and result codes are those of Windows:
// every buffer handed out is released with NetApiBufferFree.
#pragma once

#include <string>
#include <vector>

#include "platform/netapi_types.h"

namespace qel {

class IAccountStore {
 public:
  virtual ~IAccountStore() = default;
  virtual NET_API_STATUS NetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                          DWORD preferredMaximumLength, LPDWORD entriesRead,
                                          LPDWORD totalEntries, DWORD_PTR* resumeHandle) = 0;
  virtual NET_API_STATUS NetApiBufferFree(LPVOID buffer) = 0;
  virtual NET_API_STATUS NetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) = 0;
  virtual NET_API_STATUS NetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                        LPDWORD parameterError) = 0;
  virtual NET_API_STATUS NetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index,
                                                    DWORD entriesRequested, DWORD preferredMaximumLength,
                                                    LPDWORD returnedEntryCount, PVOID* sortedBuffer) = 0;
  // The locator: DsGetDcNameA and NetGetDCName.
  virtual DWORD DsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* domainGuid, LPCSTR site, ULONG flags,
                             PDOMAIN_CONTROLLER_INFOA* info) = 0;
  virtual NET_API_STATUS NetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) = 0;

  // What a run tells the store so that it can save requests. A store with
  // no use for it keeps these defaults and answers every call on its own.
  //
  // The accounts about to be read, in the order they will be: the store may
  // read several of them with one request.
  virtual void ExpectAccounts(const std::vector<std::wstring>& /*names*/) {}
  // Writes of several accounts made one transaction. BeginWriteGroup answers
  // how many writes the group may hold; 0: there is no group, every write
  // lasts on its own and EndWriteGroup need not be called. Until
  // EndWriteGroup answers NERR_Success, a write of the group that answered
  // NERR_Success has not lasted yet: a failed EndWriteGroup (its code) or
  // the end of the process undoes every write of the group.
  virtual DWORD BeginWriteGroup() { return 0; }
  virtual NET_API_STATUS EndWriteGroup() { return NERR_Success; }
};

}  // namespace qel
