#include "platform/host/net_posix.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace qel::hostnet {

// Winsock codes, repeated here because this file cannot see net_ports.h.
namespace wsa {
constexpr int kInterrupted = 10004;
constexpr int kBadHandle = 10009;
constexpr int kAccess = 10013;
constexpr int kFault = 10014;
constexpr int kInvalid = 10022;
constexpr int kTooManySockets = 10024;
constexpr int kWouldBlock = 10035;
constexpr int kNotSocket = 10038;
constexpr int kMessageSize = 10040;
constexpr int kAddressFamily = 10047;
constexpr int kAddressInUse = 10048;
constexpr int kAddressNotAvailable = 10049;
constexpr int kNetDown = 10050;
constexpr int kNetUnreachable = 10051;
constexpr int kConnectionReset = 10054;
constexpr int kNoBuffers = 10055;
constexpr int kHostUnreachable = 10065;
constexpr int kHostNotFound = 11001;
constexpr int kNoData = 11004;
}  // namespace wsa

int WsaErrorOfErrno(int error) {
  switch (error) {
    case EINTR: return wsa::kInterrupted;
    case EBADF: return wsa::kNotSocket;
    case ENOTSOCK: return wsa::kNotSocket;
    case EACCES: case EPERM: return wsa::kAccess;
    case EFAULT: return wsa::kFault;
    case EINVAL: return wsa::kInvalid;
    case EMFILE: case ENFILE: return wsa::kTooManySockets;
    case EAGAIN: return wsa::kWouldBlock;
    case EMSGSIZE: return wsa::kMessageSize;
    case EAFNOSUPPORT: return wsa::kAddressFamily;
    case EADDRINUSE: return wsa::kAddressInUse;
    case EADDRNOTAVAIL: return wsa::kAddressNotAvailable;
    case ENETDOWN: return wsa::kNetDown;
    case ENETUNREACH: return wsa::kNetUnreachable;
    // Windows reports an ICMP "port unreachable" on a UDP socket this way.
    case ECONNREFUSED: case ECONNRESET: return wsa::kConnectionReset;
    case ENOBUFS: case ENOMEM: return wsa::kNoBuffers;
    case EHOSTUNREACH: return wsa::kHostUnreachable;
    default: return wsa::kInvalid;
  }
}

namespace {

int Fail(int* wsaError, int code) {
  if (wsaError) *wsaError = code;
  return -1;
}

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = port;
  a.sin_addr.s_addr = address;
  return a;
}

}  // namespace

int OpenUdpSocket(int* wsaError) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(wsaError, WsaErrorOfErrno(errno));
  return fd;
}

int SetBroadcast(int fd, bool on, int* wsaError) {
  int value = on ? 1 : 0;
  if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0)
    return Fail(wsaError, WsaErrorOfErrno(errno));
  return 0;
}

int Bind(int fd, uint32_t address, uint16_t port, int* wsaError) {
  sockaddr_in a = MakeAddress(address, port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Fail(wsaError, WsaErrorOfErrno(errno));
  return 0;
}

int GetSockName(int fd, uint32_t* address, uint16_t* port, int* wsaError) {
  sockaddr_in a;
  socklen_t length = sizeof a;
  std::memset(&a, 0, sizeof a);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0)
    return Fail(wsaError, WsaErrorOfErrno(errno));
  *address = a.sin_addr.s_addr;
  *port = a.sin_port;
  return 0;
}

int SendTo(int fd, const void* data, int length, uint32_t address, uint16_t port, int* wsaError) {
  sockaddr_in a = MakeAddress(address, port);
  for (;;) {
    ssize_t n = ::sendto(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a),
                         sizeof a);
    if (n >= 0) return static_cast<int>(n);
    // A signal is no failure on Windows; send again.
    if (errno == EINTR) continue;
    return Fail(wsaError, WsaErrorOfErrno(errno));
  }
}

int RecvFrom(int fd, void* data, int length, bool nonBlocking, int* received, uint32_t* address,
             uint16_t* port, int* wsaError) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  *received = 0;
  for (;;) {
    socklen_t addressLength = sizeof a;
    // MSG_TRUNC reports the datagram's real length, so a datagram longer
    // than the buffer can fail as Winsock fails it.
    ssize_t n = ::recvfrom(fd, data, static_cast<size_t>(length), MSG_TRUNC | (nonBlocking ? MSG_DONTWAIT : 0),
                           reinterpret_cast<sockaddr*>(&a), &addressLength);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(wsaError, WsaErrorOfErrno(errno));
    }
    *address = a.sin_addr.s_addr;
    *port = a.sin_port;
    if (n > length) {
      *received = length;
      return Fail(wsaError, wsa::kMessageSize);
    }
    *received = static_cast<int>(n);
    return 0;
  }
}

int Close(int fd, int* wsaError) {
  if (::close(fd) != 0) return Fail(wsaError, WsaErrorOfErrno(errno));
  return 0;
}

bool IsSocket(int fd) {
  int type = 0;
  socklen_t length = sizeof type;
  return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0;
}

int WaitReadable(const int* fds, int count, bool all, int timeoutMs, int* readyIndex, int* wsaError) {
  if (count <= 0 || count > 64) return Fail(wsaError, wsa::kInvalid);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  pollfd polls[64];
  for (int i = 0; i < count; ++i) {
    polls[i].fd = fds[i];
    polls[i].events = POLLIN;
    polls[i].revents = 0;
  }
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    int n = ::poll(polls, static_cast<nfds_t>(count), wait);
    if (n < 0) {
      // Interrupted waits go on until the time-out, as an alertable wait
      // without queued calls does.
      if (errno == EINTR) continue;
      return Fail(wsaError, WsaErrorOfErrno(errno));
    }
    int ready = 0, first = -1;
    for (int i = 0; i < count; ++i) {
      if (polls[i].revents & POLLNVAL) return Fail(wsaError, wsa::kBadHandle);
      if (polls[i].revents & (POLLIN | POLLERR)) {
        ++ready;
        if (first < 0) first = i;
      }
    }
    if (ready > 0 && (!all || ready == count)) {
      *readyIndex = first;
      return 1;
    }
    if (wait == 0) return 0;
    // Not all are ready yet: look again shortly.
    if (all && ready > 0) ::usleep(1000);
  }
}

int PendingError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return WsaErrorOfErrno(errno);
  return error == 0 ? 0 : WsaErrorOfErrno(error);
}

int HostName(char* name, int length, int* wsaError) {
  if (name == nullptr || length <= 0) return Fail(wsaError, wsa::kFault);
  char buffer[256];
  if (::gethostname(buffer, sizeof buffer) != 0) return Fail(wsaError, WsaErrorOfErrno(errno));
  buffer[sizeof buffer - 1] = '\0';
  if (std::strlen(buffer) + 1 > static_cast<size_t>(length)) return Fail(wsaError, wsa::kFault);
  std::strcpy(name, buffer);
  return 0;
}

int ResolveName(const char* name, uint32_t* addresses, int room, int* wsaError) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  int rc = ::getaddrinfo(name, nullptr, &hints, &result);
  if (rc != 0) return Fail(wsaError, rc == EAI_NONAME ? wsa::kHostNotFound : wsa::kNoData);
  int count = 0;
  for (addrinfo* ai = result; ai != nullptr && count < room; ai = ai->ai_next) {
    uint32_t a = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
    bool seen = false;
    for (int i = 0; i < count; ++i) seen = seen || addresses[i] == a;
    if (!seen) addresses[count++] = a;
  }
  ::freeaddrinfo(result);
  if (count == 0) return Fail(wsaError, wsa::kNoData);
  return count;
}

int InterfaceAddresses(InterfaceAddress* out, int room) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return 0;
  int count = 0;
  for (ifaddrs* it = list; it != nullptr && count < room; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    if (!(it->ifa_flags & IFF_UP)) continue;
    uint32_t a = reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
    uint32_t m = it->ifa_netmask ? reinterpret_cast<sockaddr_in*>(it->ifa_netmask)->sin_addr.s_addr : 0xffffffffu;
    bool seen = false;
    for (int i = 0; i < count; ++i) seen = seen || out[i].address == a;
    if (seen) continue;
    out[count].address = a;
    out[count].mask = m;
    out[count].loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
    ++count;
  }
  ::freeifaddrs(list);
  return count;
}

bool ParseDotted(const char* text, uint32_t* address) {
  // inet_aton takes the same forms as Winsock's inet_addr (a, a.b, a.b.c,
  // a.b.c.d; decimal, octal and hex parts) and refuses the empty text.
  in_addr a;
  if (text == nullptr || ::inet_aton(text, &a) == 0) return false;
  *address = a.s_addr;
  return true;
}

void FormatDotted(uint32_t address, char* text, int size) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
  std::snprintf(text, static_cast<size_t>(size), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

uint16_t HostToNet16(uint16_t value) { return htons(value); }
uint16_t NetToHost16(uint16_t value) { return ntohs(value); }
uint32_t NetToHost32(uint32_t value) { return ntohl(value); }

}  // namespace qel::hostnet
