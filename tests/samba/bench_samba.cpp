// Timing harness (not a test): the deployment over a Samba controller,
// beside the embedded store of the same domain. One organisational unit of
// generated accounts (every third with a logon script of its own) is added
// and removed, selected as the unit and then account by account, and
// AnyScriptedUser walks the whole domain; each run is timed and the requests
// sent to the controller counted, per changed account. Every Samba mode runs
// twice: as the back-end runs by default ("grouped"), then with one request
// per read and each write on its own ("per account"). QEL_BENCH_SELECTED=0 leaves
// out the account-by-account runs. Last for each mode, the controller's own
// cost of a write made alone, with nothing read first: the floor of any run
// whose writes cannot share a transaction.
//
//   bench_samba generate ACCOUNTS FILE    the domain, as LDIF
//   bench_samba run FILE SMBCONF          the runs (with a Kerberos ticket)
//
// tools/samba/bench.sh does both around a throwaway controller.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "deploy/script_deployer.h"
#include "directory/user_node.h"
#include "log/log_utility.h"
#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_generator.h"
#include "platform/domain/domain_store.h"
#include "platform/host/host_ports.h"
#include "platform/samba/samba_domain.h"
#include "wizard/netapi_entry.h"
#include "wizard/wizard_state.h"

namespace qel {
namespace {

// Seconds per object reported for PowerShell's Set-ADUser over a whole domain.
constexpr double kSetAdUserSeconds = 0.060;

class QuietPage : public IProgressReceiver {
 public:
  int ReportProgress(int kind, LONG_PTR value) override {
    if (kind == PROGRESS_DONE) result = reinterpret_cast<const char*>(value);
    return 1;
  }
  std::string result;
};

void MakeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    ::mkdir(path.substr(0, at).c_str(), 0755);
  ::mkdir(path.c_str(), 0755);
}

// The controller's Windows world: the wizard's folder, the package, and for
// the store its NETLOGON folder and registry.
HostConfig World(const std::string& root, bool store) {
  MakeFolders(root + "/C/Program Files/Orvane");
  MakeFolders(root + "/C/Packages");
  std::ofstream(root + "/C/Program Files/Orvane/QelCheck.exe", std::ios::binary) << std::string(64 * 1024, 'c');
  std::ofstream(root + "/C/Packages/QelSetup.exe", std::ios::binary) << std::string(1024 * 1024, 'p');
  HostConfig config;
  config.root = root;
  config.registryFile = root + "/registry.reg";
  if (store) {
    MakeFolders(root + "/C/WINDOWS/SYSVOL/sysvol/test.lan/scripts");
    std::ofstream(config.registryFile, std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters]\r\n"
           "\"Scripts\"=\"%SystemRoot%\\\\SYSVOL\\\\sysvol\\\\test.lan\\\\scripts\"\r\n";
    config.computerName = "DC1";
    config.shares["\\\\DC1\\NetLogon"] = "C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts";
  }
  return config;
}

// Wall time, and the CPU time this process spent, since it was made.
class Stopwatch {
 public:
  Stopwatch() : wall_(std::chrono::steady_clock::now()), cpu_(CpuSeconds()) {}
  double Wall() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count(); }
  double Cpu() const { return CpuSeconds() - cpu_; }

 private:
  static double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + 1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  }
  std::chrono::steady_clock::time_point wall_;
  double cpu_;
};

struct Figures {
  double seconds = 0;
  double cpuSeconds = 0;  // of this process: the rest of the wall time is the controller's, or waiting
  int total = 0, succeeded = 0;
  uint64_t requests = 0;
  bool ok = false;
};

void Print(const char* backend, const char* run, const Figures& f, bool counted, int perAccountOf) {
  int accounts = perAccountOf > 0 ? perAccountOf : f.total;
  char requests[32] = "-";
  if (counted && accounts > 0) std::snprintf(requests, sizeof requests, "%.3f", double(f.requests) / accounts);
  double per = 1000.0 / (accounts > 0 ? accounts : 1);
  std::printf("%-34s %-16s %8.2f %8d %12.0f %10.2f %10.2f %14s%s\n", backend, run, f.seconds, accounts,
              accounts / f.seconds, per * f.seconds, per * f.cpuSeconds, requests, f.ok ? "" : "  FAILED");
}

// The unit selected whole, or each of `accounts` selected on its own.
void Select(const std::vector<std::wstring>* accounts) {
  ClearUserNodes();
  if (!accounts) {
    USER_NODE* unit = NewUserNode("Unit0001", L"OU=Unit0001,DC=test,DC=lan", nullptr, OUType);
    unit->bSelected = TRUE;
    g_UserNodeHead.pNext = unit;
    g_pLastUserNode = unit;
    return;
  }
  USER_NODE** link = &g_UserNodeHead.pNext;
  for (const std::wstring& name : *accounts) {
    std::string display(name.begin(), name.end());
    USER_NODE* node = NewUserNode(display.c_str(), nullptr, name.c_str(), UserType);
    node->bSelected = TRUE;
    *link = node;
    link = &node->pNext;
    g_pLastUserNode = node;
  }
}

// Add and remove over the unit, then (unless left out) over its accounts one
// by one, then one AnyScriptedUser, over what Ports() holds now.
bool Runs(const char* backend, const std::function<uint64_t()>& requests, bool counted,
          const std::vector<std::wstring>& accounts) {
  bool ok = true;
  const char* selected = std::getenv("QEL_BENCH_SELECTED");
  bool oneByOne = !(selected && std::string(selected) == "0") && !accounts.empty();
  for (int pass = 0; pass < (oneByOne ? 4 : 2); ++pass) {
    BOOL install = pass % 2 == 0;
    Select(pass < 2 ? nullptr : &accounts);
    TheWizardState().RemoveWhenExist = FALSE;
    QuietPage page;
    CScriptDeployer engine;
    Figures f;
    uint64_t before = requests();
    Stopwatch watch;
    f.ok = engine.Init(&page, nullptr, nullptr) && engine.SetCenterIP("192.168.1.10") &&
           engine.SetPackagePath("C:\\Packages\\QelSetup.exe") && engine.ChangeAllScript(nullptr, install);
    f.seconds = watch.Wall();
    f.cpuSeconds = watch.Cpu();
    f.requests = requests() - before;
    f.total = engine.m_nTotal;
    f.succeeded = engine.m_nSucceeded;
    f.ok = f.ok && f.total > 0 && f.succeeded == f.total;
    Print(backend, pass < 2 ? (install ? "add" : "remove") : (install ? "add (accounts)" : "remove (accounts)"), f,
          counted, 0);
    ok = ok && f.ok;
  }
  // Nobody runs the product's batch now: the walk reads every account.
  CScriptDeployer engine;
  engine.Init(nullptr, nullptr, nullptr);
  DWORD listed = 0;
  for (DWORD index = 0;;) {
    DWORD returned = 0;
    PVOID buffer = nullptr;
    NET_API_STATUS status =
        Ports().accounts->NetQueryDisplayInformation(nullptr, 1, index, 100, MAX_PREFERRED_LENGTH, &returned, &buffer);
    const NET_DISPLAY_USER* users = static_cast<const NET_DISPLAY_USER*>(buffer);
    for (DWORD i = 0; i < returned; ++i) {
      if (users[i].usri1_name[0] != 0 && users[i].usri1_name[std::wcslen(users[i].usri1_name) - 1] != L'$') ++listed;
      index = users[i].usri1_next_index;
    }
    if (buffer) Ports().accounts->NetApiBufferFree(buffer);
    if (status != ERROR_MORE_DATA || returned == 0) break;
  }
  Figures f;
  uint64_t before = requests();
  Stopwatch watch;
  f.ok = !engine.AnyScriptedUser();
  f.seconds = watch.Wall();
  f.cpuSeconds = watch.Cpu();
  f.requests = requests() - before;
  f.total = static_cast<int>(listed);
  Print(backend, "AnyScriptedUser", f, counted, static_cast<int>(listed));
  ClearUserNodes();
  return ok && f.ok;
}

// The controller's own cost of one account write: the unit's first
// accounts given a script path and given back their own, each write one
// request on its own (no read, no engine), through the mode's link. What
// the deployment's writes cost can come no lower than this, however few
// requests it sends.
bool Floor(const char* backend, DirectoryLink& link, const std::vector<std::wstring>& accounts) {
  std::vector<LdapEntry> rows;
  if (link.SearchAll("OU=Unit0001,DC=test,DC=lan", LdapScope::kOneLevel, "(objectClass=user)", {"scriptPath"},
                     &rows) != 0)
    return false;
  size_t count = std::min<size_t>(rows.size(), std::min<size_t>(accounts.size(), 500));
  Figures f;
  f.ok = true;
  uint64_t before = link.RoundTrips();
  Stopwatch watch;
  for (int pass = 0; pass < 2; ++pass)
    for (size_t i = 0; i < count; ++i) {
      LdapModification m;
      m.attribute = "scriptPath";
      // As the deployment writes: only while the path is still the one read.
      m.onlyIfWas = true;
      m.value = pass == 0 ? "QelFloor.bat" : rows[i].First("scriptpath");
      m.was = pass == 0 ? rows[i].First("scriptpath") : "QelFloor.bat";
      f.ok = link.Modify(rows[i].dn, {m}) == 0 && f.ok;
    }
  f.seconds = watch.Wall();
  f.cpuSeconds = watch.Cpu();
  f.requests = link.RoundTrips() - before;
  f.total = static_cast<int>(2 * count);
  Print(backend, "one write alone", f, true, f.total);
  return f.ok;
}

int Generate(int accounts, const std::string& file) {
  GeneratedDomain shape;
  shape.accounts = accounts;
  shape.organizationalUnits = 1;
  shape.ownScriptEvery = 3;
  std::ofstream(file, std::ios::binary) << GenerateDomainLdif(shape);
  return 0;
}

int Run(const std::string& ldif, const std::string& smbConf) {
  char pattern[] = "/tmp/qel-bench-samba-XXXXXX";
  std::string scratch = ::mkdtemp(pattern);
  std::printf("%-34s %-16s %8s %8s %12s %10s %10s %14s\n", "back-end", "run", "wall s", "accounts", "accounts/s",
              "ms/account", "our CPU ms", "requests/acct");
  bool ok = true;
  std::vector<std::wstring> unit;  // the logon names of the unit's accounts
  {
    DomainStore store;
    DomainError error;
    std::string copy = scratch + "/domain.ldif";
    std::ofstream(copy, std::ios::binary) << std::ifstream(ldif, std::ios::binary).rdbuf();
    if (!store.Load(copy, &error)) {
      std::fprintf(stderr, "cannot load %s: %s\n", ldif.c_str(), error.ToString().c_str());
      return 1;
    }
    HostPlatform platform(World(scratch + "/store", true));
    DomainDirectory directory(store);
    Ports().accounts = &store;
    Ports().directory = &directory;
    {
      auto lock = store.ReadLock();
      for (uint32_t index : store.AccountsByRid()) {
        const DirObject& object = store.Object(index);
        DirValues name = store.Values(object, kAttrSamAccountName);
        if (!name.empty() && object.dn.find(L"OU=Unit0001,") != std::wstring::npos) unit.emplace_back(name.front());
      }
    }
    _NCOvLogHolder log;
    ok = LoadNetApiEntryPoints() && Runs("embedded store", [] { return uint64_t(0); }, false, unit) && ok;
  }
  struct Mode {
    const char* name;
    LdapCredentials credentials;
    bool netapi;
  } modes[] = {{"Samba, in its database", LdapCredentials::kMachine, false},
               {"Samba, LDAP + ticket", LdapCredentials::kKerberos, false},
               {"Samba, 1009 + ticket", LdapCredentials::kKerberos, true}};
  // Each mode grouped first, then one request per read: the slow runs last.
  for (const Mode& mode : modes)
    for (bool perAccount : {false, true}) {
      if (mode.netapi && std::getenv("QEL_BENCH_NETAPI") == nullptr) continue;
      SambaDomain samba;
      std::string why;
      if (!samba.Open(smbConf, mode.credentials, "", &why, mode.netapi)) {
        std::fprintf(stderr, "%s: %s\n", mode.name, why.c_str());
        ok = false;
        continue;
      }
      samba.accounts().SetPerAccountRequests(perAccount);
      HostConfig config =
          World(scratch + "/" + std::to_string(&mode - modes) + (perAccount ? "-per-account" : "-grouped"), false);
      samba.Configure(&config);
      HostPlatform platform(config);
      Ports().accounts = &samba.accounts();
      Ports().directory = &samba.directory();
      if (!samba.RegisterScriptsFolder(&why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
      }
      _NCOvLogHolder log;
      if (!LoadNetApiEntryPoints()) return 1;
      std::string name = std::string(mode.name) + (perAccount ? ", per account" : ", grouped");
      ok = Runs(name.c_str(), [&] { return samba.RoundTrips(); }, true, unit) && ok;
      if (perAccount && !mode.netapi) ok = Floor(mode.name, samba.link(), unit) && ok;
    }
  std::printf("%-34s %-16s %8s %8s %12.0f %10.2f %10s %14s\n", "Set-ADUser (reported)", "per object", "-", "-",
              1.0 / kSetAdUserSeconds, 1000.0 * kSetAdUserSeconds, "-", "-");
  std::string remove = "rm -rf -- '" + scratch + "'";
  if (std::system(remove.c_str()) != 0) std::fprintf(stderr, "%s is left\n", scratch.c_str());
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace qel

int main(int argc, char** argv) {
  // Each line as soon as it is measured: the runs take minutes.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "generate" && argc == 4) return qel::Generate(std::atoi(argv[2]), argv[3]);
  if (command == "run" && argc == 4) return qel::Run(argv[2], argv[3]);
  std::fprintf(stderr, "usage: bench_samba generate ACCOUNTS FILE\n       bench_samba run FILE SMBCONF\n");
  return 2;
}
