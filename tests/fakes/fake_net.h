// Fakes of the network ports: a socket port that sends nothing and answers
// from a script, and a MIB-II agent with a set address table.
//
// Both ask their FaultPlan under the Win32 name of each operation
// ("socket", "setsockopt", "bind", "getsockname", "sendto", "WSAStartup",
// "gethostname", "gethostbyname", "CreateEventA", "WSAEventSelect",
// "WSAWaitForMultipleEvents", "WSAEnumNetworkEvents", "WSARecvFrom";
// "LoadLibraryA", "SnmpExtensionInit", "SnmpExtensionQuery") whether to
// fail; a failing call returns its failure result with the planned code as
// the last error. The plan entry "FD_READ" puts its code into the read
// event's error slot of WSAEnumNetworkEvents.
#pragma once

#include <deque>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "platform/net_ports.h"
#include "tests/fakes/fault_plan.h"

namespace qel::test {

// Dotted-address helpers that need no port (network byte order).
ULONG DottedToAddress(const char* text);  // INADDR_NONE when not a.b.c.d
std::string AddressToDotted(ULONG address);

class FakeSockets : public ISocketPort {
 public:
  FaultPlan& plan() { return plan_; }

  struct Datagram {
    std::string address;  // dotted
    WORD port;            // host byte order
    std::string payload;
  };
  // Sent datagrams, in order (failed sends too, with an empty payload).
  const std::vector<Datagram>& Sent() const { return sent_; }
  // A datagram that can be received once `afterSends` datagrams have been
  // sent, from address:port (host order).
  void QueueReply(size_t afterSends, const std::string& payload, const char* fromAddress, WORD fromPort);

  // What WSAStartup offers at most (default 2.2).
  void SetHighestVersion(WORD version) { highest_ = version; }
  int Startups() const { return startups_; }
  int Cleanups() const { return cleanups_; }
  // Open references: start-ups that held minus clean-ups that matched one.
  int References() const { return references_; }

  void SetHostName(const std::string& name) { hostName_ = name; }
  // The answer of gethostbyname for the host name; none: name not found.
  void SetHostAddresses(std::initializer_list<const char*> addresses);

  // State of the last socket.
  bool broadcastEnabled() const { return broadcast_; }
  bool bound() const { return bound_; }
  std::string boundAddress() const { return AddressToDotted(boundAddress_); }
  int OpenSockets() const { return static_cast<int>(openSockets_.size()); }
  int OpenEvents() const { return static_cast<int>(openEvents_.size()); }
  // Time-outs that WSAWaitForMultipleEvents was given (it never waits).
  const std::vector<DWORD>& Waits() const { return waits_; }

  int WSAStartup(WORD versionRequested, WSADATA* data) override;
  int WSACleanup() override;
  int WSAGetLastError() override;
  SOCKET socket(int af, int type, int protocol) override;
  int setsockopt(SOCKET s, int level, int optionName, const char* value, int length) override;
  int bind(SOCKET s, const sockaddr* name, int length) override;
  int getsockname(SOCKET s, sockaddr* name, int* length) override;
  int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength) override;
  int closesocket(SOCKET s) override;
  int gethostname(char* name, int length) override;
  hostent* gethostbyname(const char* name) override;
  ULONG inet_addr(const char* text) override;
  char* inet_ntoa(in_addr address) override;
  WORD htons(WORD value) override;
  WORD ntohs(WORD value) override;
  WSAEVENT CreateEventA(BOOL manualReset, BOOL initialState, const char* name) override;
  BOOL CloseHandle(WSAEVENT event) override;
  int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents) override;
  DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeout,
                                 BOOL alertable) override;
  int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* networkEvents) override;
  int WSARecvFrom(SOCKET s, WSABUF* buffers, DWORD bufferCount, DWORD* received, DWORD* flags, sockaddr* from,
                  int* fromLength) override;

 private:
  struct Reply {
    size_t afterSends;
    std::string payload;
    ULONG address;
    WORD port;
  };
  bool Fails(const char* operation);
  bool ReplyReady() const;

  FaultPlan plan_;
  WORD highest_ = 0x0202;
  int startups_ = 0, cleanups_ = 0, references_ = 0;
  std::string hostName_ = "dc01";
  std::vector<ULONG> hostAddresses_;
  std::vector<Datagram> sent_;
  std::deque<Reply> replies_;
  std::vector<DWORD> waits_;
  std::set<SOCKET> openSockets_;
  std::set<int> openEvents_;
  SOCKET nextSocket_ = 100;
  int nextEvent_ = 1;
  bool broadcast_ = false, bound_ = false;
  ULONG boundAddress_ = 0;
  // gethostbyname's answer.
  hostent host_ = {};
  std::vector<char*> addressPointers_;
  char text_[16] = {};
};

// An SNMP agent serving a set ipAddrTable: columns 1 (address), 2 (a row
// number) and 3 (mask), in address order, then any extra objects.
class FakeMibAgent : public IAddressTablePort {
 public:
  FaultPlan& plan() { return plan_; }

  void AddRow(const char* address, const char* mask);
  // Any object with an IpAddress value (to stand after or inside the table).
  void AddObject(std::initializer_list<UINT> name, const char* value);
  // LoadLibraryA gives this handle (below 32: "not loaded").
  void SetModuleHandle(ULONG_PTR handle) { module_ = handle; }
  void RemoveEntryPoint(const std::string& name) { missing_.insert(name); }

  int InitCalls() const { return initCalls_; }
  int QueryCalls() const { return queryCalls_; }
  int Loads() const { return loads_; }
  int Frees() const { return frees_; }

  HMODULE LoadLibraryA(const char* fileName) override;
  FARPROC GetProcAddress(HMODULE module, const char* procName) override;
  BOOL FreeLibrary(HMODULE module) override;
  BOOL SnmpExtensionInit(FARPROC entry, DWORD timeZeroReference, HANDLE* trapEvent, MibOid* supportedView) override;
  BOOL SnmpExtensionQuery(FARPROC entry, BYTE pduType, MibVarBind* bindings, UINT count, LONG* errorStatus,
                          LONG* errorIndex) override;

 private:
  struct Object {
    MibOid name;
    BYTE type;
    std::vector<BYTE> value;
  };
  void Insert(const Object& object);

  FaultPlan plan_;
  std::vector<Object> objects_;  // sorted by name
  int rows_ = 0;
  ULONG_PTR module_ = 0x4000;
  std::set<std::string> missing_;
  int initCalls_ = 0, queryCalls_ = 0, loads_ = 0, frees_ = 0;
};

}  // namespace qel::test
