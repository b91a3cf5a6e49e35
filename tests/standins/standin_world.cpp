#include "tests/standins/standin_world.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "deploy/script_deployer.h"
#include "directory/user_node.h"
#include "wizard/netapi_entry.h"
#include "wizard/wizard_state.h"

#ifndef QEL_SOURCE_DIR
#define QEL_SOURCE_DIR ""
#endif

namespace qel {
namespace standin_test {

namespace {

const char kNetlogon[] = "SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters";

std::wstring Wide(const std::string& text) {
  wchar_t buffer[512] = {};
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer, 511);
  return buffer;
}

std::string Narrow(const wchar_t* text) {
  char buffer[1024] = {};
  if (text != nullptr) WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
  return buffer;
}

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

class Recorder : public IProgressReceiver, public IMessageSink {
 public:
  explicit Recorder(RunResult* result) : result_(result) {}
  int ReportProgress(int kind, LONG_PTR value) override {
    std::string line = std::to_string(kind);
    if (kind >= PROGRESS_COPY_FILE && value != 0) line += " " + std::string(reinterpret_cast<const char*>(value));
    if (kind != PROGRESS_SET_POS) result_->lines.push_back(line);
    return 1;
  }
  void ShowMessage(const char* text, const char* caption) override {
    result_->messages.push_back(std::string(caption) + ": " + text);
  }

 private:
  RunResult* result_;
};

}  // namespace

std::string SampleDomain() {
  char buffer[MAX_PATH] = {};
  if (GetEnvironmentVariableA("QEL_SAMPLE_DOMAIN", buffer, sizeof buffer) > 0) return buffer;
  return std::string(QEL_SOURCE_DIR) + "\\samples\\sample-domain.ldif";
}

void SetSetting(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

bool ScriptsValue::Set(const std::string& folder) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kNetlogon, &key) != ERROR_SUCCESS) return false;
  if (!set_) {
    char old[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH, type = 0;
    hadValue_ = RegQueryValueExA(key, "Scripts", nullptr, &type, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS;
    old_ = old;
  }
  bool ok = RegSetValueExA(key, "Scripts", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                           static_cast<DWORD>(folder.size() + 1)) == ERROR_SUCCESS;
  set_ = set_ || ok;
  RegCloseKey(key);
  return ok;
}

ScriptsValue::~ScriptsValue() {
  if (!set_) return;
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kNetlogon, &key) != ERROR_SUCCESS) return;
  if (hadValue_)
    RegSetValueExA(key, "Scripts", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                   static_cast<DWORD>(old_.size() + 1));
  else
    RegDeleteValueA(key, "Scripts");
  RegCloseKey(key);
}

World::World() {
  static int counter = 0;
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  // Wine hands out process ids again; a folder left by a killed run is passed over.
  for (;;) {
    folder_ = std::string(temp) + "qel-standins-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++counter);
    if (CreateDirectoryA(folder_.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS || counter > 1000) {
      error_ = "cannot make the folder, error " + std::to_string(GetLastError());
      return;
    }
  }
  scripts_ = folder_ + "\\scripts";
  domain_ = folder_ + "\\domain.ldif";
  package_ = folder_ + "\\QelSetup.exe";
  if (!CreateDirectoryA(scripts_.c_str(), nullptr)) {
    error_ = "cannot make the folder, error " + std::to_string(GetLastError());
    return;
  }
  if (!CopyFileA(SampleDomain().c_str(), domain_.c_str(), FALSE)) {
    error_ = "cannot copy " + SampleDomain() + ", error " + std::to_string(GetLastError());
    return;
  }
  {
    std::ofstream package(package_, std::ios::binary);
    package << "install package";
  }
  SetSetting("QEL_STANDIN_DOMAIN", domain_.c_str());

  ok_ = scriptsValue_.Set(scripts_);
  if (!ok_) error_ = "cannot set the Netlogon \"Scripts\" value";
}

World::~World() {
  SetSetting("QEL_STANDIN_FAIL", nullptr);
  SetSetting("QEL_STANDIN_DC", nullptr);
  // Another domain for the stand-in, so that it writes and lets go of this one.
  SetSetting("QEL_STANDIN_DOMAIN", SampleDomain().c_str());
  if (g_NetApi.NetQueryDisplayInformation != nullptr) {
    DWORD count = 0;
    void* buffer = nullptr;
    if (g_NetApi.NetQueryDisplayInformation(nullptr, 1, 0, 1, MAX_PREFERRED_LENGTH, &count, &buffer) == 0 ||
        buffer != nullptr)
      g_NetApi.NetApiBufferFree(buffer);
  }
  SetSetting("QEL_STANDIN_DOMAIN", nullptr);
  RemoveTree(folder_);
}

RunResult RunDeployment(bool install, const Selection& selection, const std::string& centerIP,
                        const std::string& package, bool noCopyWhenExist, bool removeWhenExist) {
  RunResult result;
  ClearUserNodes();
  auto append = [](USER_NODE* node) {
    node->bSelected = TRUE;
    g_pLastUserNode->pNext = node;
    g_pLastUserNode = node;
  };
  for (const std::string& user : selection.users)
    append(NewUserNode(user.c_str(), nullptr, Wide(user).c_str(), UserType));
  for (const std::string& container : selection.containers)
    append(NewUserNode(container.c_str(), Wide(container).c_str(), nullptr, OUType));

  WizardState& state = TheWizardState();
  state.m_nOperation = install ? OP_INSTALL : OP_UNINSTALL;
  state.NoCopyWhenExist = noCopyWhenExist ? TRUE : FALSE;
  state.RemoveWhenExist = removeWhenExist ? TRUE : FALSE;

  Recorder recorder(&result);
  {
    CScriptDeployer engine;
    engine.SetMessageSink(&recorder);
    result.initialised = engine.Init(&recorder, nullptr, nullptr);
    engine.SetCenterIP(centerIP.c_str());
    engine.SetPackagePath(package.c_str());
    result.finished = engine.ChangeAllScript(nullptr, install ? TRUE : FALSE);
    result.total = engine.m_nTotal;
    result.succeeded = engine.m_nSucceeded;
  }
  ClearUserNodes();
  return result;
}

std::string ScriptPathOf(const char* account) {
  LPBYTE buffer = nullptr;
  NET_API_STATUS status = g_NetApi.NetUserGetInfo(nullptr, Wide(account).c_str(), 3, &buffer);
  if (status != NERR_Success) return "?" + std::to_string(status);
  std::string path = Narrow(reinterpret_cast<USER_INFO_3*>(buffer)->usri3_script_path);
  g_NetApi.NetApiBufferFree(buffer);
  return path;
}

DWORD FlagsOf(const char* account) {
  LPBYTE buffer = nullptr;
  if (g_NetApi.NetUserGetInfo(nullptr, Wide(account).c_str(), 3, &buffer) != NERR_Success) return 0;
  DWORD flags = reinterpret_cast<USER_INFO_3*>(buffer)->usri3_flags;
  g_NetApi.NetApiBufferFree(buffer);
  return flags;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace standin_test
}  // namespace qel
