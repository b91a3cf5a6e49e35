// A directory link over the embedded domain store, for the Samba back-end's
// tests without a controller: searches evaluate their filter over the
// store's objects (one request per page), modifications of scriptPath and
// userAccountControl go through the store's own writes, and transactions
// undo their writes when they are cancelled, when their commit fails, or when
// the process "ends" (Crash). Faults come from the plan under "SearchPage",
// "Modify", "Modify:<logon name>", "BeginTransaction" and "CommitTransaction"
// (the code is returned as the LDAP result).
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "platform/domain/domain_store.h"
#include "platform/samba/directory_link.h"
#include "tests/fakes/fault_plan.h"

namespace qel::test {

class StoreLink : public DirectoryLink {
 public:
  explicit StoreLink(DomainStore& store) : store_(store) {}
  FaultPlan& plan() { return plan_; }

  int SearchPage(const std::string& base, LdapScope scope, const std::string& filter,
                 const std::vector<std::string>& attributes, int pageSize, int sizeLimit, std::string* cookie,
                 std::vector<LdapEntry>* entries) override;
  int Modify(const std::string& dn, const std::vector<LdapModification>& changes) override;
  std::string LastError() const override { return lastError_; }
  uint64_t RoundTrips() const override { return roundTrips_; }
  bool Transactions() const override { return transactions_; }
  int BeginTransaction() override;
  int CommitTransaction() override;
  int CancelTransaction() override;

  // Off: the link cannot make transactions, as over LDAP.
  void SetTransactions(bool on) { transactions_ = on; }
  // The process ends here: the open transaction's writes never last.
  void Crash() { Undo(); }
  bool InTransaction() const { return open_; }
  int Modifications() const { return modifications_; }
  int Commits() const { return commits_; }
  // The most modifications one transaction held.
  size_t LargestTransaction() const { return largest_; }

 private:
  struct Before {
    std::wstring account;
    std::wstring scriptPath;
    DWORD flags = 0;
  };
  void Undo();
  NET_API_STATUS Write(const std::wstring& account, const std::wstring* scriptPath, const DWORD* flags);

  DomainStore& store_;
  FaultPlan plan_;
  std::string lastError_;
  uint64_t roundTrips_ = 0;
  bool transactions_ = true;
  std::atomic<bool> open_{false};
  int modifications_ = 0, commits_ = 0;
  size_t largest_ = 0;
  std::vector<Before> undo_;  // the open transaction's accounts as they were, oldest first
  std::map<uint64_t, std::vector<LdapEntry>> pending_;
  uint64_t nextSearch_ = 1;
};

}  // namespace qel::test
