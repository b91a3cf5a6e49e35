// Winsock on Linux: real UDP sockets, with the WSA event calls emulated over
// poll(). A host event remembers the socket selected into it; waiting for
// the event waits until that socket is readable.
#include <strings.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "platform/host/net_posix.h"
#include "platform/net_ports.h"

namespace qel {

namespace {

struct HostEvent {
  SOCKET socket = INVALID_SOCKET;
  long networkEvents = 0;
  bool manualReset = false;
  bool signalled = false;
};

int Fd(SOCKET s) { return s == INVALID_SOCKET || s > 0x7fffffff ? -1 : static_cast<int>(s); }

class HostSockets : public ISocketPort {
 public:
  int WSAStartup(WORD versionRequested, WSADATA* data) override {
    if (data == nullptr) return WSAEFAULT;
    BYTE major = LOBYTE(versionRequested), minor = HIBYTE(versionRequested);
    std::memset(data, 0, sizeof *data);
    data->wHighVersion = MAKEWORD(2, 2);
    // Winsock 2.2 offers every version from 1.0 up; below that it refuses.
    if (major == 0) {
      data->wVersion = MAKEWORD(2, 2);
      return WSAVERNOTSUPPORTED;
    }
    if (major > 2 || (major == 2 && minor > 2))
      data->wVersion = MAKEWORD(2, 2);
    else
      data->wVersion = versionRequested;
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");
    std::lock_guard<std::mutex> lock(mutex_);
    ++startups_;
    return 0;
  }

  int WSACleanup() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (startups_ == 0) return Error(WSANOTINITIALISED);
    --startups_;
    return 0;
  }

  int WSAGetLastError() override { return static_cast<int>(QelGetLastError()); }

  SOCKET socket(int af, int type, int protocol) override {
    if (!Started()) return ErrorSocket(WSANOTINITIALISED);
    if (af != AF_INET) return ErrorSocket(WSAEAFNOSUPPORT);
    if (type != SOCK_DGRAM || (protocol != 0 && protocol != IPPROTO_UDP)) return ErrorSocket(WSAEINVAL);
    int error = 0;
    int fd = hostnet::OpenUdpSocket(&error);
    if (fd < 0) return ErrorSocket(error);
    std::lock_guard<std::mutex> lock(mutex_);
    nonBlocking_.erase(fd);
    return static_cast<SOCKET>(fd);
  }

  int setsockopt(SOCKET s, int level, int optionName, const char* value, int length) override {
    int fd = Fd(s);
    if (!Started()) return Error(WSANOTINITIALISED);
    if (!hostnet::IsSocket(fd)) return Error(WSAENOTSOCK);
    if (value == nullptr || length < 1) return Error(WSAEFAULT);
    if (level != SOL_SOCKET || optionName != SO_BROADCAST) return Error(WSAENOPROTOOPT);
    // A BOOL option: any non-zero value turns it on.
    int on = 0;
    std::memcpy(&on, value, length >= 4 ? 4 : static_cast<size_t>(length));
    int error = 0;
    if (hostnet::SetBroadcast(fd, on != 0, &error) != 0) return Error(error);
    return 0;
  }

  int bind(SOCKET s, const sockaddr* name, int length) override {
    int fd = Fd(s);
    if (!Started()) return Error(WSANOTINITIALISED);
    if (!hostnet::IsSocket(fd)) return Error(WSAENOTSOCK);
    if (name == nullptr || length < static_cast<int>(sizeof(sockaddr_in))) return Error(WSAEFAULT);
    const sockaddr_in* a = reinterpret_cast<const sockaddr_in*>(name);
    if (a->sin_family != AF_INET) return Error(WSAEAFNOSUPPORT);
    // Windows has no interface at 255.255.255.255 (the INADDR_NONE of a
    // text that is no address); Linux may accept it, so refuse it here.
    if (a->sin_addr.s_addr == INADDR_NONE) return Error(WSAEADDRNOTAVAIL);
    int error = 0;
    if (hostnet::Bind(fd, a->sin_addr.s_addr, a->sin_port, &error) != 0) return Error(error);
    return 0;
  }

  int getsockname(SOCKET s, sockaddr* name, int* length) override {
    int fd = Fd(s);
    if (!Started()) return Error(WSANOTINITIALISED);
    if (!hostnet::IsSocket(fd)) return Error(WSAENOTSOCK);
    if (name == nullptr || length == nullptr || *length < static_cast<int>(sizeof(sockaddr_in)))
      return Error(WSAEFAULT);
    uint32_t address = 0;
    uint16_t port = 0;
    int error = 0;
    if (hostnet::GetSockName(fd, &address, &port, &error) != 0) return Error(error);
    // Windows refuses the name of a socket that is not bound yet.
    if (address == 0 && port == 0) return Error(WSAEINVAL);
    sockaddr_in* a = reinterpret_cast<sockaddr_in*>(name);
    std::memset(a, 0, sizeof *a);
    a->sin_family = AF_INET;
    a->sin_port = port;
    a->sin_addr.s_addr = address;
    *length = sizeof(sockaddr_in);
    return 0;
  }

  int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength) override {
    int fd = Fd(s);
    if (!Started()) return Error(WSANOTINITIALISED);
    if (!hostnet::IsSocket(fd)) return Error(WSAENOTSOCK);
    if (flags != 0) return Error(WSAEINVAL);
    if (to == nullptr || toLength < static_cast<int>(sizeof(sockaddr_in)) || (buffer == nullptr && length > 0))
      return Error(WSAEFAULT);
    const sockaddr_in* a = reinterpret_cast<const sockaddr_in*>(to);
    if (a->sin_family != AF_INET) return Error(WSAEAFNOSUPPORT);
    int error = 0;
    int n = hostnet::SendTo(fd, buffer, length, a->sin_addr.s_addr, a->sin_port, &error);
    if (n < 0) return Error(error);
    return n;
  }

  int closesocket(SOCKET s) override {
    int fd = Fd(s);
    if (!Started()) return Error(WSANOTINITIALISED);
    if (!hostnet::IsSocket(fd)) return Error(WSAENOTSOCK);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      nonBlocking_.erase(fd);
      for (HostEvent* e : events_) {
        if (e->socket == s) e->socket = INVALID_SOCKET;
      }
    }
    int error = 0;
    if (hostnet::Close(fd, &error) != 0) return Error(error);
    return 0;
  }

  int gethostname(char* name, int length) override {
    if (!Started()) return Error(WSANOTINITIALISED);
    int error = 0;
    if (hostnet::HostName(name, length, &error) != 0) return Error(error);
    return 0;
  }

  hostent* gethostbyname(const char* name) override {
    if (!Started()) {
      Error(WSANOTINITIALISED);
      return nullptr;
    }
    if (name == nullptr) {
      Error(WSAEFAULT);
      return nullptr;
    }
    thread_local HostEntry entry;
    entry.count = 0;
    char own[256] = {};
    int error = 0;
    bool isOwnName =
        name[0] == '\0' || (hostnet::HostName(own, sizeof own, &error) == 0 && strcasecmp(own, name) == 0);
    if (isOwnName) {
      // Windows answers for its own name with the addresses of its
      // adapters, and with 127.0.0.1 only when it has no other.
      hostnet::InterfaceAddress list[HostEntry::kRoom];
      int n = hostnet::InterfaceAddresses(list, HostEntry::kRoom);
      for (int i = 0; i < n; ++i) {
        if (!list[i].loopback) entry.addresses[entry.count++] = list[i].address;
      }
      if (entry.count == 0) {
        uint32_t loopback = 0;
        hostnet::ParseDotted("127.0.0.1", &loopback);
        entry.addresses[entry.count++] = loopback;
      }
    } else {
      int n = hostnet::ResolveName(name, entry.addresses, HostEntry::kRoom, &error);
      if (n < 0) {
        Error(error);
        return nullptr;
      }
      entry.count = n;
    }
    std::strncpy(entry.name, isOwnName && own[0] ? own : name, sizeof entry.name - 1);
    entry.name[sizeof entry.name - 1] = '\0';
    for (int i = 0; i < entry.count; ++i) entry.pointers[i] = reinterpret_cast<char*>(&entry.addresses[i]);
    entry.pointers[entry.count] = nullptr;
    entry.aliases[0] = nullptr;
    entry.host.h_name = entry.name;
    entry.host.h_aliases = entry.aliases;
    entry.host.h_addrtype = AF_INET;
    entry.host.h_length = 4;
    entry.host.h_addr_list = entry.pointers;
    return &entry.host;
  }

  ULONG inet_addr(const char* text) override {
    uint32_t address = 0;
    if (!hostnet::ParseDotted(text, &address)) return INADDR_NONE;
    return address;
  }

  char* inet_ntoa(in_addr address) override {
    thread_local char text[16];
    hostnet::FormatDotted(address.s_addr, text, sizeof text);
    return text;
  }

  WORD htons(WORD value) override { return hostnet::HostToNet16(value); }
  WORD ntohs(WORD value) override { return hostnet::NetToHost16(value); }

  WSAEVENT CreateEventA(BOOL manualReset, BOOL initialState, const char* name) override {
    if (name != nullptr && name[0] != '\0') {
      Error(WSAEINVAL);  // only unnamed events are offered here
      return WSA_INVALID_EVENT;
    }
    HostEvent* e = new HostEvent;
    e->manualReset = manualReset != FALSE;
    e->signalled = initialState != FALSE;
    std::lock_guard<std::mutex> lock(mutex_);
    events_.insert(e);
    return e;
  }

  BOOL CloseHandle(WSAEVENT event) override {
    HostEvent* e = static_cast<HostEvent*>(event);
    std::lock_guard<std::mutex> lock(mutex_);
    if (events_.erase(e) == 0) {
      QelSetLastError(WSA_INVALID_HANDLE);
      return FALSE;
    }
    delete e;
    return TRUE;
  }

  int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents) override {
    int fd = Fd(s);
    if (!Started()) return Error(WSANOTINITIALISED);
    if (!hostnet::IsSocket(fd)) return Error(WSAENOTSOCK);
    std::lock_guard<std::mutex> lock(mutex_);
    HostEvent* e = static_cast<HostEvent*>(event);
    if (networkEvents != 0 && events_.count(e) == 0) return Error(WSAEINVAL);
    // Any earlier selection of this socket ends.
    for (HostEvent* other : events_) {
      if (other->socket == s) {
        other->socket = INVALID_SOCKET;
        other->networkEvents = 0;
      }
    }
    nonBlocking_.insert(fd);
    if (networkEvents != 0) {
      e->socket = s;
      e->networkEvents = networkEvents;
    }
    return 0;
  }

  DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeout,
                                 BOOL /*alertable*/) override {
    if (count == 0 || count > WSA_MAXIMUM_WAIT_EVENTS || events == nullptr) {
      QelSetLastError(WSA_INVALID_PARAMETER);
      return WSA_WAIT_FAILED;
    }
    int fds[WSA_MAXIMUM_WAIT_EVENTS];
    int polled = 0, map[WSA_MAXIMUM_WAIT_EVENTS];
    DWORD signalled = count;
    int signalledCount = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (DWORD i = 0; i < count; ++i) {
        HostEvent* e = static_cast<HostEvent*>(events[i]);
        if (events_.count(e) == 0) {
          QelSetLastError(WSA_INVALID_HANDLE);
          return WSA_WAIT_FAILED;
        }
        if (e->signalled) {
          ++signalledCount;
          if (signalled == count) signalled = i;
          if (!e->manualReset && !waitAll) e->signalled = false;
          continue;
        }
        if (e->socket != INVALID_SOCKET && (e->networkEvents & FD_READ)) {
          map[polled] = static_cast<int>(i);
          fds[polled++] = Fd(e->socket);
        }
      }
    }
    if (signalled < count && (!waitAll || signalledCount == static_cast<int>(count)))
      return WSA_WAIT_EVENT_0 + signalled;
    int timeoutMs = timeout == WSA_INFINITE ? -1 : static_cast<int>(timeout > 0x7fffffffu ? 0x7fffffff : timeout);
    if (polled == 0 || (waitAll && polled + signalledCount < static_cast<int>(count))) {
      // Nothing that could become signalled: wait out the time.
      if (timeoutMs < 0) {
        QelSetLastError(WSA_INVALID_PARAMETER);
        return WSA_WAIT_FAILED;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
      return WSA_WAIT_TIMEOUT;
    }
    int ready = -1, error = 0;
    int rc = hostnet::WaitReadable(fds, polled, waitAll != FALSE, timeoutMs, &ready, &error);
    if (rc < 0) {
      QelSetLastError(static_cast<DWORD>(error));
      return WSA_WAIT_FAILED;
    }
    if (rc == 0) return WSA_WAIT_TIMEOUT;
    DWORD index = static_cast<DWORD>(map[ready]);
    if (signalled < index) index = signalled;
    return WSA_WAIT_EVENT_0 + index;
  }

  int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* networkEvents) override {
    int fd = Fd(s);
    if (!Started()) return Error(WSANOTINITIALISED);
    if (!hostnet::IsSocket(fd)) return Error(WSAENOTSOCK);
    if (networkEvents == nullptr) return Error(WSAEFAULT);
    std::memset(networkEvents, 0, sizeof *networkEvents);
    long selected = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      HostEvent* e = static_cast<HostEvent*>(event);
      if (event != WSA_INVALID_EVENT) {
        if (events_.count(e) == 0) return Error(WSAEINVAL);
        e->signalled = false;  // the call resets the event
      }
      for (HostEvent* other : events_) {
        if (other->socket == s) selected |= other->networkEvents;
      }
    }
    if (selected & FD_READ) {
      int ready = -1, error = 0;
      if (hostnet::WaitReadable(&fd, 1, false, 0, &ready, &error) > 0) {
        networkEvents->lNetworkEvents |= FD_READ;
        networkEvents->iErrorCode[FD_READ_BIT] = hostnet::PendingError(fd);
      }
    }
    return 0;
  }

  int WSARecvFrom(SOCKET s, WSABUF* buffers, DWORD bufferCount, DWORD* received, DWORD* flags, sockaddr* from,
                  int* fromLength) override {
    int fd = Fd(s);
    if (!Started()) return Error(WSANOTINITIALISED);
    if (!hostnet::IsSocket(fd)) return Error(WSAENOTSOCK);
    if (buffers == nullptr || bufferCount == 0 || received == nullptr || flags == nullptr) return Error(WSAEFAULT);
    if (from != nullptr && (fromLength == nullptr || *fromLength < static_cast<int>(sizeof(sockaddr_in))))
      return Error(WSAEFAULT);
    bool nonBlocking;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      nonBlocking = nonBlocking_.count(fd) != 0;
    }
    // One datagram, scattered over the buffers in order.
    size_t total = 0;
    for (DWORD i = 0; i < bufferCount; ++i) total += buffers[i].len;
    char local[65536];
    int room = total > sizeof local ? static_cast<int>(sizeof local) : static_cast<int>(total);
    int got = 0, error = 0;
    uint32_t address = 0;
    uint16_t port = 0;
    int rc = hostnet::RecvFrom(fd, local, room, nonBlocking, &got, &address, &port, &error);
    size_t offset = 0;
    for (DWORD i = 0; i < bufferCount && offset < static_cast<size_t>(got); ++i) {
      size_t part = buffers[i].len;
      if (part > static_cast<size_t>(got) - offset) part = static_cast<size_t>(got) - offset;
      std::memcpy(buffers[i].buf, local + offset, part);
      offset += part;
    }
    *received = static_cast<DWORD>(got);
    *flags = 0;
    if (from != nullptr && (rc == 0 || error == WSAEMSGSIZE)) {
      sockaddr_in* a = reinterpret_cast<sockaddr_in*>(from);
      std::memset(a, 0, sizeof *a);
      a->sin_family = AF_INET;
      a->sin_port = port;
      a->sin_addr.s_addr = address;
      *fromLength = sizeof(sockaddr_in);
    }
    if (rc != 0) return Error(error);
    return 0;
  }

 private:
  struct HostEntry {
    static constexpr int kRoom = 35;
    hostent host;
    char name[256];
    char* aliases[1];
    char* pointers[kRoom + 1];
    uint32_t addresses[kRoom];
    int count = 0;
  };

  bool Started() {
    std::lock_guard<std::mutex> lock(mutex_);
    return startups_ > 0;
  }
  int Error(int code) {
    QelSetLastError(static_cast<DWORD>(code));
    return SOCKET_ERROR;
  }
  SOCKET ErrorSocket(int code) {
    QelSetLastError(static_cast<DWORD>(code));
    return INVALID_SOCKET;
  }

  std::mutex mutex_;
  int startups_ = 0;
  std::set<HostEvent*> events_;
  std::set<int> nonBlocking_;
};

}  // namespace

ISocketPort* HostSocketPort() {
  static HostSockets* sockets = new HostSockets;
  return sockets;
}

}  // namespace qel
