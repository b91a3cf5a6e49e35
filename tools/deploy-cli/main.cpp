// qel-deploy: one whole deployment run on the host, against the domain store.
//
//   qel-deploy --domain FILE --root DIR (add|remove) [--user ACCOUNT]...
//              [--container DN]... [--center-ip A.B.C.D] [--package PATH]
//              [--no-copy-when-exist] [--remove-when-exist]
//   qel-deploy --domain FILE --list
//
// DIR holds the domain controller's Windows world: DIR/C is drive C,
// DIR/registry.reg its registry (with the Netlogon service's "Scripts"
// value), the NETLOGON scripts folder below C:\WINDOWS, and the wizard's
// folder C:\Program Files\Orvane with the QelCheck.exe to stage. PATH is the
// install package as a Windows path of that world (C:\...).
//
// The selection becomes the wizard's node list; the run goes on a worker
// thread as on the progress page, and its lines are printed as the page
// lists them. Ctrl-C stops the run as the page's "Yes" does. The domain file
// is written once, at the end.
//
// Exit status: 0 done, every account changed; 1 the run or the domain file
// failed (nothing or only the staging done); 2 bad command line or
// selection (nothing changed); 3 done, but some accounts failed;
// 130 stopped by the user.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "deploy/script_deployer.h"
#include "directory/user_node.h"
#include "log/log_utility.h"
#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_store.h"
#include "platform/domain/domain_text.h"
#include "platform/host/host_ports.h"
#include "res/string_table.h"
#include "wizard/netapi_entry.h"
#include "wizard/wizard_state.h"

namespace qel {
namespace {

const char kUsage[] =
    "usage: qel-deploy --domain FILE --root DIR (add|remove) [--user ACCOUNT]... [--container DN]...\n"
    "                  [--center-ip A.B.C.D] [--package PATH] [--no-copy-when-exist] [--remove-when-exist]\n"
    "       qel-deploy --domain FILE --list\n";

struct Options {
  std::string domain;
  std::string root;
  int operation = OP_NONE;
  std::vector<std::string> users;
  std::vector<std::string> containers;
  std::string centerIP;
  std::string package;
  bool noCopyWhenExist = false;
  bool removeWhenExist = false;
  bool list = false;
};

bool Fail(const std::string& message) {
  std::fprintf(stderr, "qel-deploy: %s\n", message.c_str());
  return false;
}

bool IsDottedQuad(const std::string& text) {
  int parts = 0;
  size_t i = 0;
  while (i <= text.size()) {
    size_t end = text.find('.', i);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(i, end - i);
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos) return false;
    if (std::stoi(part) > 255) return false;
    ++parts;
    i = end + 1;
  }
  return parts == 4;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return Fail(arg + " needs a value");
      *out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--domain") {
      if (!value(&options->domain)) return false;
    } else if (arg == "--root") {
      if (!value(&options->root)) return false;
    } else if (arg == "--user") {
      if (!value(&text)) return false;
      options->users.push_back(text);
    } else if (arg == "--container") {
      if (!value(&text)) return false;
      options->containers.push_back(text);
    } else if (arg == "--center-ip") {
      if (!value(&options->centerIP)) return false;
      if (!IsDottedQuad(options->centerIP)) return Fail("\"" + options->centerIP + "\" is not an address A.B.C.D");
    } else if (arg == "--package") {
      if (!value(&options->package)) return false;
      if (options->package.size() > 259) return Fail("the package path is longer than 259 characters");
    } else if (arg == "--no-copy-when-exist") {
      options->noCopyWhenExist = true;
    } else if (arg == "--remove-when-exist") {
      options->removeWhenExist = true;
    } else if (arg == "--list") {
      options->list = true;
    } else if (arg == "add" || arg == "remove") {
      if (options->operation != OP_NONE) return Fail("give one operation, add or remove");
      options->operation = arg == "add" ? OP_INSTALL : OP_UNINSTALL;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      return Fail("unknown argument \"" + arg + "\"");
    }
  }
  if (options->domain.empty()) return Fail("--domain is required");
  if (options->list) return true;
  if (options->root.empty()) return Fail("--root is required");
  if (options->operation == OP_NONE) return Fail("give the operation: add or remove");
  if (options->operation == OP_UNINSTALL && (!options->centerIP.empty() || !options->package.empty()))
    return Fail("--center-ip and --package belong to add");
  if (options->operation == OP_INSTALL && options->removeWhenExist) return Fail("--remove-when-exist belongs to remove");
  // As in the wizard, the center address and the package may be left out
  // only when the files already staged are to be kept.
  if (options->operation == OP_INSTALL && !options->noCopyWhenExist &&
      (options->centerIP.empty() || options->package.empty()))
    return Fail("add needs --center-ip and --package (or --no-copy-when-exist)");
  if (options->operation == OP_UNINSTALL && options->noCopyWhenExist) return Fail("--no-copy-when-exist belongs to add");
  return true;
}

std::string FirstValue(DomainStore& store, const DirObject& object, uint16_t attribute) {
  const std::vector<std::wstring>* values = store.Values(object, attribute);
  return values != nullptr && !values->empty() ? WideToUtf8((*values)[0]) : std::string();
}

// "name<TAB>script path" for every account, in RID order.
void ListAccounts(DomainStore& store) {
  auto lock = store.ReadLock();
  for (uint32_t index : store.AccountsByRid()) {
    const DirObject& object = store.Object(index);
    std::printf("%s\t%s\n", FirstValue(store, object, kAttrSamAccountName).c_str(),
                FirstValue(store, object, kAttrScriptPath).c_str());
  }
}

// The selection as the user page would leave it: every named account and
// container, selected, at the top level. Nothing is changed when a name is
// unknown.
bool BuildSelection(DomainStore& store, const Options& options) {
  ClearUserNodes();
  auto append = [](USER_NODE* node) {
    node->bSelected = TRUE;
    g_pLastUserNode->pNext = node;
    g_pLastUserNode = node;
  };
  for (const std::string& user : options.users) {
    std::wstring name;
    if (!Utf8ToWide(user, &name)) return Fail("account name \"" + user + "\" is not UTF-8 text");
    uint32_t index = store.FindAccount(name);
    if (index == kNoObject) return Fail("no account \"" + user + "\" in the domain");
    std::string logonName, displayName;
    {
      auto lock = store.ReadLock();
      logonName = FirstValue(store, store.Object(index), kAttrSamAccountName);
      displayName = FirstValue(store, store.Object(index), kAttrCn);
    }
    // The tree shows the account's common name, as the directory gives it.
    char ansiName[MAX_PATH] = {};
    std::wstring wideDisplay = Utf8ToWide(displayName.empty() ? logonName : displayName);
    CodePage().WideCharToMultiByte(CP_ACP, 0, wideDisplay.c_str(), -1, ansiName, sizeof ansiName - 1, nullptr,
                                   nullptr);
    append(NewUserNode(ansiName, nullptr, Utf8ToWide(logonName).c_str(), UserType));
  }
  for (const std::string& container : options.containers) {
    std::wstring dn;
    if (!Utf8ToWide(container, &dn)) return Fail("\"" + container + "\" is not UTF-8 text");
    uint32_t index = store.FindObject(dn);
    bool isAccount = false;
    std::string canonical;
    if (index != kNoObject) {
      auto lock = store.ReadLock();
      const DirObject& object = store.Object(index);
      isAccount = object.account;
      canonical = WideToUtf8(object.dn);
      if (object.deleted) index = kNoObject;
    }
    if (index == kNoObject) return Fail("no container \"" + container + "\" in the domain");
    if (isAccount) return Fail("\"" + container + "\" is an account, not a container: use --user");
    append(NewUserNode(canonical.c_str(), Utf8ToWide(canonical).c_str(), nullptr, OUType));
  }
  return true;
}

// The engine's texts are in the ANSI code page; the terminal takes UTF-8.
std::string ToTerminal(const char* ansi) {
  wchar_t wide[1024];
  if (CodePage().MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, 1024) == 0) return ansi;
  return WideToUtf8(wide);
}

// The progress page on a terminal: the same list lines, and the bar as a
// status line on stderr when it is a terminal.
class TerminalPage : public IProgressReceiver, public IMessageSink {
 public:
  TerminalPage() : tty_(isatty(STDERR_FILENO) != 0) {}

  int ReportProgress(int kind, LONG_PTR value) override {
    if (kind < PROGRESS_SET_RANGE || kind > PROGRESS_DONE) return 1;
    if (kind == PROGRESS_SET_RANGE) {
      range_ = static_cast<int>(value & 0xFFFF);
      return 1;
    }
    if (kind == PROGRESS_SET_POS) {
      position_ = static_cast<short>(value & 0xFFFF);
      DrawBar();
      return 1;
    }
    const char* text = reinterpret_cast<const char*>(value);
    char line[1024];
    if (kind == PROGRESS_DONE) {
      char completed[64] = {};
      LoadResString(110, completed, sizeof completed);
      std::snprintf(line, sizeof line, "%s%s", completed, text != nullptr ? text : "");
      position_ = range_;
    } else {
      // Each line steps the page's bar by ten, starting again past its end.
      position_ += 10;
      if (position_ > range_) position_ = 10;
      if (text == nullptr) {
        static const UINT kHeadings[] = {129, 127, 128, 130};
        LoadResString(kHeadings[kind - PROGRESS_COPY_FILE], line, sizeof line);
      } else {
        std::snprintf(line, sizeof line, "    %s", ToTerminal(text).c_str());
      }
    }
    ClearBar();
    std::printf("%s\n", line);
    std::fflush(stdout);
    if (kind != PROGRESS_DONE) DrawBar();
    return 1;
  }

  void ShowMessage(const char* text, const char* caption) override {
    ClearBar();
    std::fprintf(stderr, "[%s] %s\n", ToTerminal(caption).c_str(), ToTerminal(text).c_str());
  }

  void ClearBar() {
    if (!tty_ || !drawn_) return;
    std::fprintf(stderr, "\r%*s\r", 60, "");
    drawn_ = false;
  }

 private:
  void DrawBar() {
    if (!tty_ || range_ <= 0) return;
    int filled = position_ * 40 / range_;
    if (filled < 0) filled = 0;
    if (filled > 40) filled = 40;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", 40 - filled, "",
                 position_ * 100 / range_);
    std::fflush(stderr);
    drawn_ = true;
  }

  bool tty_;
  bool drawn_ = false;
  int range_ = 100;
  int position_ = 0;
};

struct Worker {
  CScriptDeployer* engine;
  BOOL install;
  BOOL result;
};

DWORD RunWorker(LPVOID data) {
  Worker* worker = static_cast<Worker*>(data);
  worker->result = worker->engine->ChangeAllScript(nullptr, worker->install);
  return 0;
}

int Main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  DomainStore store;
  DomainError error;
  if (!store.Load(options.domain, &error)) {
    Fail("cannot load the domain: " + error.ToString());
    return 1;
  }
  if (options.list) {
    ListAccounts(store);
    return 0;
  }

  HostConfig config;
  config.root = options.root;
  config.registryFile = options.root + "/registry.reg";
  config.computerName = WideToUtf8(store.ControllerName());
  if (config.computerName.empty()) config.computerName = "DC01";
  config.shares["\\\\" + config.computerName + "\\NetLogon"] =
      "C:\\WINDOWS\\SYSVOL\\sysvol\\" + WideToUtf8(store.DnsName()) + "\\scripts";
  if (access(config.registryFile.c_str(), R_OK) != 0) {
    Fail("no registry file " + config.registryFile + " in the root");
    return 2;
  }
  HostPlatform platform(config);
  Ports().accounts = &store;
  DomainDirectory directory(store);
  Ports().directory = &directory;
  _NCOvLogHolder log;
  if (!LoadNetApiEntryPoints()) {
    Fail("the account entry points cannot be loaded");
    return 1;
  }
  if (!BuildSelection(store, options)) return 2;
  if (!options.package.empty() && Files().GetFileAttributesA(options.package.c_str()) == INVALID_FILE_ATTRIBUTES) {
    Fail("no install package " + options.package);
    ClearUserNodes();
    return 2;
  }

  WizardState& state = TheWizardState();
  state.m_nOperation = options.operation;
  state.m_strCenterIP = options.centerIP;
  state.m_strPackagePath = options.package;
  state.NoCopyWhenExist = options.noCopyWhenExist;
  state.RemoveWhenExist = options.removeWhenExist;

  // The page's two events: pause (manual, signalled) and stop (auto).
  HANDLE pause = Sync().CreateEventA(TRUE, TRUE, nullptr);
  HANDLE stop = Sync().CreateEventA(FALSE, FALSE, nullptr);
  TerminalPage page;
  CScriptDeployer engine;
  engine.SetMessageSink(&page);
  if (!engine.Init(&page, stop, pause)) Fail("warning: the controller could not be fully initialised");
  engine.SetCenterIP(state.m_strCenterIP.c_str());
  engine.SetPackagePath(state.m_strPackagePath.c_str());

  // Ctrl-C is taken by this thread, as the page takes its close command.
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  sigaddset(&interrupt, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
  Worker worker{&engine, options.operation == OP_INSTALL, FALSE};
  HANDLE thread = Sync().CreateThread(RunWorker, &worker, nullptr);
  if (thread == nullptr) {
    Fail("cannot start the worker thread");
    return 1;
  }
  bool stopped = false;
  while (Sync().WaitForSingleObject(thread, 100) == WAIT_TIMEOUT) {
    struct timespec none = {0, 0};
    if (!stopped && sigtimedwait(&interrupt, nullptr, &none) > 0) {
      stopped = true;
      page.ClearBar();
      std::fprintf(stderr, "qel-deploy: stopping after the current step...\n");
      Sync().ResetEvent(pause);
      Sync().SetEvent(stop);
    }
  }
  Sync().CloseHandle(thread);
  Sync().CloseHandle(pause);
  Sync().CloseHandle(stop);
  page.ClearBar();

  int status = 0;
  if (!worker.result) status = 1;
  else if (stopped) status = 130;
  else if (engine.m_nSucceeded != engine.m_nTotal) status = 3;
  if (!store.Flush(&error)) {
    Fail("cannot write the domain: " + error.ToString());
    status = 1;
  }
  ClearUserNodes();
  return status;
}

}  // namespace
}  // namespace qel

int main(int argc, char** argv) { return qel::Main(argc, argv); }
