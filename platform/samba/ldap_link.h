// The directory link over the network, with OpenLDAP's libldap.
#pragma once

#include <mutex>

#include "platform/samba/directory_link.h"

struct ldap;

namespace qel {

class LdapLink : public DirectoryLink {
 public:
  LdapLink() = default;
  ~LdapLink();
  LdapLink(const LdapLink&) = delete;
  LdapLink& operator=(const LdapLink&) = delete;

  // Connects to `uri` ("ldapi://%2F...", "ldap://host:389") and binds.
  // Returns an LDAP result code (0 = LDAP_SUCCESS); *error says why not.
  int Open(const std::string& uri, LdapCredentials credentials, std::string* error);
  bool IsOpen() const { return ld_ != nullptr; }
  const std::string& Uri() const { return uri_; }

  int SearchPage(const std::string& base, LdapScope scope, const std::string& filter,
                 const std::vector<std::string>& attributes, int pageSize, int sizeLimit, std::string* cookie,
                 std::vector<LdapEntry>* entries) override;
  int Modify(const std::string& dn, const std::vector<LdapModification>& changes) override;
  std::string LastError() const override;
  uint64_t RoundTrips() const override { return roundTrips_; }

 private:
  void Close();
  ldap* ld_ = nullptr;
  std::string uri_;
  uint64_t roundTrips_ = 0;
  std::string lastError_;
  mutable std::mutex mutex_;
};

}  // namespace qel
