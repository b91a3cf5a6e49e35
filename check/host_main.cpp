// qelcheck: QelCheck over the host adapters. The Windows world of the run
// (drives, registry, shares, temporary folder, version) is described by
// switches or the environment; see Usage() and check/README.md.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check/qelcheck.h"
#include "platform/host/host_ports.h"
#include "res/program_info.h"

namespace {

const char kUsage[] =
      "usage: qelcheck [switches] [--] COMMAND LINE...\n"
      "Runs QelCheck over the host platform. The words after \"--\" are joined by\n"
      "single blanks into the command line (normally the package path, e.g.\n"
      "'\\\\DC1\\NetLogon\\QelSetup.exe'); none gives an empty command line.\n"
      "\n"
      "  --root DIR          folder holding one folder per drive letter   ($QELCHECK_ROOT)\n"
      "  --registry FILE     the registry, a .reg file                     ($QELCHECK_REGISTRY)\n"
      "  --temp PATH         GetTempPathA, e.g. 'C:\\Users\\u\\Temp\\'       ($QELCHECK_TEMP, default C:\\TEMP\\)\n"
      "  --share UNC=PATH    a share, e.g. '\\\\DC1\\NetLogon=C:\\netlogon' (repeatable; $QELCHECK_SHARE, one)\n"
      "  --version MAJ.MIN   GetVersion, e.g. 5.2 or 6.1                 ($QELCHECK_VERSION, default 6.1)\n"
      "  --codepage CP       ANSI code page, 1252 or 936                 ($QELCHECK_CODEPAGE, default 1252)\n"
      "  --computer NAME     GetComputerNameA                           (default DC01)\n"
      "  --mutex-dir DIR     folder of the named-mutex lock files        ($QEL_MUTEX_DIR)\n"
      "  --help              this text; --version alone: the program's version\n"
      "\n"
      "The exit code is 0 whatever happens, as on Windows; 2 only for bad switches.\n";

void Usage(FILE* out) { fputs(kUsage, out); }

bool ParseVersion(const std::string& text, DWORD* version) {
  unsigned major = 0, minor = 0;
  char extra = 0;
  if (sscanf(text.c_str(), "%u.%u%c", &major, &minor, &extra) != 2 || major > 255 || minor > 255) return false;
  // GetVersion: major in the low byte, minor in the next, build above.
  *version = major | (minor << 8) | (7601u << 16);
  return true;
}

bool AddShare(qel::HostConfig* config, const std::string& text) {
  size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) return false;
  config->shares[text.substr(0, equals)] = text.substr(equals + 1);
  return true;
}

const char* Env(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && value[0] != 0 ? value : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (qel::AnswerHelpOrVersion(argc, argv, "qelcheck", kUsage, &status)) return status;
  qel::HostConfig config;
  config.tempPath = "C:\\TEMP\\";
  if (const char* v = Env("QELCHECK_ROOT")) config.root = v;
  if (const char* v = Env("QELCHECK_REGISTRY")) config.registryFile = v;
  if (const char* v = Env("QELCHECK_TEMP")) config.tempPath = v;
  if (const char* v = Env("QELCHECK_SHARE")) {
    if (!AddShare(&config, v)) {
      fprintf(stderr, "qelcheck: QELCHECK_SHARE must read UNC=PATH\n");
      return 2;
    }
  }
  if (const char* v = Env("QELCHECK_VERSION")) {
    if (!ParseVersion(v, &config.version)) {
      fprintf(stderr, "qelcheck: QELCHECK_VERSION must read MAJOR.MINOR\n");
      return 2;
    }
  }
  if (const char* v = Env("QELCHECK_CODEPAGE")) config.codePage = static_cast<unsigned>(atoi(v));

  std::string commandLine;
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if (arg.compare(0, 2, "--") != 0) break;  // the command line starts here
    if (i + 1 >= argc) {
      fprintf(stderr, "qelcheck: %s needs a value\n", arg.c_str());
      return 2;
    }
    std::string value = argv[++i];
    if (arg == "--root") {
      config.root = value;
    } else if (arg == "--registry") {
      config.registryFile = value;
    } else if (arg == "--temp") {
      config.tempPath = value;
    } else if (arg == "--share") {
      if (!AddShare(&config, value)) {
        fprintf(stderr, "qelcheck: --share must read UNC=PATH\n");
        return 2;
      }
    } else if (arg == "--version") {
      if (!ParseVersion(value, &config.version)) {
        fprintf(stderr, "qelcheck: --version must read MAJOR.MINOR\n");
        return 2;
      }
    } else if (arg == "--codepage") {
      config.codePage = static_cast<unsigned>(atoi(value.c_str()));
    } else if (arg == "--computer") {
      config.computerName = value;
    } else if (arg == "--mutex-dir") {
      config.mutexDir = value;
    } else {
      fprintf(stderr, "qelcheck: unknown switch %s\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  for (; i < argc; ++i) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += argv[i];
  }
  if (config.root.empty() || config.registryFile.empty()) {
    fprintf(stderr, "qelcheck: --root and --registry (or QELCHECK_ROOT and QELCHECK_REGISTRY) are needed\n");
    return 2;
  }
  if (config.codePage != 1252 && config.codePage != 936) {
    fprintf(stderr, "qelcheck: the code page must be 1252 or 936\n");
    return 2;
  }

  qel::HostPlatform platform(config);
  return qel::QelCheckMain(commandLine.c_str());
}
