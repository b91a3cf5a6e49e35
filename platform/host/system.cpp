// The machine's identity, time and program start on the host.
//
// Identity (version, computer name, Windows folder, module path) comes from
// the HostConfig; time and the process id are the real ones. WinExec starts a
// real host program: the first token of the command line is a Windows path,
// mapped to the host through HostPathOf, and the rest are its arguments.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host/host_ports.h"

namespace qel {
namespace {

// Copies text into a caller's buffer the way GetWindowsDirectoryA does:
// the length without terminator when it fits, else the size needed with it.
UINT CopyOut(const std::string& text, char* buffer, UINT size) {
  if (buffer == nullptr || size <= text.size()) return static_cast<UINT>(text.size() + 1);
  memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<UINT>(text.size());
}

// Splits the arguments after the program name as the C runtime of a Windows
// program does: blanks separate, double quotes group, \" is a quote.
std::vector<std::string> SplitArguments(const char* p) {
  std::vector<std::string> args;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == 0) break;
    std::string arg;
    bool quoted = false;
    for (; *p != 0 && (quoted || (*p != ' ' && *p != '\t')); ++p) {
      if (*p == '\\') {
        size_t slashes = 0;
        while (p[slashes] == '\\') ++slashes;
        if (p[slashes] == '"') {
          arg.append(slashes / 2, '\\');
          p += slashes;
          if (slashes % 2 == 1) {
            arg += '"';
          } else {
            quoted = !quoted;
          }
        } else {
          arg.append(slashes, '\\');
          p += slashes - 1;
        }
      } else if (*p == '"') {
        quoted = !quoted;
      } else {
        arg += *p;
      }
    }
    args.push_back(arg);
  }
  return args;
}

class HostSystem : public ISystem {
 public:
  explicit HostSystem(const HostConfig& config) : config_(config) {}

  DWORD GetVersion() override { return config_.version; }

  BOOL GetComputerNameA(char* buffer, DWORD* size) override {
    if (size == nullptr) {
      QelSetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const std::string& name = config_.computerName;
    if (buffer == nullptr || *size <= name.size()) {
      *size = static_cast<DWORD>(name.size() + 1);
      QelSetLastError(ERROR_BUFFER_OVERFLOW);
      return FALSE;
    }
    memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return TRUE;
  }

  UINT GetWindowsDirectoryA(char* buffer, UINT size) override { return CopyOut(config_.windowsDir, buffer, size); }

  DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) override {
    if (module != nullptr) {
      // Only the program itself has a file; the loader's modules are built in.
      QelSetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    const std::string& path = config_.modulePath;
    if (buffer == nullptr || size == 0) {
      QelSetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    if (path.size() >= size) {
      // Truncated to size - 1 characters and terminated; the result is size.
      memcpy(buffer, path.data(), size - 1);
      buffer[size - 1] = 0;
      QelSetLastError(ERROR_INSUFFICIENT_BUFFER);
      return size;
    }
    memcpy(buffer, path.c_str(), path.size() + 1);
    QelSetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
  }

  DWORD GetCurrentProcessId() override { return static_cast<DWORD>(getpid()); }

  void GetLocalTime(SYSTEMTIME* time) override {
    if (time == nullptr) return;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
  }

  DWORD GetTickCount() override {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
  }

  void Sleep(DWORD milliseconds) override {
    struct timespec wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }

  UINT WinExec(const char* commandLine, UINT /*show*/) override {
    if (commandLine == nullptr || *commandLine == 0) return Refuse(ERROR_FILE_NOT_FOUND);
    std::string program;
    const char* rest = nullptr;
    UINT missing = FindProgram(commandLine, &program, &rest);
    if (missing != 0) return Refuse(missing);
    if (access(program.c_str(), X_OK) != 0) return Refuse(ERROR_BAD_FORMAT);

    std::vector<std::string> args = SplitArguments(rest);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    // The program is started by a short-lived middle process, so it is never
    // our child and never left as our zombie; a close-on-exec pipe tells
    // whether exec itself succeeded.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return Refuse(0);
    pid_t middle = fork();
    if (middle < 0) {
      close(report[0]);
      close(report[1]);
      return Refuse(0);
    }
    if (middle == 0) {
      close(report[0]);
      pid_t child = fork();
      if (child == 0) {
        execv(argv[0], argv.data());
        int error = errno;
        ssize_t ignored = write(report[1], &error, sizeof(error));
        (void)ignored;
        _exit(127);
      }
      _exit(child < 0 ? 1 : 0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int execError = 0;
    ssize_t got;
    while ((got = read(report[0], &execError, sizeof(execError))) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return Refuse(0);
    if (got == static_cast<ssize_t>(sizeof(execError))) {
      return Refuse(execError == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_BAD_FORMAT);
    }
    QelSetLastError(ERROR_SUCCESS);
    return 33;
  }

 private:
  static UINT Refuse(DWORD error) {
    QelSetLastError(error == 0 ? ERROR_NOT_ENOUGH_MEMORY : error);
    return static_cast<UINT>(error);
  }

  // The program a command line names: a quoted first token, or else the
  // shortest blank-separated prefix that names a file, as Windows searches
  // an unquoted path with blanks. Returns 0, or ERROR_FILE_NOT_FOUND /
  // ERROR_PATH_NOT_FOUND for the first token when nothing is found.
  UINT FindProgram(const char* commandLine, std::string* program, const char** rest) {
    const char* p = commandLine;
    while (*p == ' ' || *p == '\t') ++p;
    std::vector<std::pair<std::string, const char*>> candidates;
    if (*p == '"') {
      const char* end = strchr(p + 1, '"');
      std::string token = end ? std::string(p + 1, end) : std::string(p + 1);
      candidates.emplace_back(token, end ? end + 1 : p + strlen(p));
    } else {
      for (const char* q = p;; ++q) {
        if (*q == 0 || *q == ' ' || *q == '\t') {
          candidates.emplace_back(std::string(p, q), q);
          if (*q == 0) break;
        }
      }
    }
    for (auto& candidate : candidates) {
      std::vector<std::string> names = {candidate.first};
      std::string::size_type base = candidate.first.find_last_of("\\/:");
      if (candidate.first.find('.', base == std::string::npos ? 0 : base) == std::string::npos)
        names.push_back(candidate.first + ".exe");
      for (const std::string& name : names) {
        std::string host = HostPathOf(config_, name);
        struct stat info;
        if (!host.empty() && stat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
          *program = host;
          *rest = candidate.second;
          return 0;
        }
      }
    }
    // Not found: a missing folder is "path not found", as on Windows.
    const std::string& first = candidates.front().first;
    std::string host = HostPathOf(config_, first);
    if (host.empty()) return ERROR_PATH_NOT_FOUND;
    std::string::size_type slash = host.rfind('/');
    struct stat info;
    if (slash != std::string::npos && slash > 0 &&
        (stat(host.substr(0, slash).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)))
      return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
  }

  HostConfig config_;
};

}  // namespace

std::unique_ptr<ISystem> MakeHostSystem(const HostConfig& config) { return std::make_unique<HostSystem>(config); }

}  // namespace qel
