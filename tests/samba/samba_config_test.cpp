// Reading a Samba controller's configuration, and the small translations
// between the directory's answers and the network-management calls.
#include <gtest/gtest.h>
#include <ldap.h>

#include <string>

#include "deploy/script_deployer.h"
#include "log/log_utility.h"
#include "platform/domain/domain_directory.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/netapi_entry.h"
#include "platform/samba/ldap_link.h"
#include "platform/samba/samba_accounts.h"
#include "platform/samba/samba_directory.h"
#include "platform/samba/smb_conf.h"

namespace qel {
namespace {

// As provisioning writes it, with the forms people add by hand.
const char kProvisioned[] =
    "# Global parameters\n"
    "[global]\n"
    "\tdns forwarder = 127.0.0.2\n"
    "\tNetBIOS Name = dc1\n"
    "\trealm = test.lan\n"
    "\tserver role = active directory domain controller\n"
    "\tworkgroup = TEST\n"
    "\tprivate_dir = /srv/dc/private\n"
    "; a comment\n"
    "\tidmap_ldb:use rfc2307 = \\\n"
    "\t\tyes\n"
    "\n"
    "[sysvol]\n"
    "\tpath = /srv/dc/state/sysvol\n"
    "\tread only = No\n"
    "\n"
    "[NETLOGON]\n"
    "\tpath = /srv/dc/state/sysvol/test.lan/scripts/\n"
    "\tread only = No\n";

TEST(SambaConfigTest, ProvisionedFileGivesTheDomain) {
  SambaConfig config;
  std::string error;
  ASSERT_TRUE(ParseSambaConfig(kProvisioned, "smb.conf", &config, &error)) << error;
  EXPECT_EQ(config.netbiosName, "DC1");
  EXPECT_EQ(config.workgroup, "TEST");
  EXPECT_EQ(config.realm, "TEST.LAN");
  EXPECT_EQ(config.DnsDomain(), "test.lan");
  // The share's folder, not the sysvol share's, and without its trailing slash.
  EXPECT_EQ(config.netlogonPath, "/srv/dc/state/sysvol/test.lan/scripts");
  EXPECT_EQ(config.LdapiSocket(), "/srv/dc/private/ldap_priv/ldapi");
}

TEST(SambaConfigTest, FilesThatAreNotAControllersAreRefusedWithTheReason) {
  struct Case {
    std::string text;
    std::string reason;
  } cases[] = {
      {"[global]\nworkgroup = TEST\nrealm = T.L\nnetbios name = A\nserver role = standalone server\n"
       "[netlogon]\npath = /x\n",
       "server role"},
      {"[global]\nworkgroup = TEST\nrealm = T.L\nserver role = dc\n[netlogon]\npath = /x\n", "netbios name"},
      {"[global]\nworkgroup = TEST\nnetbios name = A\nserver role = dc\n[netlogon]\npath = /x\n", "realm"},
      {"[global]\nworkgroup = TEST\nrealm = T.L\nnetbios name = A\nserver role = dc\n", "[netlogon]"},
      {"[global]\nworkgroup = TEST\nrealm = T.L\nnetbios name = A\nserver role = dc\n[netlogon]\nread only = no\n",
       "[netlogon]"},
      {"[global\nworkgroup = TEST\n", "smb.conf:1:"},
      {"[global]\njust words\n", "smb.conf:2:"},
  };
  for (const Case& c : cases) {
    SambaConfig config;
    std::string error;
    EXPECT_FALSE(ParseSambaConfig(c.text, "smb.conf", &config, &error)) << c.text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  SambaConfig config;
  std::string error;
  EXPECT_FALSE(LoadSambaConfig("/nonexistent/smb.conf", &config, &error));
  EXPECT_NE(error.find("cannot be read"), std::string::npos);
}

TEST(SambaAccountsTest, RidIsTheLastSubAuthorityOfTheSid) {
  // S-1-5-21-1-2-3-1104
  std::string sid = {1, 5, 0, 0, 0, 0, 0, 5};
  for (unsigned part : {21u, 1u, 2u, 3u, 1104u})
    for (int shift = 0; shift < 32; shift += 8) sid += static_cast<char>((part >> shift) & 0xFF);
  EXPECT_EQ(RidOfSid(sid), 1104u);
  EXPECT_EQ(RidOfSid(sid.substr(0, sid.size() - 1)), 0u);  // cut short
  EXPECT_EQ(RidOfSid(""), 0u);
  std::string noParts = {1, 0, 0, 0, 0, 0, 0, 5};
  EXPECT_EQ(RidOfSid(noParts), 0u);
}

TEST(SambaAccountsTest, DirectoryFailuresBecomeTheCodesWindowsGives) {
  EXPECT_EQ(NetStatusOfLdap(LDAP_SUCCESS), static_cast<NET_API_STATUS>(NERR_Success));
  EXPECT_EQ(NetStatusOfLdap(LDAP_INSUFFICIENT_ACCESS), static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(NetStatusOfLdap(LDAP_CONSTRAINT_VIOLATION), static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(NetStatusOfLdap(LDAP_NO_SUCH_OBJECT), static_cast<NET_API_STATUS>(NERR_UserNotFound));
  EXPECT_EQ(NetStatusOfLdap(LDAP_SERVER_DOWN), kServerUnavailable);
  EXPECT_EQ(NetStatusOfLdap(LDAP_OTHER), static_cast<NET_API_STATUS>(ERROR_GEN_FAILURE));
  EXPECT_EQ(HresultOfLdap(LDAP_NO_SUCH_OBJECT), static_cast<HRESULT>(0x80072030));
  EXPECT_EQ(HresultOfLdap(LDAP_SERVER_DOWN), static_cast<HRESULT>(0x8007203A));
  EXPECT_TRUE(FAILED(HresultOfLdap(LDAP_OTHER)));
}

TEST(SambaAccountsTest, FilterValuesAreEscaped) {
  EXPECT_EQ(LdapFilterEscape("a*b(c)d\\e"), "a\\2ab\\28c\\29d\\5ce");
  EXPECT_EQ(LdapFilterEscape(std::string("x\0y", 3)), "x\\00y");
  EXPECT_EQ(LdapFilterEscape("Zoë"), "Zoë");
}

// A controller that is not there: every call answers with a failure code,
// nothing is reported as done.
TEST(SambaAccountsTest, AnAbsentControllerFailsEveryCall) {
  LdapLink link;
  std::string error;
  EXPECT_NE(link.Open("ldap://127.0.0.1:1", LdapCredentials::kMachine, &error), LDAP_SUCCESS);
  EXPECT_FALSE(error.empty());
  SambaConfig config;
  ASSERT_TRUE(ParseSambaConfig(kProvisioned, "smb.conf", &config, &error));
  SambaAccounts accounts(link, config, "DC=test,DC=lan");
  LPBYTE buffer = nullptr;
  EXPECT_EQ(accounts.NetUserGetInfo(nullptr, L"swalker", 3, &buffer), kServerUnavailable);
  EXPECT_EQ(buffer, nullptr);
  USER_INFO_1009 script = {const_cast<LPWSTR>(L"QelInstall.bat")};
  EXPECT_EQ(accounts.NetUserSetInfo(nullptr, L"swalker", 1009, reinterpret_cast<LPBYTE>(&script), nullptr),
            kServerUnavailable);
  DWORD read = 0, total = 0;
  DWORD_PTR resume = 0;
  EXPECT_EQ(accounts.NetGroupGetUsers(nullptr, L"Domain Users", 1, &buffer, 100, &read, &total, &resume),
            kServerUnavailable);
  PVOID listing = nullptr;
  EXPECT_EQ(accounts.NetQueryDisplayInformation(nullptr, 1, 0, 100, MAX_PREFERRED_LENGTH, &read, &listing),
            kServerUnavailable);
  // An empty name is no account, without asking the controller.
  EXPECT_EQ(accounts.NetUserGetInfo(nullptr, L"", 3, &buffer), static_cast<NET_API_STATUS>(NERR_UserNotFound));
  // Another server is refused as Windows refuses an unknown one; this one by either name.
  EXPECT_EQ(accounts.NetUserGetInfo(L"\\\\OTHER", L"swalker", 3, &buffer), static_cast<NET_API_STATUS>(ERROR_BAD_NETPATH));
  EXPECT_EQ(accounts.NetUserGetInfo(L"\\\\dc1.test.lan", L"swalker", 3, &buffer), kServerUnavailable);
  // The locator answers from the configuration.
  PDOMAIN_CONTROLLER_INFOA dc = nullptr;
  ASSERT_EQ(accounts.DsGetDcNameA(nullptr, "test.lan", nullptr, nullptr, 0, &dc), 0u);
  EXPECT_STREQ(dc->DomainControllerName, "\\\\DC1.test.lan");
  EXPECT_STREQ(dc->DomainName, "test.lan");
  accounts.NetApiBufferFree(dc);
  EXPECT_EQ(accounts.DsGetDcNameA(nullptr, "OTHER", nullptr, nullptr, 0, &dc), static_cast<DWORD>(ERROR_NO_SUCH_DOMAIN));
  ASSERT_EQ(accounts.NetGetDCName(nullptr, L"TEST", &buffer), static_cast<NET_API_STATUS>(NERR_Success));
  EXPECT_STREQ(reinterpret_cast<wchar_t*>(buffer), L"\\\\DC1");
  accounts.NetApiBufferFree(buffer);
}

// The engine's set-up reads "Domain Users" to see that the accounts are
// readable: with the controller gone it must refuse to start a run.
TEST(SambaAccountsTest, TheEngineDoesNotStartWhenTheAccountsCannotBeRead) {
  test::HostTestEnv env;
  ASSERT_TRUE(env.MakeDirectory("C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts"));
  HKEY key = nullptr;
  ASSERT_EQ(Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters",
                                     &key),
            ERROR_SUCCESS);
  const char scripts[] = "%SystemRoot%\\SYSVOL\\sysvol\\test.lan\\scripts";
  Registry().RegSetValueExA(key, "Scripts", REG_SZ, reinterpret_cast<const BYTE*>(scripts), sizeof scripts);
  Registry().RegCloseKey(key);
  LdapLink link;  // never opened: the controller does not answer
  SambaConfig config;
  std::string error;
  ASSERT_TRUE(ParseSambaConfig(kProvisioned, "smb.conf", &config, &error));
  SambaAccounts accounts(link, config, "DC=test,DC=lan");
  Ports().accounts = &accounts;
  _NCOvLogHolder log;
  ASSERT_TRUE(LoadNetApiEntryPoints());
  CScriptDeployer engine;
  EXPECT_FALSE(engine.Init(nullptr, nullptr, nullptr));
  // The same world with readable accounts starts.
  DomainStore store;
  DomainError loadError;
  ASSERT_TRUE(store.Load(QEL_SAMPLE_DOMAIN, &loadError)) << loadError.ToString();
  Ports().accounts = &store;
  CScriptDeployer readable;
  EXPECT_TRUE(readable.Init(nullptr, nullptr, nullptr));
  Ports().accounts = nullptr;
}

// A directory whose controller (or only its global catalog) does not answer:
// binds fail as ADSI's do, so the engine can go on with the other provider.
TEST(SambaDirectoryTest, AnUnreachableServerFailsBindsAsAdsiDoes) {
  LdapLink ldap, gc;  // never opened: nothing answers
  SambaDirectory directory(ldap, gc, "DC=test,DC=lan", {"DC1", "dc1.test.lan"});
  IDirectorySearchPort* search = reinterpret_cast<IDirectorySearchPort*>(&directory);
  EXPECT_EQ(directory.BindSearch(L"GC://DC=test,DC=lan", &search), kDirServerDown);
  EXPECT_EQ(search, nullptr);
  EXPECT_EQ(directory.BindSearch(L"LDAP://dc1.test.lan/OU=Sales,DC=test,DC=lan", &search), kDirServerDown);
  EXPECT_EQ(directory.BindSearch(L"LDAP://OTHER/DC=test,DC=lan", &search), kDirServerDown);
  EXPECT_EQ(directory.BindSearch(L"LDAP://rootDSE", &search), E_ADS_BAD_PATHNAME);
  EXPECT_EQ(directory.BindSearch(L"ldap://DC=test,DC=lan", &search), E_ADS_BAD_PATHNAME);  // case matters
  EXPECT_EQ(directory.BindSearch(nullptr, &search), E_ADS_BAD_PATHNAME);
  wchar_t value[64];
  DWORD length = 7;
  BOOL text = TRUE;
  EXPECT_EQ(directory.GetObjectString(L"LDAP://rootDSE", L"defaultNamingContext", value, 64, &length, &text),
            kDirServerDown);
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(text);
  EXPECT_EQ(directory.OpenSearches(), 0);
}

}  // namespace
}  // namespace qel
