// Winsock as it is: every call forwards to ws2_32.
#include "platform/net_ports.h"

namespace qel {

namespace {

class Win32Sockets : public ISocketPort {
 public:
  int WSAStartup(WORD versionRequested, WSADATA* data) override { return ::WSAStartup(versionRequested, data); }
  int WSACleanup() override { return ::WSACleanup(); }
  int WSAGetLastError() override { return ::WSAGetLastError(); }

  SOCKET socket(int af, int type, int protocol) override { return ::socket(af, type, protocol); }
  int setsockopt(SOCKET s, int level, int optionName, const char* value, int length) override {
    return ::setsockopt(s, level, optionName, value, length);
  }
  int bind(SOCKET s, const sockaddr* name, int length) override { return ::bind(s, name, length); }
  int getsockname(SOCKET s, sockaddr* name, int* length) override { return ::getsockname(s, name, length); }
  int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength) override {
    return ::sendto(s, buffer, length, flags, to, toLength);
  }
  int closesocket(SOCKET s) override { return ::closesocket(s); }

  int gethostname(char* name, int length) override { return ::gethostname(name, length); }
  hostent* gethostbyname(const char* name) override { return ::gethostbyname(name); }
  ULONG inet_addr(const char* text) override { return ::inet_addr(text); }
  char* inet_ntoa(in_addr address) override { return ::inet_ntoa(address); }
  WORD htons(WORD value) override { return ::htons(value); }
  WORD ntohs(WORD value) override { return ::ntohs(value); }

  WSAEVENT CreateEventA(BOOL manualReset, BOOL initialState, const char* name) override {
    // CreateEventA gives null on failure, which is also WSA_INVALID_EVENT.
    return ::CreateEventA(nullptr, manualReset, initialState, name);
  }
  BOOL CloseHandle(WSAEVENT event) override { return ::CloseHandle(event); }
  int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents) override {
    return ::WSAEventSelect(s, event, networkEvents);
  }
  DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeout,
                                 BOOL alertable) override {
    return ::WSAWaitForMultipleEvents(count, events, waitAll, timeout, alertable);
  }
  int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* networkEvents) override {
    return ::WSAEnumNetworkEvents(s, event, networkEvents);
  }
  int WSARecvFrom(SOCKET s, WSABUF* buffers, DWORD bufferCount, DWORD* received, DWORD* flags, sockaddr* from,
                  int* fromLength) override {
    return ::WSARecvFrom(s, buffers, bufferCount, received, flags, from, fromLength, nullptr, nullptr);
  }
};

// A namespace-scope object, like the other Win32 ports: a function-local
// static's guard would bring in the runtime's exception support.
Win32Sockets g_sockets;

}  // namespace

ISocketPort* Win32SocketPort() { return &g_sockets; }

void InstallWin32NetPorts() {
  Ports().sockets = Win32SocketPort();
  Ports().addressTable = Win32AddressTablePort();
}

}  // namespace qel
