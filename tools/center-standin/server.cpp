// The stand-in center: Linux UDP sockets, one per port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "tools/center-standin/standin.h"

namespace standin {

namespace {

const char kKeyword[] = "OrvaneSearchAgentPos";
const size_t kKeywordLength = 20;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

int OpenBound(const std::string& address, int port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

void WriteCounts(FILE* out, const std::map<int, int>& counts) {
  int total = 0;
  for (const auto& [port, count] : counts) {
    std::fprintf(out, "%d %d\n", port, count);
    total += count;
  }
  std::fprintf(out, "total %d\n", total);
}

void SaveCounts(const std::string& path, const std::map<int, int>& counts) {
  if (path.empty()) return;
  // Written aside and renamed, so a reader never sees half a file.
  std::string temporary = path + ".tmp";
  FILE* out = std::fopen(temporary.c_str(), "w");
  if (out == nullptr) return;
  WriteCounts(out, counts);
  std::fclose(out);
  std::rename(temporary.c_str(), path.c_str());
}

}  // namespace

int RunServer(const ServerOptions& options) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  std::vector<pollfd> polls;
  std::vector<int> ports;
  std::map<int, int> counts;
  for (int port : options.ports) {
    int fd = OpenBound(options.address, port);
    if (fd < 0) {
      std::fprintf(stderr, "qel-center-standin: cannot listen on %s:%d: %s\n", options.address.c_str(), port,
                   std::strerror(errno));
      return 2;
    }
    polls.push_back(pollfd{fd, POLLIN, 0});
    ports.push_back(port);
    counts[port] = 0;
  }
  int fromFd = -1;
  if (options.fromPort >= 0) {
    fromFd = OpenBound(options.address, options.fromPort);
    if (fromFd < 0) {
      std::fprintf(stderr, "qel-center-standin: cannot answer from %s:%d: %s\n", options.address.c_str(),
                   options.fromPort, std::strerror(errno));
      return 2;
    }
  }
  SaveCounts(options.countFile, counts);
  std::printf("listening on %s, ports", options.address.c_str());
  for (int port : ports) std::printf(" %d", port);
  std::printf("\n");
  std::fflush(stdout);
  if (!options.readyFile.empty()) {
    FILE* ready = std::fopen(options.readyFile.c_str(), "w");
    if (ready != nullptr) {
      std::fputs("ready\n", ready);
      std::fclose(ready);
    }
  }

  const std::string replyAddress = options.replyAddress.empty() ? options.address : options.replyAddress;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end =
      Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.exitAfterSeconds * 1000));
  while (!g_stop) {
    int timeout = 100;
    if (options.exitAfterSeconds > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left <= 0) break;
      timeout = static_cast<int>(std::min<long long>(left, 100));
    }
    int n = ::poll(polls.data(), polls.size(), timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("qel-center-standin: poll");
      break;
    }
    for (size_t i = 0; i < polls.size(); ++i) {
      if (!(polls[i].revents & POLLIN)) continue;
      char buffer[2048];
      sockaddr_in from;
      socklen_t fromLength = sizeof from;
      ssize_t got = ::recvfrom(polls[i].fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (got < 0) continue;
      int port = ports[i];
      ++counts[port];
      SaveCounts(options.countFile, counts);
      bool isSearch = static_cast<size_t>(got) == kKeywordLength && std::memcmp(buffer, kKeyword, kKeywordLength) == 0;
      bool answers = options.answerPorts.empty() ||
                     std::find(options.answerPorts.begin(), options.answerPorts.end(), port) != options.answerPorts.end();
      if (!isSearch || options.silent || !answers) continue;
      std::string reply = std::string(kKeyword) + "|" + replyAddress;
      if (!options.malformed) reply += "|" + std::to_string(options.replyPort > 0 ? options.replyPort : port);
      if (options.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options.delayMs));
      int out = fromFd >= 0 ? fromFd : polls[i].fd;
      ::sendto(out, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
  }
  WriteCounts(stdout, counts);
  SaveCounts(options.countFile, counts);
  for (const pollfd& p : polls) ::close(p.fd);
  if (fromFd >= 0) ::close(fromFd);
  return 0;
}

}  // namespace standin
