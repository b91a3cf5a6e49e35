// qel-deploy: one whole deployment run on the host, against the domain store
// or a Samba Active Directory domain.
//
//   qel-deploy (--domain FILE | --samba SMBCONF [--kerberos] [--server HOST])
//              --root DIR (add|remove) [--user ACCOUNT]... [--container DN]...
//              [--center-ip A.B.C.D] [--package PATH]
//              [--no-copy-when-exist] [--remove-when-exist]
//              [--codepage 1252|936]
//   qel-deploy (--domain FILE | --samba SMBCONF ...) --list [--json]
//   qel-deploy ... add|remove ... --what-if [--json]
//   qel-deploy (--domain FILE | --samba SMBCONF ...) --root DIR undo RECORD.csv [--what-if] [--json]
//
// --what-if runs the engine over ports that remember every write instead of
// making it, and lists each account's script path before and after and each
// file the run would write or delete. Every real run writes a run record
// (CSV) beside the log; undo puts back what a record shows changed.
//
// The code page is the ANSI code page of the run (names of files, their
// contents); without --codepage it is the locale's (936 for Chinese).
//
// DIR holds the domain controller's Windows world: DIR/C is drive C,
// DIR/registry.reg its registry (with the Netlogon service's "Scripts"
// value), the NETLOGON scripts folder below C:\WINDOWS, and the wizard's
// folder C:\Program Files\Orvane with the QelCheck.exe to stage. PATH is the
// install package as a Windows path of that world (C:\...).
//
// With --samba the accounts and the directory are those of the Samba
// controller SMBCONF configures, reached as root on it (its privileged
// socket) or, with --kerberos, with the caller's Kerberos ticket. The
// NETLOGON folder is the one its [netlogon] share serves, and the registry
// of DIR is made to name it.
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
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "deploy/script_deployer.h"
#include "deploy/text_util.h"
#include "tools/deploy-cli/run_extras.h"
#include "directory/user_node.h"
#include "log/log_utility.h"
#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_store.h"
#include "platform/domain/domain_text.h"
#include "platform/host/host_ports.h"
#include "platform/host/registry.h"
#ifdef QEL_HAVE_SAMBA
#include "platform/samba/samba_domain.h"
#endif
#include "res/program_info.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "wizard/netapi_entry.h"
#include "wizard/wizard_state.h"

namespace qel {
namespace {

const char kUsage[] =
    "usage: qel-deploy DOMAIN --root DIR (add|remove) [--user ACCOUNT]... [--container DN]...\n"
    "                  [--center-ip A.B.C.D] [--package PATH] [--no-copy-when-exist] [--remove-when-exist]\n"
    "                  [--codepage 1252|936]\n"
    "       qel-deploy DOMAIN --list [--json]\n"
    "       qel-deploy DOMAIN --root DIR undo RECORD.csv [--what-if] [--json]\n"
    "       add, remove and undo take --what-if (change nothing, list what would be done) and --json\n"
    "DOMAIN: --domain FILE | --samba SMBCONF [--kerberos] [--server HOST]\n";

struct Options {
  std::string domain;
  std::string samba;
  bool kerberos = false;
  std::string server;
  std::string root;
  int operation = OP_NONE;
  std::vector<std::string> users;
  std::vector<std::string> containers;
  std::string centerIP;
  std::string package;
  bool noCopyWhenExist = false;
  bool removeWhenExist = false;
  bool list = false;
  unsigned codePage = 0;  // 0: the locale's
  bool whatIf = false;
  bool json = false;
  std::string undo;  // the record to undo
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
    } else if (arg == "--samba") {
      if (!value(&options->samba)) return false;
    } else if (arg == "--kerberos") {
      options->kerberos = true;
    } else if (arg == "--server") {
      if (!value(&options->server)) return false;
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
    } else if (arg == "--codepage") {
      if (!value(&text)) return false;
      if (text != "1252" && text != "936") return Fail("--codepage is 1252 or 936, not \"" + text + "\"");
      options->codePage = static_cast<unsigned>(std::stoul(text));
    } else if (arg == "--list") {
      options->list = true;
    } else if (arg == "--what-if") {
      options->whatIf = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "undo") {
      if (options->operation != OP_NONE || !options->undo.empty()) return Fail("give one operation, add, remove or undo");
      if (!value(&options->undo)) return false;
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
  if (options->domain.empty() == options->samba.empty()) return Fail("give the domain: --domain FILE or --samba SMBCONF");
  if (options->samba.empty() && (options->kerberos || !options->server.empty()))
    return Fail("--kerberos and --server belong to --samba");
  if (options->list) return !options->whatIf || Fail("--what-if belongs to add, remove and undo");
  if (options->root.empty()) return Fail("--root is required");
  if (!options->undo.empty()) {
    if (!options->users.empty() || !options->containers.empty() || !options->centerIP.empty() ||
        !options->package.empty() || options->noCopyWhenExist || options->removeWhenExist)
      return Fail("undo takes only the record (and --what-if, --json)");
    return true;
  }
  if (options->json && !options->whatIf) return Fail("--json belongs to --list and --what-if");
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

// "name<TAB>script path" for every account, in RID order, as the account
// calls list and read them.
bool ListAccounts(bool json) {
  IAccountStore& accounts = *Ports().accounts;
  DWORD index = 0;
  for (;;) {
    DWORD returned = 0;
    PVOID buffer = nullptr;
    NET_API_STATUS status =
        accounts.NetQueryDisplayInformation(nullptr, 1, index, 100, MAX_PREFERRED_LENGTH, &returned, &buffer);
    if (status != NERR_Success && status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA))
      return Fail("the accounts cannot be listed (" + std::to_string(status) + ")");
    const NET_DISPLAY_USER* users = static_cast<const NET_DISPLAY_USER*>(buffer);
    for (DWORD i = 0; i < returned; ++i) {
      LPBYTE info = nullptr;
      std::string script;
      DWORD flags = users[i].usri1_flags;
      if (accounts.NetUserGetInfo(nullptr, users[i].usri1_name, 3, &info) == NERR_Success) {
        script = WideToUtf8(reinterpret_cast<USER_INFO_3*>(info)->usri3_script_path);
        flags = reinterpret_cast<USER_INFO_3*>(info)->usri3_flags;
        accounts.NetApiBufferFree(info);
      }
      if (json)
        std::printf("%s\n", AccountListJson(WideToUtf8(users[i].usri1_name), script, flags).c_str());
      else
        std::printf("%s\t%s\n", WideToUtf8(users[i].usri1_name).c_str(), script.c_str());
      index = users[i].usri1_next_index;
    }
    if (buffer != nullptr) accounts.NetApiBufferFree(buffer);
    if (status == NERR_Success || returned == 0) return true;
  }
}

// `value` for use inside a search filter.
std::wstring FilterEscape(const std::wstring& value) {
  std::wstring out;
  for (wchar_t c : value) {
    if (c == L'*' || c == L'(' || c == L')' || c == L'\\') {
      wchar_t hex[4];
      std::swprintf(hex, 4, L"\\%02x", static_cast<unsigned>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// The first value of `attribute` of the objects `filter` finds at `adsPath`
// (base scope or subtree); *found says whether there was one.
HRESULT DirectoryLookup(const std::wstring& adsPath, bool subtree, const std::wstring& filter,
                        const wchar_t* attribute, std::vector<std::wstring>* values, bool* found) {
  *found = false;
  IDirectorySearchPort* search = nullptr;
  HRESULT hr = Directory().BindSearch(adsPath.c_str(), &search);
  if (FAILED(hr)) return hr;
  ADS_SEARCHPREF_INFO scope = {};
  scope.dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
  scope.vValue.dwType = ADSTYPE_INTEGER;
  scope.vValue.Integer = subtree ? ADS_SCOPE_SUBTREE : ADS_SCOPE_BASE;
  ADS_SEARCH_HANDLE handle = nullptr;
  const wchar_t* attributes[] = {attribute};
  hr = search->SetSearchPreference(&scope, 1);
  if (SUCCEEDED(hr)) hr = search->ExecuteSearch(filter.c_str(), attributes, 1, &handle);
  if (SUCCEEDED(hr) && (hr = search->GetFirstRow(handle)) == S_OK) {
    *found = true;
    ADS_SEARCH_COLUMN column;
    if (SUCCEEDED(search->GetColumn(handle, attribute, &column))) {
      for (DWORD i = 0; i < column.dwNumValues; ++i)
        if (column.pADsValues[i].CaseIgnoreString) values->push_back(column.pADsValues[i].CaseIgnoreString);
      search->FreeColumn(&column);
    }
  }
  if (hr == S_ADS_NOMORE_ROWS) hr = S_OK;
  if (handle != nullptr) search->CloseSearchHandle(handle);
  search->Release();
  return hr;
}

// Says which accounts below a container the run cannot name in the code
// page; the run still takes them (those without a script of their own need
// no file of their name).
void WarnAccountsOutsideCodePage(const std::wstring& dn) {
  IDirectorySearchPort* search = nullptr;
  if (FAILED(Directory().BindSearch((L"LDAP://" + dn).c_str(), &search))) return;
  ADS_SEARCHPREF_INFO preferences[2] = {};
  preferences[0].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
  preferences[0].vValue.dwType = ADSTYPE_INTEGER;
  preferences[0].vValue.Integer = ADS_SCOPE_SUBTREE;
  preferences[1].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
  preferences[1].vValue.dwType = ADSTYPE_INTEGER;
  preferences[1].vValue.Integer = 500;
  ADS_SEARCH_HANDLE handle = nullptr;
  const wchar_t* attributes[] = {L"sAMAccountName"};
  HRESULT hr = search->SetSearchPreference(preferences, 2);
  if (SUCCEEDED(hr))
    hr = search->ExecuteSearch(L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE)))", attributes, 1,
                               &handle);
  for (hr = SUCCEEDED(hr) ? search->GetFirstRow(handle) : hr; hr == S_OK; hr = search->GetNextRow(handle)) {
    ADS_SEARCH_COLUMN column;
    if (FAILED(search->GetColumn(handle, L"sAMAccountName", &column))) continue;
    const wchar_t* name = column.dwNumValues > 0 ? column.pADsValues[0].CaseIgnoreString : nullptr;
    std::wstring outside = CharactersOutsideCodePage(name);
    if (!outside.empty())
      std::fprintf(stderr, "qel-deploy: %s\n", OutsideCodePageText(IDS_NAME_OUTSIDE_CODE_PAGE, name, outside).c_str());
    search->FreeColumn(&column);
  }
  if (handle != nullptr) search->CloseSearchHandle(handle);
  search->Release();
}

// The selection as the user page would leave it: every named account and
// container, selected, at the top level. Nothing is changed when a name is
// unknown.
bool BuildSelection(const std::wstring& namingContext, const Options& options) {
  ClearUserNodes();
  auto append = [](USER_NODE* node) {
    node->bSelected = TRUE;
    g_pLastUserNode->pNext = node;
    g_pLastUserNode = node;
  };
  for (const std::string& user : options.users) {
    std::wstring name;
    if (!Utf8ToWide(user, &name)) return Fail("account name \"" + user + "\" is not UTF-8 text");
    LPBYTE info = nullptr;
    NET_API_STATUS status = Ports().accounts->NetUserGetInfo(nullptr, name.c_str(), 3, &info);
    if (status == NERR_UserNotFound) return Fail("no account \"" + user + "\" in the domain");
    if (status != NERR_Success) return Fail("the account \"" + user + "\" cannot be read (" + std::to_string(status) + ")");
    std::wstring logonName = reinterpret_cast<USER_INFO_3*>(info)->usri3_name;
    Ports().accounts->NetApiBufferFree(info);
    // Its files are named by the logon name in the code page: a name that
    // has no form there is refused before anything changes.
    std::wstring outside = CharactersOutsideCodePage(logonName.c_str());
    if (!outside.empty()) return Fail(OutsideCodePageText(IDS_NAME_OUTSIDE_CODE_PAGE, logonName.c_str(), outside));
    // The tree shows the account's common name, as the directory gives it.
    std::vector<std::wstring> cn;
    bool found = false;
    DirectoryLookup(L"LDAP://" + namingContext, true, L"(sAMAccountName=" + FilterEscape(logonName) + L")", L"cn", &cn, &found);
    std::wstring wideDisplay = cn.empty() ? logonName : cn.front();
    char ansiName[MAX_PATH] = {};
    CodePage().WideCharToMultiByte(CP_ACP, 0, wideDisplay.c_str(), -1, ansiName, sizeof ansiName - 1, nullptr,
                                   nullptr);
    append(NewUserNode(ansiName, nullptr, logonName.c_str(), UserType));
  }
  for (const std::string& container : options.containers) {
    std::wstring dn;
    if (!Utf8ToWide(container, &dn)) return Fail("\"" + container + "\" is not UTF-8 text");
    std::vector<std::wstring> classes, canonical;
    bool found = false;
    HRESULT hr = DirectoryLookup(L"LDAP://" + dn, false, L"(!(isDeleted=TRUE))", L"objectClass", &classes, &found);
    if (found) DirectoryLookup(L"LDAP://" + dn, false, L"(objectClass=*)", L"distinguishedName", &canonical, &found);
    if (!found || canonical.empty()) {
      if (hr == kDirNoSuchObject || hr == E_ADS_BAD_PATHNAME || SUCCEEDED(hr))
        return Fail("no container \"" + container + "\" in the domain");
      return Fail("the container \"" + container + "\" cannot be read (" + std::to_string(static_cast<unsigned>(hr)) + ")");
    }
    for (const std::wstring& c : classes)
      if (EqualNoCase(c, L"user") || EqualNoCase(c, L"computer"))
        return Fail("\"" + container + "\" is an account, not a container: use --user");
    std::string text = WideToUtf8(canonical.front());
    append(NewUserNode(text.c_str(), canonical.front().c_str(), nullptr, OUType));
    WarnAccountsOutsideCodePage(canonical.front());
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
  // Machine-readable output: the list lines give way to the JSON objects.
  void SetQuiet() {
    quiet_ = true;
    tty_ = false;
  }

  int ReportProgress(int kind, LONG_PTR value) override {
    if (kind < PROGRESS_SET_RANGE || kind > PROGRESS_FAILED || quiet_) return 1;
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
    if (kind == PROGRESS_FAILED) {
      std::snprintf(line, sizeof line, "%s", ToTerminal(text != nullptr ? text : "").c_str());
    } else if (kind == PROGRESS_DONE) {
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
    if (kind != PROGRESS_DONE && kind != PROGRESS_FAILED) DrawBar();
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
  bool quiet_ = false;
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
  int answered = 0;
  if (AnswerHelpOrVersion(argc, argv, "qel-deploy", kUsage, &answered)) return answered;
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  // The domain: the store of a domain file, or a Samba controller.
  std::unique_ptr<DomainStore> store;
#ifdef QEL_HAVE_SAMBA
  std::unique_ptr<SambaDomain> samba;
#endif
  std::unique_ptr<IDirectoryPort> storeDirectory;
  IAccountStore* accounts = nullptr;
  IDirectoryPort* directoryPort = nullptr;
  std::wstring namingContext;
  HostConfig config;
  config.root = options.root;
  config.registryFile = options.root + "/registry.reg";
  bool approximate = false;
  config.codePage = options.codePage != 0 ? options.codePage : CodePageOfLocale(LocaleOfEnvironment(), &approximate);
  if (approximate) std::fprintf(stderr, "qel-deploy: %s\n", ResStringUtf8(IDS_TRADITIONAL_AS_936));
  DomainError error;
  if (!options.domain.empty()) {
    DomainStore::Options storeOptions;
    storeOptions.readOnly = options.list;  // a listing leaves the files as they are
    store.reset(new DomainStore(storeOptions));
    if (!store->Load(options.domain, &error)) {
      Fail("cannot load the domain: " + error.ToString());
      return 1;
    }
    storeDirectory.reset(new DomainDirectory(*store));
    accounts = store.get();
    directoryPort = storeDirectory.get();
    namingContext = store->NamingContext();
    config.computerName = WideToUtf8(store->ControllerName());
    if (config.computerName.empty()) config.computerName = "DC01";
    config.shares["\\\\" + config.computerName + "\\NetLogon"] =
        "C:\\WINDOWS\\SYSVOL\\sysvol\\" + WideToUtf8(store->DnsName()) + "\\scripts";
  } else {
#ifdef QEL_HAVE_SAMBA
    samba.reset(new SambaDomain);
    std::string why;
    if (!samba->Open(options.samba, options.kerberos ? LdapCredentials::kKerberos : LdapCredentials::kMachine,
                     options.server, &why)) {
      Fail("cannot open the Samba domain: " + why);
      return 1;
    }
    accounts = &samba->accounts();
    directoryPort = &samba->directory();
    namingContext = Utf8ToWide(samba->namingContext());
    samba->Configure(&config);
#else
    Fail("this build has no Samba support (it needs libldap-dev and libsasl2-dev)");
    return 2;
#endif
  }
  Ports().accounts = accounts;
  Ports().directory = directoryPort;
  if (options.list) return ListAccounts(options.json) ? 0 : 1;

  if (!options.domain.empty() && access(config.registryFile.c_str(), R_OK) != 0) {
    Fail("no registry file " + config.registryFile + " in the root");
    return 2;
  }
  HostPlatform platform(config);
  // A registry file that does not parse: its own message, and nothing changed.
  const std::string registryError = HostRegistryError(*Ports().registry);
  if (!registryError.empty()) {
    Fail(registryError);
    return 2;
  }
  Ports().accounts = accounts;
  Ports().directory = directoryPort;
#ifdef QEL_HAVE_SAMBA
  if (samba) {
    std::string why;
    if (!samba->RegisterScriptsFolder(&why)) {
      Fail(why);
      return 1;
    }
  }
#endif
  _NCOvLogHolder log;
  if (!LoadNetApiEntryPoints()) {
    Fail("the account entry points cannot be loaded");
    return 1;
  }
  if (!options.undo.empty()) {
    int status = RunUndo(options.undo, options.whatIf, options.json, config);
    if (store && !options.whatIf && !store->Flush(&error)) {
      Fail("cannot write the domain: " + error.ToString());
      status = 1;
    }
    return status;
  }
  if (!BuildSelection(namingContext, options)) return 2;
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
  if (options.json) page.SetQuiet();
  // A what-if run swaps in ports that write nothing; a real run keeps its
  // record beside the log.
  RunExtras extras(options.operation == OP_INSTALL ? "add" : "remove", options.whatIf, options.json, config);
  CScriptDeployer engine;
  engine.SetMessageSink(&page);
  if (!engine.Init(&page, stop, pause)) Fail("warning: the controller could not be fully initialised");
  engine.SetCenterIP(state.m_strCenterIP.c_str());
  engine.SetPackagePath(state.m_strPackagePath.c_str());
  if (!extras.Begin(engine.m_szComputerName)) {
    ClearUserNodes();
    return 1;
  }
  engine.SetObserver(extras.observer());

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
  extras.End(engine.m_nTotal, engine.m_nSucceeded);

  int status = 0;
  if (!worker.result) status = 1;
  else if (stopped) status = 130;
  else if (engine.m_nSucceeded != engine.m_nTotal) status = 3;
  if (store && !options.whatIf && !store->Flush(&error)) {
    Fail("cannot write the domain: " + error.ToString());
    status = 1;
  }
#ifdef QEL_HAVE_SAMBA
  // What the run cost the controller, for comparing runs and domains.
  if (samba)
    std::fprintf(stderr, "qel-deploy: %llu directory requests\n", static_cast<unsigned long long>(samba->RoundTrips()));
#endif
  ClearUserNodes();
  return status;
}

}  // namespace
}  // namespace qel

int main(int argc, char** argv) { return qel::Main(argc, argv); }
