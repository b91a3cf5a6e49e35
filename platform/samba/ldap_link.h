// One connection to the domain controller's directory over OpenLDAP's
// libldap: searches (paged, one-level or subtree, size-limited) and
// modifications, each one counted as a round trip to the server. Calls are
// serialised, so one link serves the wizard's threads.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct ldap;

namespace qel {

// How the link proves who it is.
enum class LdapCredentials {
  kMachine,   // root on the controller: its privileged socket, no password
  kKerberos,  // the caller's Kerberos ticket (SASL GSSAPI)
};

struct LdapEntry {
  std::string dn;
  // Attribute names in lower case; values as the server sends them (UTF-8 or binary).
  std::map<std::string, std::vector<std::string>> values;

  const std::vector<std::string>* Find(const std::string& attribute) const;
  std::string First(const std::string& attribute) const;  // empty when absent
};

enum class LdapScope { kBase = 0, kOneLevel = 1, kSubtree = 2 };

struct LdapModification {
  std::string attribute;
  std::string value;  // empty: every value of the attribute is removed
};

class LdapLink {
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

  // One page of a search. `cookie` is empty for the first page and comes
  // back empty after the last; pageSize 0 asks for everything at once.
  // sizeLimit 0 is no limit; LDAP_SIZELIMIT_EXCEEDED comes back with the
  // entries up to the limit.
  int SearchPage(const std::string& base, LdapScope scope, const std::string& filter,
                 const std::vector<std::string>& attributes, int pageSize, int sizeLimit, std::string* cookie,
                 std::vector<LdapEntry>* entries);
  // Every page of a search.
  int SearchAll(const std::string& base, LdapScope scope, const std::string& filter,
                const std::vector<std::string>& attributes, std::vector<LdapEntry>* entries);
  // Replaces each attribute by its one value, or removes it (empty value).
  int Modify(const std::string& dn, const std::vector<LdapModification>& changes);

  // The server's text for the last failure, or libldap's.
  std::string LastError() const;
  // Operations sent to the server so far (each search page counts one).
  uint64_t RoundTrips() const { return roundTrips_; }

 private:
  void Close();
  ldap* ld_ = nullptr;
  std::string uri_;
  uint64_t roundTrips_ = 0;
  std::string lastError_;
  mutable std::mutex mutex_;
};

// Escapes `value` for use inside a search filter (RFC 4515).
std::string LdapFilterEscape(const std::string& value);

}  // namespace qel
