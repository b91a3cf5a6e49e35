// IAccountStore decorator that fails chosen calls and checks buffer handling.
//
// Each entry point asks the plan under its name ("NetUserGetInfo",
// "NetUserSetInfo", "NetGroupGetUsers", "NetQueryDisplayInformation",
// "DsGetDcNameA", "NetGetDCName", "NetApiBufferFree"). NetUserGetInfo and
// NetUserSetInfo also ask under "<name>:<account>" with the account in lower
// case, so a plan can fail one account: Fail("NetUserSetInfo:jdoe", 5).
//
// Every buffer handed out is remembered until NetApiBufferFree releases it;
// freeing a pointer that is not live (twice, or never handed out) fails with
// ERROR_INVALID_PARAMETER and is counted, so tests can see leaks and double frees.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "platform/account_store.h"
#include "tests/fakes/fault_plan.h"

namespace qel::test {

class FaultyAccounts : public IAccountStore {
 public:
  // Forwards to `inner` (default: the account store installed now).
  explicit FaultyAccounts(IAccountStore* inner = nullptr);
  FaultPlan& plan() { return plan_; }

  int LiveBuffers() const;   // handed out and not yet freed
  int BadFrees() const;      // frees of pointers that were not live

  NET_API_STATUS NetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                  DWORD preferredMaximumLength, LPDWORD entriesRead, LPDWORD totalEntries,
                                  DWORD_PTR* resumeHandle) override;
  NET_API_STATUS NetApiBufferFree(LPVOID buffer) override;
  NET_API_STATUS NetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) override;
  NET_API_STATUS NetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                LPDWORD parameterError) override;
  NET_API_STATUS NetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index, DWORD entriesRequested,
                                            DWORD preferredMaximumLength, LPDWORD returnedEntryCount,
                                            PVOID* sortedBuffer) override;
  DWORD DsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* domainGuid, LPCSTR site, ULONG flags,
                     PDOMAIN_CONTROLLER_INFOA* info) override;
  NET_API_STATUS NetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) override;

 private:
  bool ShouldFailFor(const char* operation, LPCWSTR account, DWORD* error);
  void Remember(void* buffer);

  IAccountStore* inner_;
  FaultPlan plan_;
  mutable std::mutex mutex_;
  std::set<void*> live_;
  int badFrees_ = 0;
};

}  // namespace qel::test
