// What a Samba domain controller's configuration file says about the
// domain: its NetBIOS and DNS names, the controller's name, where the
// privileged LDAP socket lives and which folder the NETLOGON share serves.
#pragma once

#include <string>

namespace qel {

struct SambaConfig {
  std::string netbiosName;   // [global] netbios name: the controller ("DC1")
  std::string workgroup;     // [global] workgroup: the domain's NetBIOS name ("TEST")
  std::string realm;         // [global] realm, upper case ("TEST.LAN")
  std::string privateDir;    // [global] private dir
  std::string netlogonPath;  // [netlogon] path
  std::string serverRole;    // [global] server role, lower case

  std::string DnsDomain() const;   // the realm in lower case ("test.lan")
  std::string LdapiSocket() const; // privateDir/ldap_priv/ldapi
};

// Reads `path`: sections, "name = value" lines (names without regard to case
// or blanks), ";" and "#" comments, "\" continuations. Relative folders are
// taken as they stand. False with *error when the file cannot be read or
// does not describe an Active Directory domain controller with a NETLOGON
// share.
bool LoadSambaConfig(const std::string& path, SambaConfig* config, std::string* error);

// The same from text already read; `name` is used in errors.
bool ParseSambaConfig(const std::string& text, const std::string& name, SambaConfig* config, std::string* error);

}  // namespace qel
