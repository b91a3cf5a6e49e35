// A connection to the controller's directory: searches (paged, base,
// one-level or subtree, size-limited) and modifications, with LDAP's result
// codes, each request counted. Two kinds: over the network with libldap
// (LdapLink), and, as root on the controller, straight into its database
// through Samba's own module stack (LdbLink), as its administration tools do.
// Calls are serialised, so one link serves the wizard's threads.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qel {

// How the controller is reached, and who the program is there.
enum class LdapCredentials {
  kMachine,   // root on the controller: its own database, no password
  kKerberos,  // the caller's Kerberos ticket (SASL GSSAPI over LDAP)
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
  // A single-valued attribute changed only while it still holds `was`
  // (empty: no value): otherwise the modification fails, with
  // LDAP_NO_SUCH_ATTRIBUTE (16), LDAP_CONSTRAINT_VIOLATION (19) or
  // LDAP_TYPE_OR_VALUE_EXISTS (20), and nothing is changed.
  bool onlyIfWas = false;
  std::string was;
};

class DirectoryLink {
 public:
  static constexpr int kUnwillingToPerform = 53;

  virtual ~DirectoryLink() = default;
  // One page of a search. `cookie` is empty for the first page and comes
  // back empty after the last; pageSize 0 asks for everything at once.
  // sizeLimit 0 is no limit; LDAP_SIZELIMIT_EXCEEDED comes back with the
  // entries up to the limit.
  virtual int SearchPage(const std::string& base, LdapScope scope, const std::string& filter,
                         const std::vector<std::string>& attributes, int pageSize, int sizeLimit, std::string* cookie,
                         std::vector<LdapEntry>* entries) = 0;
  // Replaces each attribute by its one value, or removes it (empty value);
  // all of it or nothing.
  virtual int Modify(const std::string& dn, const std::vector<LdapModification>& changes) = 0;
  // The server's text for the last failure.
  virtual std::string LastError() const = 0;
  // Requests made so far (each search page counts one).
  virtual uint64_t RoundTrips() const = 0;

  // Several modifications made one transaction: none lasts until Commit
  // succeeds, and a failed Commit, a Cancel or the end of the process undoes
  // them all. Searches in between see them. A link that cannot do this
  // answers false to Transactions and LDAP_UNWILLING_TO_PERFORM (53) to the
  // three calls; each call counts one request.
  virtual bool Transactions() const { return false; }
  virtual int BeginTransaction() { return kUnwillingToPerform; }
  virtual int CommitTransaction() { return kUnwillingToPerform; }
  virtual int CancelTransaction() { return kUnwillingToPerform; }

  // Every page of a search.
  int SearchAll(const std::string& base, LdapScope scope, const std::string& filter,
                const std::vector<std::string>& attributes, std::vector<LdapEntry>* entries);
};

// Escapes `value` for use inside a search filter (RFC 4515).
std::string LdapFilterEscape(const std::string& value);

}  // namespace qel
