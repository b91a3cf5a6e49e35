#include "tests/deploy/deploy_world.h"

#include <set>
#include <stdexcept>

#include "platform/domain/domain_text.h"
#include "platform/domain/ldif.h"
#include "wizard/netapi_entry.h"

namespace qel::test {

namespace {

std::string AccountDn(const TestAccount& account) {
  return "CN=" + account.name + "," + (account.ou.empty() ? "CN=Users" : "OU=" + account.ou) + ",DC=test,DC=lan";
}

}  // namespace

std::string DomainLdif(const std::vector<TestAccount>& accounts) {
  std::string text =
      "# qel-domain: TEST\n# qel-controller: DC01\n# qel-dns: test.lan\n\n"
      "dn: DC=test,DC=lan\nobjectClass: top\nobjectClass: domain\ndc: test\n\n"
      "dn: CN=Users,DC=test,DC=lan\nobjectClass: top\nobjectClass: container\ncn: Users\n\n";
  std::set<std::string> ous;
  for (const TestAccount& account : accounts) {
    if (account.ou.empty() || !ous.insert(account.ou).second) continue;
    text += "dn: OU=" + account.ou + ",DC=test,DC=lan\nobjectClass: top\nobjectClass: organizationalUnit\nou: " +
            account.ou + "\n\n";
  }
  for (const TestAccount& account : accounts) {
    bool computer = !account.name.empty() && account.name.back() == '$';
    text += FormatLdifLine("dn", AccountDn(account));
    text += "objectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\nobjectClass: user\n";
    if (computer) text += "objectClass: computer\n";
    text += computer ? "objectCategory: CN=Computer,CN=Schema,CN=Configuration,DC=test,DC=lan\n"
                     : "objectCategory: CN=Person,CN=Schema,CN=Configuration,DC=test,DC=lan\n";
    text += FormatLdifLine("cn", account.name);
    text += FormatLdifLine("sAMAccountName", account.name);
    text += "userAccountControl: " + std::to_string(account.flags) + "\n";
    if (!account.script.empty()) text += FormatLdifLine("scriptPath", account.script);
    if (!account.profile.empty()) text += FormatLdifLine("profilePath", account.profile);
    text += "\n";
  }
  text += "dn: CN=Domain Users,CN=Users,DC=test,DC=lan\nobjectClass: top\nobjectClass: group\n"
          "cn: Domain Users\nsAMAccountName: Domain Users\n";
  for (const TestAccount& account : accounts) text += FormatLdifLine("member", AccountDn(account));
  text += "\n";
  return text;
}

int RecordingReceiver::ReportProgress(int kind, LONG_PTR value) {
  std::string text;
  if (kind <= PROGRESS_SET_POS)
    text = std::to_string(value);
  else if (value != 0)
    text = reinterpret_cast<const char*>(value);
  reports.emplace_back(kind, text);
  return 1;
}

std::vector<std::string> RecordingReceiver::Of(int kind) const {
  std::vector<std::string> texts;
  for (const auto& report : reports)
    if (report.first == kind) texts.push_back(report.second);
  return texts;
}

void RecordingMessages::ShowMessage(const char* text, const char* caption) { messages.emplace_back(text, caption); }

DeployWorld::DeployWorld(const std::vector<TestAccount>& accounts, bool scriptsValue) {
  env_ = std::make_unique<HostTestEnv>();
  env_->MakeDirectory(kScriptsDir);
  env_->WriteFile(std::string(kModuleDir) + "\\QelCheck.exe", "checker");
  if (scriptsValue) SetNetlogon("Scripts", "%SystemRoot%\\SYSVOL\\sysvol\\test.lan\\scripts");
  SetNetlogon("SysVol", "C:\\WINDOWS\\SYSVOL\\sysvol");

  store_ = std::make_unique<DomainStore>();
  DomainError error;
  if (!store_->LoadText(DomainLdif(accounts), "test.ldif", &error))
    throw std::runtime_error("test domain refused: " + error.ToString());
  Ports().accounts = store_.get();
  directory_ = std::make_unique<DomainDirectory>(*store_);
  Ports().directory = directory_.get();
  if (!LoadNetApiEntryPoints()) throw std::runtime_error("netapi32.dll entry points missing");
  log_ = std::make_unique<_NCOvLogHolder>();
}

DeployWorld::~DeployWorld() { log_.reset(); }

void DeployWorld::SetNetlogon(const char* name, const char* value) {
  HKEY key = nullptr;
  if (Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters",
                               &key) != ERROR_SUCCESS)
    throw std::runtime_error("cannot make the Netlogon key");
  if (value != nullptr) {
    std::string text(value);
    Registry().RegSetValueExA(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
  } else {
    // The port has no delete: a value too long to read stands for a missing one.
    std::string tooLong(400, 'z');
    Registry().RegSetValueExA(key, name, REG_SZ, reinterpret_cast<const BYTE*>(tooLong.c_str()),
                              static_cast<DWORD>(tooLong.size() + 1));
  }
  Registry().RegCloseKey(key);
}

std::string DeployWorld::ScriptOf(const std::string& account) const {
  LPBYTE buffer = nullptr;
  if (g_NetApi.NetUserGetInfo(nullptr, Utf8ToWide(account).c_str(), 3, &buffer) != NERR_Success)
    return "<unreadable>";
  const USER_INFO_3* info = reinterpret_cast<const USER_INFO_3*>(buffer);
  std::string script = info->usri3_script_path != nullptr ? WideToUtf8(info->usri3_script_path) : "";
  g_NetApi.NetApiBufferFree(buffer);
  return script;
}

DWORD DeployWorld::FlagsOf(const std::string& account) const {
  LPBYTE buffer = nullptr;
  if (g_NetApi.NetUserGetInfo(nullptr, Utf8ToWide(account).c_str(), 3, &buffer) != NERR_Success) return 0xFFFFFFFFu;
  DWORD flags = reinterpret_cast<const USER_INFO_3*>(buffer)->usri3_flags;
  g_NetApi.NetApiBufferFree(buffer);
  return flags;
}

std::string DeployWorld::LogText() const {
  _NCOvLogUtility* log = _NCOvLogUtility::GetInstance();
  if (log == nullptr) return "";
  _NCOvLogFile* channel = log->GetChannel(0);
  if (channel == nullptr) return "";
  channel->Close();
  return env_->ReadFile(channel->GetPath());
}

std::string AccountListing(DomainStore& store) {
  std::string listing;
  auto lock = store.ReadLock();
  for (uint32_t index : store.AccountsByRid()) {
    const DirObject& object = store.Object(index);
    DirValues names = store.Values(object, kAttrSamAccountName);
    DirValues scripts = store.Values(object, kAttrScriptPath);
    listing += (!names.empty() ? WideToUtf8(names[0]) : std::string("?")) + "=" +
               (!scripts.empty() ? WideToUtf8(scripts[0]) : std::string()) + "\n";
  }
  return listing;
}

}  // namespace qel::test
