// qelscript: the wizard in a terminal on the host (see terminal_wizard.h for
// the answers it reads and options.h for its switches).
//
// The host's Windows world: without /rehearse the folder $QEL_HOST_ROOT
// (default /tmp/qelscript-host) with no domain, so the start-up gate ends the
// program as on a computer outside any domain. With /rehearse <domain.ldif>
// <folder>, <folder> is drive C of the world ("C:\NETLOGON" is
// <folder>/C/NETLOGON, the registry <folder>/registry.reg), the program
// lives in "C:\Program Files\Orvane" (QelCheck.exe is staged from there) and
// this computer is the domain's controller.
//
// With --samba <smb.conf> [--kerberos] (host only) the wizard works on the
// Samba Active Directory domain that configuration describes, from its
// controller: the world is $QEL_HOST_ROOT as above, with the controller's
// name, its NETLOGON share and folder, and the registry naming that folder;
// the accounts and the directory are the domain's (see platform/samba).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "log/log_utility.h"
#include "platform/host/host_ports.h"
#include "platform/net_ports.h"
#include "res/program_info.h"
#include "res/string_table.h"
#include "wizard/deploy_runner.h"
#include "wizard/startup.h"
#include "wizard/page_finish.h"
#include "wizard/ui/options.h"
#include "wizard/ui/rehearsal.h"
#include "wizard/ui/terminal_page3.h"
#include "wizard/ui/terminal_wizard.h"
#ifdef QEL_HAVE_SAMBA
#include "platform/samba/samba_domain.h"
#endif

namespace {

using namespace qel;

class TerminalMessages : public IMessageSink {
 public:
  explicit TerminalMessages(TerminalConsole& console) : m_console(console) {}
  void ShowMessage(const char* text, const char* caption) override {
    m_console.Print("[" + AnsiToUtf8(caption != nullptr ? caption : "") + "] " + AnsiToUtf8(text));
  }

 private:
  TerminalConsole& m_console;
};

void OnInterrupt(int) { RequestTerminalCancel(); }

const char kUsage[] =
    "usage: qelscript [--rehearse <domain.ldif> <folder> | --samba <smb.conf> [--kerberos]]\n"
    "                 [--lang 1033|2052|1028] [--select <name>[;<name>...]] [--center <address>]\n"
    "                 [--package <path>] [--codepage 1252|936]\n";

}  // namespace

int main(int argc, char** argv) {
  int answered = 0;
  if (AnswerHelpOrVersion(argc, argv, "qelscript", kUsage, &answered)) return answered;
  std::vector<std::string> arguments;
  std::string sambaConf;
  bool kerberos = false;
  std::string codePage;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--samba" && i + 1 < argc) {
      sambaConf = argv[++i];
    } else if (arg == "--kerberos") {
      kerberos = true;
    } else if (arg == "--codepage" && i + 1 < argc) {
      codePage = argv[++i];
    } else {
      arguments.push_back(arg);
    }
  }
  FrontEndOptions options;
  std::string error;
  bool parsed = ParseFrontEndOptions(arguments, &options, &error);
  if (parsed && !sambaConf.empty() && options.rehearse) {
    error = "--samba and --rehearse exclude each other";
    parsed = false;
  }
  if (parsed && kerberos && sambaConf.empty()) {
    error = "--kerberos belongs to --samba";
    parsed = false;
  }
  if (parsed && !codePage.empty() && codePage != "1252" && codePage != "936") {
    error = "--codepage is 1252 or 936";
    parsed = false;
  }
  if (parsed && codePage == "1252" && options.language != 0 && TableLanguage(options.language) != 1033) {
    error = "the Chinese texts need code page 936";
    parsed = false;
  }
  if (!parsed) {
    std::fprintf(stderr, "qelscript: %s\n", error.c_str());
    std::fputs(kUsage, stderr);
    return 2;
  }
  WORD language = options.language != 0 ? TableLanguage(options.language) : 1033;
  SetStringLanguage(language);

  namespace fs = std::filesystem;
  HostConfig config;
  std::error_code ignored;
  if (options.rehearse) {
    fs::path folder = fs::absolute(options.folder, ignored);
    config.root = folder.string();
    config.registryFile = (folder / "registry.reg").string();
    fs::create_directories(folder / "C" / "Program Files" / "Orvane", ignored);
    fs::create_directories(folder / "C" / "WINDOWS", ignored);
    fs::create_directories(folder / "C" / "TEMP", ignored);
  } else {
    const char* root = std::getenv("QEL_HOST_ROOT");
    config.root = root != nullptr ? root : "/tmp/qelscript-host";
    config.registryFile = config.root + "/registry.reg";
    fs::create_directories(fs::path(config.root) / "C" / "WINDOWS", ignored);
    fs::create_directories(fs::path(config.root) / "C" / "TEMP", ignored);
  }
#ifdef QEL_HAVE_SAMBA
  SambaDomain samba;
  if (!sambaConf.empty()) {
    if (!samba.Open(sambaConf, kerberos ? LdapCredentials::kKerberos : LdapCredentials::kMachine, "", &error)) {
      std::fprintf(stderr, "qelscript: cannot open the Samba domain: %s\n", error.c_str());
      return 1;
    }
    samba.Configure(&config);
    fs::create_directories(fs::path(config.root) / "C" / "Program Files" / "Orvane", ignored);
  }
#else
  if (!sambaConf.empty()) {
    std::fprintf(stderr, "qelscript: this build has no Samba support\n");
    return 2;
  }
#endif
  // Drive Z: is this computer's own files, as under Wine: the package may be
  // given as a host path (see terminal_page3.h).
  config.mounts["Z:\\"] = "/";
  options.package = TerminalPackagePath(options.package);
  // Chinese texts need a Chinese code page in the program's own world; an
  // English wizard may work in 936 too, for a Chinese domain.
  if (language != 1033 || codePage == "936") config.codePage = 936;
  HostPlatform platform(config);
#ifdef QEL_HAVE_SAMBA
  if (!sambaConf.empty()) {
    Ports().accounts = &samba.accounts();
    Ports().directory = &samba.directory();
    if (!samba.RegisterScriptsFolder(&error)) {
      std::fprintf(stderr, "qelscript: %s\n", error.c_str());
      return 1;
    }
  }
#endif
  // Sockets and the address table for the Test button of the parameters page.
  InstallHostNetPorts();
  // The log lives from here to the end of the program.
  _NCOvLogHolder log;

  TerminalConsole console(std::cin, stdout);
  TerminalMessages messages(console);
  Rehearsal rehearsal;
  if (options.rehearse && !rehearsal.Start(options.domainFile, options.folder, "C:", &error)) {
    std::fprintf(stderr, "qelscript: %s\n", error.c_str());
    return 2;
  }
  std::signal(SIGINT, OnInterrupt);

  CScriptWizardApp app;
  StartupHooks hooks;
  int status = 0;
  hooks.showMessage = [&](UINT id) {
    char text[512];
    LoadResString(id, text, sizeof(text));
    console.Print("[" + AnsiToUtf8(text) + "]");
    status = 1;
  };
  hooks.runWizard = [&] { RunTerminalWizard(console, options, MakeScriptDeployerRun(nullptr, &messages)); };
  app.InitInstance(hooks);
  // A run stopped from the terminal may still be inside a step: it reaches
  // its stop point before the node list, the domain and the log go away.
  if (!WaitForDeploymentRuns(20000)) _NCOvLogUtility::GetInstance()->Warning("[qelscript]the stopped run did not end");
  app.ExitInstance();
  if (options.rehearse && !rehearsal.Finish(&error)) {
    std::fprintf(stderr, "qelscript: %s\n", error.c_str());
    return 1;
  }
  return status;
}
