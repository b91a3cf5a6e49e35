#include "platform/samba/samba_domain.h"

#include <ldap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qel {

namespace {

const char kNetlogonParameters[] = "SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters";

}  // namespace

bool SambaDomain::Open(const std::string& smbConf, LdapCredentials credentials, const std::string& server,
                       std::string* error, bool netapiWrites) {
  if (!LoadSambaConfig(smbConf, &config_, error)) return false;
  struct stat info;
  // A provisioned sysvol is open to root and its group only: a folder this
  // caller may not enter or change is said to be so, not to be missing.
  int statError = ::stat(config_.netlogonPath.c_str(), &info) == 0 ? 0 : errno;
  if (statError == EACCES ||
      (statError == 0 && S_ISDIR(info.st_mode) && ::access(config_.netlogonPath.c_str(), R_OK | W_OK | X_OK) != 0)) {
    *error = "the NETLOGON folder " + config_.netlogonPath + " of " + smbConf +
             " is not readable and writable by this user: run as root on the controller or give this user "
             "read and write access to it";
    return false;
  }
  if (statError != 0 || !S_ISDIR(info.st_mode)) {
    *error = "the NETLOGON folder " + config_.netlogonPath + " of " + smbConf + " is not there";
    return false;
  }
  std::string host = server.empty() ? config_.netbiosName + "." + config_.DnsDomain() : server;
  if (credentials == LdapCredentials::kMachine) {
    std::string database = config_.privateDir + "/sam.ldb";
    if (::stat(database.c_str(), &info) != 0) {
      *error = "no domain database " + database + ": is this the controller?";
      return false;
    }
    if (::access(database.c_str(), R_OK | W_OK) != 0) {
      *error = "the domain database " + database + " is not writable here: run as root on the controller, or use a Kerberos ticket";
      return false;
    }
    if (database_.Open(database, smbConf, error) != LDAP_SUCCESS) return false;
    link_ = &database_;
  } else {
    if (ldap_.Open("ldap://" + host + ":389", credentials, error) != LDAP_SUCCESS) return false;
    // A global catalog that does not answer is not the end: its binds then
    // fail as ADSI's do, and the engine goes on with the domain's own.
    std::string gcError;
    gc_.Open("ldap://" + host + ":3268", credentials, &gcError);
    link_ = &ldap_;
    separateGc_ = true;
  }
  std::string cookie;
  std::vector<LdapEntry> root;
  int rc = link_->SearchPage("", LdapScope::kBase, "(objectClass=*)", {"defaultNamingContext"}, 0, 0, &cookie, &root);
  if (rc != LDAP_SUCCESS || root.empty() || root.front().First("defaultNamingContext").empty()) {
    *error = "the controller does not name its domain (rootDSE defaultNamingContext): " + link_->LastError();
    return false;
  }
  namingContext_ = root.front().First("defaultNamingContext");
  accounts_.reset(new SambaAccounts(*link_, config_, namingContext_));
  if (credentials == LdapCredentials::kKerberos && netapiWrites) {
    netapi_.reset(new SambaNetApi);
    if (!netapi_->Open(host, error)) return false;
    accounts_->UseNetApi(netapi_.get());
  }
  // In the controller's own database its partition stands in for the
  // global catalog: a single-domain forest holds nothing else, and the
  // directory leaves out what the catalog would not carry.
  std::vector<std::string> names = {config_.netbiosName, config_.netbiosName + "." + config_.DnsDomain(),
                                    config_.DnsDomain(), config_.workgroup};
  if (!server.empty()) names.push_back(server);
  directory_.reset(new SambaDirectory(*link_, separateGc_ ? static_cast<DirectoryLink&>(gc_) : *link_, namingContext_, names));
  directory_->ReadAheadInto(accounts_.get());
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

uint64_t SambaDomain::RoundTrips() const {
  return (link_ ? link_->RoundTrips() : 0) + (separateGc_ ? gc_.RoundTrips() : 0) +
         (netapi_ ? netapi_->RoundTrips() : 0);
}

}  // namespace qel
