#include "platform/samba/samba_domain.h"

#include <ldap.h>
#include <sys/stat.h>

#include <cstring>

namespace qel {

namespace {

const char kNetlogonParameters[] = "SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters";

// "ldapi://" with the socket's path percent-encoded.
std::string LdapiUri(const std::string& socket) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "ldapi://";
  for (unsigned char c : socket) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

}  // namespace

bool SambaDomain::Open(const std::string& smbConf, LdapCredentials credentials, const std::string& server,
                       std::string* error) {
  if (!LoadSambaConfig(smbConf, &config_, error)) return false;
  struct stat info;
  if (::stat(config_.netlogonPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = "the NETLOGON folder " + config_.netlogonPath + " of " + smbConf + " is not there";
    return false;
  }
  std::string host = server.empty() ? config_.netbiosName + "." + config_.DnsDomain() : server;
  if (credentials == LdapCredentials::kMachine) {
    std::string socket = config_.LdapiSocket();
    if (::stat(socket.c_str(), &info) != 0) {
      *error = "no privileged directory socket " + socket + ": is the controller running, and is this root on it?";
      return false;
    }
    if (ldap_.Open(LdapiUri(socket), credentials, error) != LDAP_SUCCESS) return false;
  } else {
    if (ldap_.Open("ldap://" + host + ":389", credentials, error) != LDAP_SUCCESS) return false;
    if (gc_.Open("ldap://" + host + ":3268", credentials, error) != LDAP_SUCCESS) return false;
    separateGc_ = true;
  }
  std::string cookie;
  std::vector<LdapEntry> root;
  int rc = ldap_.SearchPage("", LdapScope::kBase, "(objectClass=*)", {"defaultNamingContext"}, 0, 0, &cookie, &root);
  if (rc != LDAP_SUCCESS || root.empty() || root.front().First("defaultNamingContext").empty()) {
    *error = "the controller does not name its domain (rootDSE defaultNamingContext): " + ldap_.LastError();
    return false;
  }
  namingContext_ = root.front().First("defaultNamingContext");
  accounts_.reset(new SambaAccounts(ldap_, config_, namingContext_));
  // On the privileged socket the controller's own partition stands in for
  // the global catalog: a single-domain forest holds nothing else, and the
  // directory leaves out what the catalog would not carry.
  std::vector<std::string> names = {config_.netbiosName, config_.netbiosName + "." + config_.DnsDomain(),
                                    config_.DnsDomain(), config_.workgroup};
  if (!server.empty()) names.push_back(server);
  directory_.reset(new SambaDirectory(ldap_, separateGc_ ? gc_ : ldap_, namingContext_, names));
  return true;
}

std::string SambaDomain::ScriptsWindowsPath() const {
  return "C:\\WINDOWS\\SYSVOL\\sysvol\\" + config_.DnsDomain() + "\\scripts";
}

void SambaDomain::Configure(HostConfig* host) const {
  host->computerName = config_.netbiosName;
  host->windowsDir = "C:\\WINDOWS";
  host->shares["\\\\" + config_.netbiosName + "\\NetLogon"] = ScriptsWindowsPath();
  host->mounts[ScriptsWindowsPath()] = config_.netlogonPath;
}

bool SambaDomain::RegisterScriptsFolder(std::string* error) const {
  std::string value = "%SystemRoot%\\SYSVOL\\sysvol\\" + config_.DnsDomain() + "\\scripts";
  HKEY key = nullptr;
  LONG rc = Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, kNetlogonParameters, &key);
  if (rc != ERROR_SUCCESS) {
    *error = "the registry key HKLM\\" + std::string(kNetlogonParameters) + " cannot be made (" + std::to_string(rc) + ")";
    return false;
  }
  char current[MAX_PATH + 1] = {};
  DWORD type = 0, size = MAX_PATH;
  bool same = Registry().RegQueryValueExA(key, "Scripts", &type, reinterpret_cast<BYTE*>(current), &size) ==
                  ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ) && value == current;
  if (!same) {
    rc = Registry().RegSetValueExA(key, "Scripts", REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1));
  }
  Registry().RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    *error = "the registry value \"Scripts\" cannot be written (" + std::to_string(rc) + ")";
    return false;
  }
  return true;
}

uint64_t SambaDomain::RoundTrips() const { return ldap_.RoundTrips() + (separateGc_ ? gc_.RoundTrips() : 0); }

}  // namespace qel
