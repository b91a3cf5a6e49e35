// The Samba back-end against a running controller loaded with the sample
// domain, side by side with the embedded store of the same file: the same
// calls must give the same answers. Run by tests/e2e/samba_dc.sh, which
// starts the controller and sets QEL_SAMBA_CONF (its smb.conf),
// QEL_SAMBA_LDIF (the file it was loaded from) and the Kerberos ticket.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_store.h"
#include "platform/domain/domain_text.h"
#include "deploy/script_deployer.h"
#include "log/log_utility.h"
#include "platform/samba/samba_domain.h"
#include "tests/domain/domain_test_util.h"
#include "wizard/netapi_entry.h"
#include "wizard/startup.h"
#include "wizard/wizard_state.h"

namespace qel {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

using test::Account;

Account Read(IAccountStore& accounts, const std::wstring& name) { return test::GetAccount(accounts, name.c_str()); }

// The whole listing, `perCall` entries at a time; each call's count checked,
// and the RIDs rising from one entry to the next.
std::vector<std::wstring> Listing(IAccountStore& accounts, DWORD perCall) {
  std::vector<std::wstring> names;
  DWORD index = 0, lastRid = 0;
  for (int calls = 0; calls < 100000; ++calls) {
    DWORD returned = 0;
    PVOID buffer = nullptr;
    NET_API_STATUS status =
        accounts.NetQueryDisplayInformation(nullptr, 1, index, perCall, MAX_PREFERRED_LENGTH, &returned, &buffer);
    EXPECT_TRUE(status == NERR_Success || status == ERROR_MORE_DATA) << status;
    EXPECT_LE(returned, perCall);
    const NET_DISPLAY_USER* users = static_cast<const NET_DISPLAY_USER*>(buffer);
    for (DWORD i = 0; i < returned; ++i) {
      names.push_back(users[i].usri1_name);
      EXPECT_GT(users[i].usri1_user_id, lastRid);
      lastRid = users[i].usri1_user_id;
      EXPECT_EQ(users[i].usri1_flags & UF_SCRIPT, static_cast<DWORD>(UF_SCRIPT));
      index = users[i].usri1_next_index;
    }
    if (buffer) accounts.NetApiBufferFree(buffer);
    if (status != ERROR_MORE_DATA || returned == 0) break;
  }
  return names;
}

std::set<std::wstring> Members(IAccountStore& accounts, const wchar_t* group, NET_API_STATUS* status) {
  std::set<std::wstring> names;
  DWORD_PTR resume = 0;
  do {
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    *status = accounts.NetGroupGetUsers(nullptr, group, 0, &buffer, 200, &read, &total, &resume);
    if (*status != NERR_Success && *status != ERROR_MORE_DATA) return names;
    for (DWORD i = 0; i < read; ++i) names.insert(reinterpret_cast<GROUP_USERS_INFO_0*>(buffer)[i].grui0_name);
    accounts.NetApiBufferFree(buffer);
  } while (*status == ERROR_MORE_DATA);
  return names;
}

// Rows of one search: the first value of `attribute` per row, and the row count.
std::vector<std::wstring> Search(IDirectoryPort& directory, const wchar_t* path, int scope, DWORD pageSize,
                                 DWORD sizeLimit, const wchar_t* filter, const wchar_t* attribute,
                                 HRESULT* columnResult = nullptr) {
  std::vector<std::wstring> values;
  IDirectorySearchPort* search = nullptr;
  HRESULT hr = directory.BindSearch(path, &search);
  EXPECT_EQ(hr, S_OK) << WideToUtf8(path);
  if (FAILED(hr)) return values;
  ADS_SEARCHPREF_INFO prefs[3] = {};
  prefs[0].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
  prefs[1].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
  prefs[2].dwSearchPref = ADS_SEARCHPREF_SIZE_LIMIT;
  DWORD numbers[3] = {static_cast<DWORD>(scope), pageSize, sizeLimit};
  for (int i = 0; i < 3; ++i) {
    prefs[i].vValue.dwType = ADSTYPE_INTEGER;
    prefs[i].vValue.Integer = numbers[i];
  }
  EXPECT_EQ(search->SetSearchPreference(prefs, 3), S_OK);
  const wchar_t* attributes[] = {attribute};
  ADS_SEARCH_HANDLE handle = nullptr;
  EXPECT_EQ(search->ExecuteSearch(filter, attributes, 1, &handle), S_OK);
  for (hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle)) {
    ADS_SEARCH_COLUMN column;
    HRESULT got = search->GetColumn(handle, attribute, &column);
    if (columnResult) *columnResult = got;
    if (SUCCEEDED(got)) {
      const ADSVALUE* first = column.dwNumValues > 0 ? &column.pADsValues[0] : nullptr;
      if (!first)
        values.push_back(L"");
      else if (column.dwADsType == ADSTYPE_INTEGER)
        values.push_back(std::to_wstring(first->Integer));
      else
        values.push_back(first->CaseIgnoreString ? first->CaseIgnoreString : L"");
      search->FreeColumn(&column);
    } else {
      values.push_back(L"<no column>");
    }
  }
  EXPECT_EQ(hr, S_ADS_NOMORE_ROWS);
  search->CloseSearchHandle(handle);
  search->Release();
  return values;
}

std::vector<std::wstring> Folded(std::vector<std::wstring> values) {
  for (std::wstring& v : values) v = FoldCase(v);
  std::sort(values.begin(), values.end());
  return values;
}

struct Reach {
  LdapCredentials credentials;
  bool netapiWrites;
  const char* name;
};

class SambaLiveTest : public ::testing::TestWithParam<Reach> {
 protected:
  void SetUp() override {
    std::string conf = Env("QEL_SAMBA_CONF"), ldif = Env("QEL_SAMBA_LDIF");
    ASSERT_FALSE(conf.empty() || ldif.empty()) << "run by tests/e2e/samba_dc.sh";
    DomainError error;
    ASSERT_TRUE(store_.Load(ldif, &error)) << error.ToString();
    std::string why;
    ASSERT_TRUE(samba_.Open(conf, GetParam().credentials, "", &why, GetParam().netapiWrites)) << why;
    ASSERT_EQ(samba_.WritesThroughNetApi(), GetParam().netapiWrites && GetParam().credentials == LdapCredentials::kKerberos);
    storeDirectory_.reset(new DomainDirectory(store_));
    // The accounts both hold: Samba keeps a few of its own (krbtgt, the
    // controller), and leaves out what sits below a class it lacks.
    for (const std::wstring& name : Listing(samba_.accounts(), 1000)) sambaNames_.insert(FoldCase(name));
    for (const std::wstring& name : Listing(store_, 1000)) {
      if (sambaNames_.count(FoldCase(name))) common_.push_back(name);
      else missing_.push_back(name);
    }
  }

  std::vector<std::wstring> Common(const std::vector<std::wstring>& names) const {
    std::set<std::wstring> common;
    for (const std::wstring& n : common_) common.insert(FoldCase(n));
    std::vector<std::wstring> out;
    for (const std::wstring& n : names)
      if (common.count(FoldCase(n))) out.push_back(n);
    return out;
  }

  DomainStore store_;
  SambaDomain samba_;
  std::unique_ptr<DomainDirectory> storeDirectory_;
  std::set<std::wstring> sambaNames_;
  std::vector<std::wstring> common_, missing_;
};

TEST_P(SambaLiveTest, AccountsReadAlike) {
  ASSERT_GE(common_.size(), 25u);
  // The one account the controller does not hold sits below the Exchange
  // container, a class Samba's schema lacks.
  ASSERT_EQ(missing_.size(), 1u);
  EXPECT_EQ(missing_.front().compare(0, 3, L"SM_"), 0);
  for (const std::wstring& name : common_) {
    SCOPED_TRACE(WideToUtf8(name));
    Account a = Read(store_, name), b = Read(samba_.accounts(), name);
    ASSERT_EQ(a.status, NERR_Success);
    ASSERT_EQ(b.status, NERR_Success);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.script, b.script);
    EXPECT_EQ(a.profile, b.profile);
    EXPECT_EQ(a.fullName, b.fullName);
    EXPECT_EQ(a.homeDir, b.homeDir);
    EXPECT_EQ(a.comment, b.comment);
    EXPECT_EQ(a.flags, b.flags);
    EXPECT_EQ(a.primaryGroup, b.primaryGroup);
  }
  EXPECT_EQ(Read(samba_.accounts(), L"JDOE").name, L"jdoe");  // without regard to case
  EXPECT_EQ(Read(samba_.accounts(), L"nosuchuser").status, NERR_UserNotFound);
  EXPECT_EQ(Read(samba_.accounts(), L"olduser").status, NERR_UserNotFound);  // deleted in the file
  EXPECT_EQ(Read(samba_.accounts(), L"a*").status, NERR_UserNotFound);       // no wildcards
}

// In RID order, which on the controller is the order the load made the
// accounts in (parents first), not the file's.
TEST_P(SambaLiveTest, ListingPagesInRidOrder) {
  std::vector<std::wstring> whole = Listing(samba_.accounts(), 1000);
  EXPECT_EQ(Listing(samba_.accounts(), 3), whole);
  EXPECT_EQ(Folded(Common(whole)), Folded(Common(Listing(store_, 1000))));
}

TEST_P(SambaLiveTest, GroupsListPrimaryMembersToo) {
  NET_API_STATUS status = 0;
  std::set<std::wstring> samba = Members(samba_.accounts(), L"Domain Users", &status);
  EXPECT_EQ(status, NERR_Success);
  std::set<std::wstring> store = Members(store_, L"Domain Users", &status);
  auto common = [&](const std::set<std::wstring>& names) {
    std::vector<std::wstring> out;
    for (const std::wstring& n : names)
      if (std::find(common_.begin(), common_.end(), n) != common_.end()) out.push_back(n);
    return out;
  };
  EXPECT_GE(samba.size(), 20u);
  EXPECT_EQ(common(samba), common(store));
  std::set<std::wstring> staff = Members(samba_.accounts(), L"Sales Staff", &status);
  EXPECT_EQ(status, NERR_Success);
  EXPECT_EQ(common(staff), common(Members(store_, L"Sales Staff", &status)));
  Members(samba_.accounts(), L"No Such Group", &status);
  EXPECT_EQ(status, NERR_GroupNotFound);
}

// What the engine writes: the script path of a level-3 record read just
// before, with UF_SCRIPT set. Only the path may change in the directory.
TEST_P(SambaLiveTest, WritesChangeOnlyTheScriptPath) {
  IAccountStore& accounts = samba_.accounts();
  auto storedFlags = [&](const wchar_t* name) {
    std::vector<std::wstring> flags = Search(samba_.directory(), L"LDAP://DC=test,DC=lan", ADS_SCOPE_SUBTREE, 0, 0,
                                             (std::wstring(L"(sAMAccountName=") + name + L")").c_str(),
                                             L"userAccountControl");
    return flags.size() == 1 ? flags.front() : L"?";
  };
  for (const wchar_t* name : {L"gwood", L"hking", L"jdoe"}) {
    SCOPED_TRACE(WideToUtf8(name));
    std::wstring before = storedFlags(name);
    Account original = Read(accounts, name);
    LPBYTE buffer = nullptr;
    ASSERT_EQ(accounts.NetUserGetInfo(nullptr, name, 3, &buffer), NERR_Success);
    USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
    LPWSTR own = info->usri3_script_path;
    info->usri3_script_path = const_cast<LPWSTR>(L"QelInstall.bat");
    info->usri3_flags |= UF_SCRIPT;
    EXPECT_EQ(accounts.NetUserSetInfo(nullptr, name, 3, buffer, nullptr), NERR_Success);
    EXPECT_EQ(Read(accounts, name).script, L"QelInstall.bat");
    EXPECT_EQ(storedFlags(name), before);
    // Cleared, then the account's own path back.
    info->usri3_script_path = const_cast<LPWSTR>(L"");
    EXPECT_EQ(accounts.NetUserSetInfo(nullptr, name, 3, buffer, nullptr), NERR_Success);
    EXPECT_EQ(Read(accounts, name).script, L"");
    info->usri3_script_path = own;
    EXPECT_EQ(accounts.NetUserSetInfo(nullptr, name, 3, buffer, nullptr), NERR_Success);
    accounts.NetApiBufferFree(buffer);
    Account after = Read(accounts, name);
    EXPECT_EQ(after.script, original.script);
    EXPECT_EQ(after.flags, original.flags);
    EXPECT_EQ(storedFlags(name), before);
  }
  // Refused writes change nothing and name the field.
  LPBYTE buffer = nullptr;
  ASSERT_EQ(accounts.NetUserGetInfo(nullptr, L"cwhite", 3, &buffer), NERR_Success);
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
  info->usri3_name = const_cast<LPWSTR>(L"someoneelse");
  info->usri3_script_path = const_cast<LPWSTR>(L"changed.bat");
  DWORD parm = 0;
  EXPECT_EQ(accounts.NetUserSetInfo(nullptr, L"cwhite", 3, buffer, &parm),
            static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(parm, USER_NAME_PARMNUM);
  accounts.NetApiBufferFree(buffer);
  EXPECT_EQ(Read(accounts, L"cwhite").script, Read(store_, L"cwhite").script);
  USER_INFO_1009 script = {const_cast<LPWSTR>(L"x.bat")};
  EXPECT_EQ(accounts.NetUserSetInfo(nullptr, L"nosuchuser", 1009, reinterpret_cast<LPBYTE>(&script), nullptr),
            NERR_UserNotFound);
}

TEST_P(SambaLiveTest, DirectorySearchesAlike) {
  IDirectoryPort& samba = samba_.directory();
  IDirectoryPort& store = *storeDirectory_;
  const wchar_t* people = L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE)))";
  std::vector<std::wstring> all = Search(samba, L"GC://DC=test,DC=lan", ADS_SCOPE_SUBTREE, 100, 0, people,
                                         L"sAMAccountName");
  EXPECT_EQ(Folded(Common(all)),
            Folded(Common(Search(store, L"GC://DC=test,DC=lan", ADS_SCOPE_SUBTREE, 100, 0, people, L"sAMAccountName"))));
  // Pages of two give the same rows; a size limit stops the rows.
  EXPECT_EQ(Search(samba, L"LDAP://DC=test,DC=lan", ADS_SCOPE_SUBTREE, 2, 0, people, L"sAMAccountName"), all);
  EXPECT_EQ(Search(samba, L"LDAP://DC=test,DC=lan", ADS_SCOPE_SUBTREE, 2, 5, people, L"sAMAccountName").size(), 5u);
  // One level: the containers and accounts right below the unit.
  const wchar_t* sales = L"LDAP://OU=Sales,DC=test,DC=lan";
  EXPECT_EQ(Folded(Search(samba, sales, ADS_SCOPE_ONELEVEL, 0, 0, L"(objectClass=*)", L"distinguishedName")),
            Folded(Search(store, sales, ADS_SCOPE_ONELEVEL, 0, 0, L"(objectClass=*)", L"distinguishedName")));
  // The global catalog does not carry script paths; the domain does.
  HRESULT column = S_OK;
  Search(samba, L"GC://CN=Sam Walker,CN=Users,DC=test,DC=lan", ADS_SCOPE_BASE, 0, 0, L"(objectClass=*)",
         L"scriptPath", &column);
  EXPECT_EQ(column, E_ADS_COLUMN_NOT_SET);
  EXPECT_EQ(Search(samba, L"LDAP://CN=Sam Walker,CN=Users,DC=test,DC=lan", ADS_SCOPE_BASE, 0, 0, L"(objectClass=*)",
                   L"scriptPath"),
            std::vector<std::wstring>{L"logon.bat"});

  IDirectorySearchPort* search = nullptr;
  EXPECT_EQ(samba.BindSearch(L"LDAP://OU=Nowhere,DC=test,DC=lan", &search), kDirNoSuchObject);
  EXPECT_EQ(samba.BindSearch(L"LDAP://OTHER/DC=test,DC=lan", &search), kDirServerDown);
  EXPECT_EQ(samba.BindSearch(L"WinNT://DC1", &search), E_ADS_BAD_PATHNAME);
  ASSERT_EQ(samba.BindSearch(L"LDAP://DC1/DC=test,DC=lan", &search), S_OK);
  ADS_SEARCH_HANDLE handle = nullptr;
  const wchar_t* attributes[] = {L"cn"};
  EXPECT_EQ(search->ExecuteSearch(L"(cn=unbalanced", attributes, 1, &handle), E_ADS_INVALID_FILTER);
  search->Release();

  wchar_t value[256] = {};
  DWORD length = 0;
  BOOL text = FALSE;
  ASSERT_EQ(samba.GetObjectString(L"LDAP://rootDSE", L"defaultNamingContext", value, 256, &length, &text), S_OK);
  EXPECT_STREQ(value, L"DC=test,DC=lan");
  EXPECT_TRUE(text);
  EXPECT_EQ(samba.GetObjectString(L"LDAP://CN=Sam Walker,CN=Users,DC=test,DC=lan", L"userAccountControl", value,
                                  256, &length, &text),
            S_OK);
  EXPECT_FALSE(text);  // a number, not a string
}

TEST_P(SambaLiveTest, TheLocatorNamesTheController) {
  PDOMAIN_CONTROLLER_INFOA a = nullptr, b = nullptr;
  ASSERT_EQ(store_.DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, 0, &a), 0u);
  ASSERT_EQ(samba_.accounts().DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, 0, &b), 0u);
  EXPECT_STREQ(a->DomainControllerName, b->DomainControllerName);
  EXPECT_STREQ(a->DomainName, b->DomainName);
  store_.NetApiBufferFree(a);
  samba_.accounts().NetApiBufferFree(b);
  HostConfig host;
  samba_.Configure(&host);
  EXPECT_EQ(host.computerName, "DC1");
  EXPECT_EQ(host.mounts.at("C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts"), samba_.config().netlogonPath);
}

// The wizard's start-up gate and the engine's set-up, unchanged, on the
// controller: its name from the locator and the computer name agree, the
// naming context comes from the directory, the registry names the NETLOGON
// folder, and the domain's accounts are readable.
TEST_P(SambaLiveTest, StartUpGateAndScriptsFolderWorkOnTheController) {
  char pattern[] = "/tmp/qel-samba-gate-XXXXXX";
  std::string root = ::mkdtemp(pattern);
  HostConfig host;
  host.root = root;
  host.registryFile = root + "/registry.reg";
  samba_.Configure(&host);
  {
    HostPlatform platform(host);
    Ports().accounts = &samba_.accounts();
    Ports().directory = &samba_.directory();
    std::string why;
    ASSERT_TRUE(samba_.RegisterScriptsFolder(&why)) << why;
    _NCOvLogHolder log;
    ASSERT_TRUE(LoadNetApiEntryPoints());
    CScriptWizardApp app;
    EXPECT_EQ(app.CheckDomainController(), 0u);
    wchar_t context[256];
    DWORD capacity = 256;
    EXPECT_EQ(GetDefaultNamingContext(context, &capacity), 1u);
    EXPECT_STREQ(context, L"DC=test,DC=lan");
    char folder[MAX_PATH] = {};
    ASSERT_TRUE(FindScriptsFolder("C:\\WINDOWS", folder));
    EXPECT_STREQ(folder, "C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts");
    DWORD attributes = Files().GetFileAttributesA("\\\\DC1\\NETLOGON");
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    CScriptDeployer engine;
    EXPECT_TRUE(engine.Init(nullptr, nullptr, nullptr));
    // The registry is not written again when it already names the folder.
    struct stat before, after;
    ASSERT_EQ(::stat(host.registryFile.c_str(), &before), 0);
    ASSERT_TRUE(samba_.RegisterScriptsFolder(&why)) << why;
    ASSERT_EQ(::stat(host.registryFile.c_str(), &after), 0);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  }
  // Run anywhere else, the gate sends the administrator to the controller.
  host.computerName = "WS01";
  {
    HostPlatform platform(host);
    Ports().accounts = &samba_.accounts();
    Ports().directory = &samba_.directory();
    _NCOvLogHolder log;
    ASSERT_TRUE(LoadNetApiEntryPoints());
    CScriptWizardApp app;
    EXPECT_NE(app.CheckDomainController(), 0u);
  }
  std::string remove = "rm -rf -- '" + root + "'";
  EXPECT_EQ(std::system(remove.c_str()), 0);
}

// What a write decides on may have been read a while ago: a script path
// changed meanwhile by someone else is not overwritten, whichever way the
// write goes (a conditional modification, or the library's write after a
// second look).
TEST_P(SambaLiveTest, AScriptPathChangedSinceItWasReadIsNotOverwritten) {
  IAccountStore& accounts = samba_.accounts();
  auto setDirectly = [&](const char* script) {
    std::vector<LdapEntry> found;
    ASSERT_EQ(samba_.link().SearchAll("DC=test,DC=lan", LdapScope::kSubtree, "(sAMAccountName=asmith)", {"1.1"}, &found), 0);
    ASSERT_EQ(found.size(), 1u);
    LdapModification change;
    change.attribute = "scriptPath";
    change.value = script;
    ASSERT_EQ(samba_.link().Modify(found.front().dn, {change}), 0) << samba_.link().LastError();
  };
  std::wstring own = Read(accounts, L"asmith").script;
  LPBYTE buffer = nullptr;
  ASSERT_EQ(accounts.NetUserGetInfo(nullptr, L"asmith", 3, &buffer), NERR_Success);
  setDirectly("other.bat");
  ::usleep(1100 * 1000);  // older than what the library's write takes on trust
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
  info->usri3_script_path = const_cast<LPWSTR>(L"Qelasmith.bat");
  EXPECT_NE(accounts.NetUserSetInfo(nullptr, L"asmith", 3, buffer, nullptr), NERR_Success);
  accounts.NetApiBufferFree(buffer);
  std::vector<std::wstring> now = Search(samba_.directory(), L"LDAP://DC=test,DC=lan", ADS_SCOPE_SUBTREE, 0, 0,
                                         L"(sAMAccountName=asmith)", L"scriptPath");
  EXPECT_EQ(now, std::vector<std::wstring>{L"other.bat"});
  setDirectly(WideToUtf8(own).c_str());
}

// The link of a process that is killed the moment it would commit.
class KilledAtCommit : public DirectoryLink {
 public:
  explicit KilledAtCommit(DirectoryLink& inner) : inner_(inner) {}
  int SearchPage(const std::string& base, LdapScope scope, const std::string& filter,
                 const std::vector<std::string>& attributes, int pageSize, int sizeLimit, std::string* cookie,
                 std::vector<LdapEntry>* entries) override {
    return inner_.SearchPage(base, scope, filter, attributes, pageSize, sizeLimit, cookie, entries);
  }
  int Modify(const std::string& dn, const std::vector<LdapModification>& changes) override {
    return inner_.Modify(dn, changes);
  }
  std::string LastError() const override { return inner_.LastError(); }
  uint64_t RoundTrips() const override { return inner_.RoundTrips(); }
  bool Transactions() const override { return inner_.Transactions(); }
  int BeginTransaction() override { return inner_.BeginTransaction(); }
  int CommitTransaction() override {
    ::kill(::getpid(), SIGKILL);
    return inner_.CommitTransaction();
  }
  int CancelTransaction() override { return inner_.CancelTransaction(); }

 private:
  DirectoryLink& inner_;
};

// In the controller's database a run's writes are transactions: a run killed
// between its wrapper batches and its commit leaves every account as it was
// (at worst a wrapper nobody names), and the next run completes the work.
TEST_P(SambaLiveTest, ARunKilledBeforeItsCommitLosesNoScript) {
  if (GetParam().credentials != LdapCredentials::kMachine) GTEST_SKIP() << "transactions are the database's";
  const std::vector<std::wstring> chosen = {L"asmith", L"cwhite", L"dgreen", L"gwood", L"hking", L"oharris"};
  auto stored = [&](const std::wstring& name) {
    std::vector<std::wstring> script = Search(samba_.directory(), L"LDAP://DC=test,DC=lan", ADS_SCOPE_SUBTREE, 0, 0,
                                              (L"(sAMAccountName=" + name + L")").c_str(), L"scriptPath");
    if (script.size() != 1) return std::wstring(L"?");
    return script.front() == L"<no column>" ? std::wstring() : script.front();
  };
  std::map<std::wstring, std::wstring> before;
  for (const std::wstring& name : chosen) before[name] = stored(name);
  std::string netlogon = samba_.config().netlogonPath;
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(netlogon)) files.insert(entry.path().filename());

  char pattern[] = "/tmp/qel-samba-kill-XXXXXX";
  std::string root = ::mkdtemp(pattern);
  HostConfig host;
  host.root = root;
  host.registryFile = root + "/registry.reg";
  samba_.Configure(&host);
  std::filesystem::create_directories(root + "/C/Program Files/Orvane");
  std::filesystem::create_directories(root + "/C/pkg");
  std::ofstream(root + "/C/Program Files/Orvane/QelCheck.exe") << "checker";
  std::ofstream(root + "/C/pkg/QelSetup.exe") << "package";
  auto wrapper = [&](const std::wstring& name) {
    return std::filesystem::exists(netlogon + "/Qel" + WideToUtf8(name) + ".bat");
  };
  {
    HostPlatform platform(host);
    std::string why;
    ASSERT_TRUE(samba_.RegisterScriptsFolder(&why)) << why;
    _NCOvLogHolder log;
    ASSERT_TRUE(LoadNetApiEntryPoints());
    ClearUserNodes();
    for (const std::wstring& name : chosen) {
      USER_NODE* node = NewUserNode(WideToUtf8(name).c_str(), nullptr, name.c_str(), UserType);
      node->bSelected = TRUE;
      node->pNext = g_UserNodeHead.pNext;
      g_UserNodeHead.pNext = node;
    }
    // One run in a process of its own over a fresh connection to the
    // database; true when it was killed at its commit.
    auto killedRun = [&](BOOL install) {
      pid_t child = ::fork();
      if (child == 0) {
        SambaDomain domain;
        std::string error;
        if (!domain.Open(Env("QEL_SAMBA_CONF"), LdapCredentials::kMachine, "", &error, false)) ::_exit(3);
        KilledAtCommit link(domain.link());
        SambaAccounts accounts(link, domain.config(), domain.namingContext());
        SambaDirectory directory(link, link, domain.namingContext(), {"DC1"});
        directory.ReadAheadInto(&accounts);
        Ports().accounts = &accounts;
        Ports().directory = &directory;
        CScriptDeployer engine;
        bool ran = engine.Init(nullptr, nullptr, nullptr) && engine.SetCenterIP("10.1.2.3") &&
                   engine.SetPackagePath("C:\\pkg\\QelSetup.exe") && engine.ChangeAllScript(nullptr, install);
        ::_exit(ran ? 0 : 4);
      }
      int status = 0;
      EXPECT_EQ(::waitpid(child, &status, 0), child);
      return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    };
    auto run = [&](BOOL install) {
      Ports().accounts = &samba_.accounts();
      Ports().directory = &samba_.directory();
      CScriptDeployer engine;
      EXPECT_TRUE(engine.Init(nullptr, nullptr, nullptr) && engine.SetCenterIP("10.1.2.3") &&
                  engine.SetPackagePath("C:\\pkg\\QelSetup.exe") && engine.ChangeAllScript(nullptr, install));
      EXPECT_EQ(engine.m_nSucceeded, engine.m_nTotal);
    };

    ASSERT_TRUE(killedRun(TRUE));
    for (const std::wstring& name : chosen) {
      SCOPED_TRACE(WideToUtf8(name));
      EXPECT_EQ(stored(name), before[name]);
      // Written before the commit that never came: it names nothing.
      EXPECT_EQ(wrapper(name), !before[name].empty());
    }
    run(TRUE);
    for (const std::wstring& name : chosen) {
      SCOPED_TRACE(WideToUtf8(name));
      EXPECT_EQ(stored(name), before[name].empty() ? L"QelInstall.bat" : L"Qel" + name + L".bat");
    }
    ASSERT_TRUE(killedRun(FALSE));
    for (const std::wstring& name : chosen) {
      SCOPED_TRACE(WideToUtf8(name));
      EXPECT_EQ(stored(name), before[name].empty() ? L"QelInstall.bat" : L"Qel" + name + L".bat");
      EXPECT_EQ(wrapper(name), !before[name].empty());  // still holding the account's own script
    }
    run(FALSE);
    for (const std::wstring& name : chosen) {
      SCOPED_TRACE(WideToUtf8(name));
      EXPECT_EQ(stored(name), before[name]);
      EXPECT_FALSE(wrapper(name));
    }
    ClearUserNodes();
  }
  // The controller's NETLOGON folder as it was: the staged files go again.
  for (const auto& entry : std::filesystem::directory_iterator(netlogon))
    if (!files.count(entry.path().filename())) std::filesystem::remove(entry.path());
  std::filesystem::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Credentials, SambaLiveTest,
                         ::testing::Values(Reach{LdapCredentials::kMachine, false, "Database"},
                                           Reach{LdapCredentials::kKerberos, false, "TicketLdap"},
                                           Reach{LdapCredentials::kKerberos, true, "TicketNetApi"}),
                         [](const ::testing::TestParamInfo<Reach>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qel
