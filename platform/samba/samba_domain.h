// A Samba Active Directory domain, reached from its controller: the
// configuration file says what the domain is called and where its NETLOGON
// folder lives. The directory is read and written in the controller's own
// database (root on the controller, no password), or over LDAP with the
// caller's Kerberos ticket.
#pragma once

#include <memory>
#include <string>

#include "platform/host/host_ports.h"
#include "platform/samba/ldap_link.h"
#include "platform/samba/ldb_link.h"
#include "platform/samba/samba_accounts.h"
#include "platform/samba/samba_directory.h"
#include "platform/samba/smb_conf.h"

namespace qel {

class SambaDomain {
 public:
  // Reads `smbConf` and connects. As root on the controller (kMachine) the
  // database is the private folder's sam.ldb. With Kerberos credentials the
  // controller is reached by its DNS name (`server` overrides it), on the
  // LDAP and the global catalog ports, and script paths are written through
  // Samba's network-management library unless `netapiWrites` is false.
  // False with *error saying what is wrong.
  bool Open(const std::string& smbConf, LdapCredentials credentials, const std::string& server, std::string* error,
            bool netapiWrites = true);

  const SambaConfig& config() const { return config_; }
  const std::string& namingContext() const { return namingContext_; }
  SambaAccounts& accounts() { return *accounts_; }
  SambaDirectory& directory() { return *directory_; }
  // The link to the domain's partition (the database, or LDAP).
  DirectoryLink& link() { return *link_; }

  // The controller's Windows world: its computer name, the NETLOGON share,
  // and the share's folder mounted at the Windows path Active Directory
  // gives it ("C:\WINDOWS\SYSVOL\sysvol\<dns domain>\scripts").
  void Configure(HostConfig* host) const;
  std::string ScriptsWindowsPath() const;
  // Makes the registry's Netlogon "Scripts" value name that folder, as a
  // controller's registry does; nothing is written when it already does.
  // False with *error when the registry cannot be written.
  bool RegisterScriptsFolder(std::string* error) const;

  // Requests sent to the controller so far.
  uint64_t RoundTrips() const;
  bool WritesThroughNetApi() const { return netapi_ != nullptr; }

 private:
  SambaConfig config_;
  std::string namingContext_;
  LdbLink database_;
  LdapLink ldap_;
  LdapLink gc_;
  DirectoryLink* link_ = nullptr;  // the domain's partition
  bool separateGc_ = false;
  std::unique_ptr<SambaNetApi> netapi_;
  std::unique_ptr<SambaAccounts> accounts_;
  std::unique_ptr<SambaDirectory> directory_;
};

}  // namespace qel
