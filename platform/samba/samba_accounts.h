// The network-management entry points over a Samba controller's directory:
// accounts are read and written as attributes of their directory objects,
// with the shapes, buffers and result codes of Windows.
//
// Writes change only what differs from the account as the caller last read
// it, in one modification (all of it or nothing): the script path, and the
// flags when the caller changed them. A write right after the caller's own
// read (the engine's read-change-write) compares with that read and sends
// one request; otherwise the account is read first. Group members include the accounts whose primary
// group it is, as Windows lists them. The locator answers from the
// controller's configuration.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/account_store.h"
#include "platform/domain/account_records.h"
#include "platform/samba/directory_link.h"
#include "platform/samba/samba_netapi.h"
#include "platform/samba/smb_conf.h"

namespace qel {

// RPC_S_SERVER_UNAVAILABLE: the controller does not answer.
constexpr NET_API_STATUS kServerUnavailable = 1722;

class SambaAccounts : public IAccountStore {
 public:
  SambaAccounts(DirectoryLink& ldap, const SambaConfig& config, const std::string& namingContext);

  // Writes that change the script path alone go through Samba's library
  // (level 1009) from now on; null: everything through the directory.
  void UseNetApi(SambaNetApi* netapi) { netapi_ = netapi; }

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

  // The account `name` (logon name, without regard to case) with its DN;
  // NERR_Success, NERR_UserNotFound or the failure's code.
  NET_API_STATUS FindAccount(const std::wstring& name, AccountRecord* record, std::string* dn);

 private:
  bool IsLocalServer(LPCWSTR server) const;
  void RememberRead(const AccountRecord& record, const std::string& dn);
  bool TakeRecentRead(const std::wstring& name, AccountRecord* record, std::string* dn);

  DirectoryLink& ldap_;
  SambaNetApi* netapi_ = nullptr;
  SambaConfig config_;
  std::string namingContext_;
  // The listing NetQueryDisplayInformation pages through, in RID order:
  // read afresh when a listing starts (index 0).
  std::mutex listingMutex_;
  std::vector<AccountRecord> listing_;
  bool haveListing_ = false;
  // The last accounts read, for the write that follows a read.
  struct RecentRead {
    std::wstring key;  // folded logon name
    AccountRecord record;
    std::string dn;
    std::chrono::steady_clock::time_point at;
  };
  std::mutex recentMutex_;
  std::vector<RecentRead> recent_;
};

// The network-management code of an LDAP result code.
NET_API_STATUS NetStatusOfLdap(int code);

// The RID of a binary objectSid; 0 when it is not one.
DWORD RidOfSid(const std::string& sid);

}  // namespace qel
