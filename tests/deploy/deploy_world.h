// A domain controller for the engine's tests: a fresh host world (drive C,
// registry, NETLOGON scripts folder, the wizard's folder with QelCheck.exe),
// a domain store serving "netapi32.dll" and the directory, the entry points
// loaded and a log.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "deploy/progress.h"
#include "deploy/script_deployer.h"
#include "log/log_utility.h"
#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_store.h"
#include "tests/fakes/fault_plan.h"
#include "tests/fakes/host/host_test_env.h"

namespace qel::test {

inline constexpr char kScriptsDir[] = "C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts";
inline constexpr char kModuleDir[] = "C:\\Program Files\\Orvane";

// One account of a test domain.
struct TestAccount {
  TestAccount(std::string ou, std::string name, std::string script = "", unsigned flags = 0x201,
              std::string profile = "")
      : ou(std::move(ou)), name(std::move(name)), script(std::move(script)), flags(flags),
        profile(std::move(profile)) {}
  std::string ou;       // "" for CN=Users, else the OU's name below the domain
  std::string name;     // logon name
  std::string script;   // scriptPath, "" for none
  unsigned flags;       // userAccountControl
  std::string profile;  // profilePath
};

// LDIF of the domain test.lan with one OU per distinct TestAccount::ou.
std::string DomainLdif(const std::vector<TestAccount>& accounts);

// Records the run's reports: numbers as decimal text, texts as they came,
// null texts (headings) as "".
class RecordingReceiver : public IProgressReceiver {
 public:
  int ReportProgress(int kind, LONG_PTR value) override;
  std::vector<std::pair<int, std::string>> reports;
  std::vector<std::string> Of(int kind) const;
};

class RecordingMessages : public IMessageSink {
 public:
  void ShowMessage(const char* text, const char* caption) override;
  std::vector<std::pair<std::string, std::string>> messages;  // text, caption
};

class DeployWorld {
 public:
  explicit DeployWorld(const std::vector<TestAccount>& accounts = {}, bool scriptsValue = true);
  ~DeployWorld();

  HostTestEnv& env() { return *env_; }
  DomainStore& store() { return *store_; }
  DomainDirectory& directory() { return *directory_; }

  // Sets (or with a null value makes unreadable) a value of the Netlogon parameters.
  void SetNetlogon(const char* name, const char* value);

  // The account as the network-management interface returns it.
  std::string ScriptOf(const std::string& account) const;
  DWORD FlagsOf(const std::string& account) const;
  std::string ScriptsFile(const std::string& name) const { return std::string(kScriptsDir) + "\\" + name; }

  // The log's text so far.
  std::string LogText() const;

 private:
  ScopedPorts savedPorts_;
  std::unique_ptr<HostTestEnv> env_;
  std::unique_ptr<DomainStore> store_;
  std::unique_ptr<DomainDirectory> directory_;
  std::unique_ptr<_NCOvLogHolder> log_;
};

// Every account of the store with its script path, one "name=script" line each.
std::string AccountListing(DomainStore& store);

}  // namespace qel::test
