// The directory link of root on the controller: the domain's database
// opened in place (the private folder's sam.ldb) through Samba's own module
// stack, as its administration tools open it. No password and no network:
// the operating system's file permissions are the credentials.
#pragma once

#include <mutex>

#include "platform/samba/directory_link.h"

struct ldb_context;

namespace qel {

class LdbLink : public DirectoryLink {
 public:
  LdbLink() = default;
  ~LdbLink() override;
  LdbLink(const LdbLink&) = delete;
  LdbLink& operator=(const LdbLink&) = delete;

  // Opens the database at `path` of the controller `smbConf` configures; an
  // LDAP result code, *error says why not.
  int Open(const std::string& path, const std::string& smbConf, std::string* error);

  int SearchPage(const std::string& base, LdapScope scope, const std::string& filter,
                 const std::vector<std::string>& attributes, int pageSize, int sizeLimit, std::string* cookie,
                 std::vector<LdapEntry>* entries) override;
  int Modify(const std::string& dn, const std::vector<LdapModification>& changes) override;
  std::string LastError() const override;
  uint64_t RoundTrips() const override { return roundTrips_; }
  bool Transactions() const override { return true; }
  int BeginTransaction() override;
  int CommitTransaction() override;
  int CancelTransaction() override;

 private:
  void* memory_ = nullptr;  // the talloc context everything of the link hangs on
  ldb_context* ldb_ = nullptr;
  uint64_t roundTrips_ = 0;
  std::string lastError_;
  bool inTransaction_ = false;
  // Searches read whole and handed out a page at a time: the cookie names
  // one. Searches left unfinished are dropped, oldest first, past 16.
  struct Pending {
    std::vector<LdapEntry> entries;
    size_t position = 0;
  };
  std::map<uint64_t, Pending> pending_;
  uint64_t nextId_ = 1;
  mutable std::mutex mutex_;
};

}  // namespace qel
