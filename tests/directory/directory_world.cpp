#include "tests/directory/directory_world.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "directory/user_node.h"
#include "platform/domain/domain_text.h"
#include "wizard/netapi_entry.h"

namespace qel::test {

std::string SampleDomainText() {
  std::ifstream file(QEL_SAMPLE_DOMAIN, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Utf8(const wchar_t* text) { return text == nullptr ? "<null>" : WideToUtf8(text); }

DirectoryWorld::DirectoryWorld(const std::string& ldif, DWORD majorVersion) {
  env_ = std::make_unique<HostTestEnv>();
  env_->MakeDirectory(kScriptsFolder);
  HKEY key = nullptr;
  Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters", &key);
  const char scripts[] = "%SystemRoot%\\SYSVOL\\sysvol\\test.lan\\scripts";
  Registry().RegSetValueExA(key, "Scripts", REG_SZ, reinterpret_cast<const BYTE*>(scripts), sizeof scripts);
  Registry().RegCloseKey(key);
  store_ = std::make_unique<DomainStore>();
  DomainError error;
  if (!store_->LoadText(ldif.empty() ? SampleDomainText() : ldif, "test.ldif", &error))
    throw std::runtime_error("test domain refused: " + error.ToString());
  Ports().accounts = store_.get();
  directory_ = std::make_unique<DomainDirectory>(*store_);
  Ports().directory = directory_.get();
  if (!LoadNetApiEntryPoints()) throw std::runtime_error("netapi32.dll entry points missing");
  log_ = std::make_unique<_NCOvLogHolder>();
  state_.m_nOperation = OP_INSTALL;
  state_.m_dwMajorVersion = majorVersion;
  ClearUserNodes();
}

DirectoryWorld::~DirectoryWorld() {
  ClearUserNodes();
  log_.reset();
}

std::string DirectoryWorld::LogText() const {
  _NCOvLogUtility* log = _NCOvLogUtility::GetInstance();
  _NCOvLogFile* channel = log != nullptr ? log->GetChannel(0) : nullptr;
  if (channel == nullptr) return "";
  channel->Close();
  return env_->ReadFile(channel->GetPath());
}

HTREEITEM RecordingSink::InsertUserItem(const char* name, const wchar_t* path, const wchar_t* account, int type,
                                        HTREEITEM parent) {
  entries.push_back({name != nullptr ? name : "<null>", Utf8(path), Utf8(account), type, parent});
  if (afterEach) afterEach(entries.size());
  // A distinct non-null handle per entry.
  return reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(0x1000 + entries.size()));
}

std::vector<std::string> RecordingSink::Names() const {
  std::vector<std::string> names;
  for (const SinkEntry& entry : entries) names.push_back(entry.name);
  return names;
}

std::vector<std::string> RecordingSink::Accounts() const {
  std::vector<std::string> accounts;
  for (const SinkEntry& entry : entries) accounts.push_back(entry.account);
  return accounts;
}

std::vector<std::string> TestPageView::Labels() {
  std::vector<std::string> labels;
  for (const auto& item : tree.Items(true))
    labels.push_back(std::string(static_cast<size_t>(item.second) * 2, ' ') + tree.GetItemText(item.first));
  return labels;
}

HTREEITEM TestPageView::FindItem(const std::string& label) {
  for (const auto& item : tree.Items(true))
    if (tree.GetItemText(item.first) == label) return item.first;
  return nullptr;
}

bool WaitSearchEnd(CPage2& page) {
  for (int i = 0; i < 2000 && page.IsSearching(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !page.IsSearching();
}

}  // namespace qel::test
