// The network-management entry points over a Samba controller's directory:
// accounts are read and written as attributes of their directory objects,
// with the shapes, buffers and result codes of Windows.
//
// Writes change only what differs from the account as the caller last read
// it, in one modification (all of it or nothing): the script path, and the
// flags when the caller changed them. Group members include the accounts
// whose primary group it is, as Windows lists them. The locator answers from
// the controller's configuration.
//
// Requests are saved where a run allows it: accounts the directory's searches
// and the listing have just returned (every account attribute comes back as
// a column), and the accounts a run says it will read, many to one search,
// are answered without a request of their own for a short while, until they
// are written; a write right after a read sends one request. In the
// controller's own database a run's writes are grouped into transactions of
// a bounded size. SetPerAccountRequests(true) turns all of this off: every
// read is one request and every write its own transaction.
#pragma once

#include <chrono>
#include <deque>
#include <map>
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
  void ExpectAccounts(const std::vector<std::wstring>& names) override;
  DWORD BeginWriteGroup() override;
  NET_API_STATUS EndWriteGroup() override;
  ~SambaAccounts() override;

  // Every read one request, every write on its own (the way before reads
  // ahead and transactions); false by default.
  void SetPerAccountRequests(bool perAccount) { perAccount_ = perAccount; }
  bool PerAccountRequests() const { return perAccount_; }
  // Writes a transaction holds at most.
  static constexpr DWORD kGroupWrites = 500;

  // The attributes an account is read with: a search that asks for them too
  // can hand its rows to ReadAhead.
  static const std::vector<std::string>& AccountAttributes();
  // Rows of a search just made: the domain's accounts among them are known
  // for a short while (rows of other objects and other domains are passed over).
  void ReadAhead(const std::vector<LdapEntry>& entries);

  // The account `name` (logon name, without regard to case) with its DN;
  // NERR_Success, NERR_UserNotFound or the failure's code.
  NET_API_STATUS FindAccount(const std::wstring& name, AccountRecord* record, std::string* dn);

 private:
  bool IsLocalServer(LPCWSTR server) const;
  void RememberRead(const AccountRecord& record, const std::string& dn,
                    std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now());
  bool TakeRecentRead(const std::wstring& name, AccountRecord* record, std::string* dn,
                      std::chrono::steady_clock::time_point* at = nullptr);
  bool PeekRecentRead(const std::wstring& name, AccountRecord* record);
  // The next accounts of the expected ones, from the one at `position` on, in one search.
  void ReadExpected(size_t position);
  int ModifyAccount(const std::string& dn, const std::vector<LdapModification>& modifications);

  DirectoryLink& ldap_;
  SambaNetApi* netapi_ = nullptr;
  SambaConfig config_;
  std::string namingContext_;
  bool perAccount_ = false;
  // The listing NetQueryDisplayInformation pages through, in RID order:
  // read afresh when a listing starts (index 0).
  std::mutex listingMutex_;
  std::vector<AccountRecord> listing_;
  std::vector<std::string> listingDns_;
  std::chrono::steady_clock::time_point listingAt_;
  bool haveListing_ = false;
  // The accounts last read, by folded logon name: for the write that follows
  // a read and, unless every read is its own request, for the reads.
  struct RecentRead {
    AccountRecord record;
    std::string dn;
    std::chrono::steady_clock::time_point at;
    uint64_t serial = 0;
  };
  std::mutex recentMutex_;
  std::map<std::wstring, RecentRead> recent_;
  std::deque<std::pair<std::wstring, uint64_t>> recentOrder_;  // oldest first
  uint64_t recentSerial_ = 0;
  std::chrono::steady_clock::time_point lastWrite_;  // of this store's last write
  // The accounts a run said it will read (folded), and how far they were read ahead.
  std::vector<std::wstring> expected_;
  std::map<std::wstring, size_t> expectedAt_;
  size_t expectedReadTo_ = 0;
  // The open transaction: its modifications, to make again when one of
  // them failed and the transaction had to start over.
  std::mutex groupMutex_;
  bool groupOpen_ = false;
  int groupFailure_ = 0;  // an LDAP code once the group cannot be made whole again
  std::vector<std::pair<std::string, std::vector<LdapModification>>> groupWrites_;
};

// The network-management code of an LDAP result code.
NET_API_STATUS NetStatusOfLdap(int code);

// The RID of a binary objectSid; 0 when it is not one.
DWORD RidOfSid(const std::string& sid);

}  // namespace qel
