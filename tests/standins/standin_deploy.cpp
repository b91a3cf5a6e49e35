// standin-deploy: one whole deployment run of the Windows build over the
// stand-in libraries, for comparison with the same run of qel-deploy on the
// host. The NETLOGON scripts folder comes from the registry as on a
// controller; the domain from QEL_STANDIN_DOMAIN; QelCheck.exe from this
// program's folder.
//
//   standin-deploy (add|remove) [--user ACCOUNT]... [--container DN]...
//                  [--center-ip A.B.C.D] [--package PATH]
//                  [--no-copy-when-exist] [--remove-when-exist]
//                  [--scripts-folder PATH]
//
// --scripts-folder points the Netlogon service's "Scripts" value at PATH for
// the run and puts the value back afterwards.
//
// Prints the run's messages and its counts; exit status 0 when every
// account was changed, 3 when some failed, 1 when the run ended early or
// could not start, 2 for a bad command line.
#include <cstdio>
#include <cstring>
#include <string>

#include <windows.h>

#include "platform/win32/win32_ports.h"
#include "tests/standins/standin_world.h"
#include "wizard/netapi_entry.h"

int main(int argc, char** argv) {
  using namespace qel;
  using namespace qel::standin_test;
  Selection selection;
  std::string centerIP, package, scriptsFolder;
  bool noCopy = false, removeWhenExist = false;
  int operation = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "add" || arg == "remove") {
      operation = arg == "add" ? 1 : 2;
    } else if (arg == "--user" && hasValue) {
      selection.users.push_back(argv[++i]);
    } else if (arg == "--container" && hasValue) {
      selection.containers.push_back(argv[++i]);
    } else if (arg == "--center-ip" && hasValue) {
      centerIP = argv[++i];
    } else if (arg == "--package" && hasValue) {
      package = argv[++i];
    } else if (arg == "--scripts-folder" && hasValue) {
      scriptsFolder = argv[++i];
    } else if (arg == "--no-copy-when-exist") {
      noCopy = true;
    } else if (arg == "--remove-when-exist") {
      removeWhenExist = true;
    } else {
      std::fprintf(stderr, "standin-deploy: bad argument \"%s\"\n", arg.c_str());
      return 2;
    }
  }
  if (operation == 0) {
    std::fprintf(stderr, "standin-deploy: give add or remove\n");
    return 2;
  }
  InstallWin32Ports();
  Ports().directory = Win32Directory();
  if (!LoadNetApiEntryPoints()) {
    std::fprintf(stderr, "standin-deploy: the account entry points cannot be loaded\n");
    return 1;
  }
  ScriptsValue value;
  if (!scriptsFolder.empty() && !value.Set(scriptsFolder)) {
    std::fprintf(stderr, "standin-deploy: cannot set the Netlogon \"Scripts\" value\n");
    return 1;
  }
  char computer[64] = {};
  DWORD size = sizeof computer;
  GetComputerNameA(computer, &size);
  std::printf("computer %s\n", computer);
  RunResult run = RunDeployment(operation == 1, selection, centerIP, package, noCopy, removeWhenExist);
  for (const std::string& line : run.lines) std::printf("%s\n", line.c_str());
  for (const std::string& message : run.messages) std::printf("message: %s\n", message.c_str());
  std::printf("init %d, result %d, total %d, succeeded %d\n", run.initialised, run.finished, run.total,
              run.succeeded);
  if (!run.finished) return 1;
  return run.total == run.succeeded ? 0 : 3;
}
