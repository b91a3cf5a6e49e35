#include "tests/fakes/fake_net.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qel::test {

namespace {

WORD Swap16(WORD value) {
  // Network order is big-endian whatever the machine's order is.
  BYTE bytes[2] = {static_cast<BYTE>(value >> 8), static_cast<BYTE>(value & 0xff)};
  WORD result;
  std::memcpy(&result, bytes, 2);
  return result;
}

WORD Unswap16(WORD value) {
  BYTE bytes[2];
  std::memcpy(bytes, &value, 2);
  return static_cast<WORD>((bytes[0] << 8) | bytes[1]);
}

// Entry points of the fake agent; only their identity matters.
void FakeInit() {}
void FakeInitEx() {}
void FakeQuery() {}
void FakeTrap() {}

}  // namespace

ULONG DottedToAddress(const char* text) {
  if (text == nullptr) return INADDR_NONE;
  unsigned parts[4];
  char tail = 0;
  if (std::sscanf(text, "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4)
    return INADDR_NONE;
  BYTE bytes[4];
  for (int i = 0; i < 4; ++i) {
    if (parts[i] > 255) return INADDR_NONE;
    bytes[i] = static_cast<BYTE>(parts[i]);
  }
  ULONG address;
  std::memcpy(&address, bytes, 4);
  return address;
}

std::string AddressToDotted(ULONG address) {
  BYTE b[4];
  std::memcpy(b, &address, 4);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

// --- FakeSockets --------------------------------------------------------------

bool FakeSockets::Fails(const char* operation) {
  DWORD error = 0;
  if (!plan_.ShouldFail(operation, &error)) return false;
  QelSetLastError(error);
  return true;
}

void FakeSockets::QueueReply(size_t afterSends, const std::string& payload, const char* fromAddress, WORD fromPort) {
  replies_.push_back(Reply{afterSends, payload, DottedToAddress(fromAddress), fromPort});
}

void FakeSockets::SetHostAddresses(std::initializer_list<const char*> addresses) {
  hostAddresses_.clear();
  for (const char* a : addresses) hostAddresses_.push_back(DottedToAddress(a));
}

bool FakeSockets::ReplyReady() const { return !replies_.empty() && sent_.size() >= replies_.front().afterSends; }

int FakeSockets::WSAStartup(WORD versionRequested, WSADATA* data) {
  ++startups_;
  DWORD error = 0;
  if (plan_.ShouldFail("WSAStartup", &error)) return static_cast<int>(error);
  std::memset(data, 0, sizeof *data);
  // Versions compare major first: the low byte.
  WORD requested = static_cast<WORD>((LOBYTE(versionRequested) << 8) | HIBYTE(versionRequested));
  WORD highest = static_cast<WORD>((LOBYTE(highest_) << 8) | HIBYTE(highest_));
  data->wVersion = requested > highest ? highest_ : versionRequested;
  data->wHighVersion = highest_;
  ++references_;
  return 0;
}

int FakeSockets::WSACleanup() {
  ++cleanups_;
  if (references_ == 0) {
    QelSetLastError(WSANOTINITIALISED);
    return SOCKET_ERROR;
  }
  --references_;
  return 0;
}

int FakeSockets::WSAGetLastError() { return static_cast<int>(QelGetLastError()); }

SOCKET FakeSockets::socket(int, int, int) {
  if (Fails("socket")) return INVALID_SOCKET;
  broadcast_ = false;
  bound_ = false;
  boundAddress_ = 0;
  SOCKET s = nextSocket_++;
  openSockets_.insert(s);
  return s;
}

int FakeSockets::setsockopt(SOCKET, int level, int optionName, const char* value, int length) {
  if (Fails("setsockopt")) return SOCKET_ERROR;
  if (level == SOL_SOCKET && optionName == SO_BROADCAST && length >= 1) {
    int on = 0;
    std::memcpy(&on, value, length >= 4 ? 4 : static_cast<size_t>(length));
    broadcast_ = on != 0;
  }
  return 0;
}

int FakeSockets::bind(SOCKET, const sockaddr* name, int) {
  if (Fails("bind")) return SOCKET_ERROR;
  ULONG address = reinterpret_cast<const sockaddr_in*>(name)->sin_addr.s_addr;
  // As Windows: INADDR_NONE is no address of this host.
  if (address == INADDR_NONE) {
    QelSetLastError(WSAEADDRNOTAVAIL);
    return SOCKET_ERROR;
  }
  bound_ = true;
  boundAddress_ = address;
  return 0;
}

int FakeSockets::getsockname(SOCKET, sockaddr* name, int* length) {
  if (Fails("getsockname")) return SOCKET_ERROR;
  sockaddr_in* a = reinterpret_cast<sockaddr_in*>(name);
  std::memset(a, 0, sizeof *a);
  a->sin_family = AF_INET;
  a->sin_addr.s_addr = boundAddress_;
  a->sin_port = Swap16(50000);
  *length = sizeof(sockaddr_in);
  return 0;
}

int FakeSockets::sendto(SOCKET, const char* buffer, int length, int, const sockaddr* to, int) {
  const sockaddr_in* a = reinterpret_cast<const sockaddr_in*>(to);
  // Failed sends are recorded too: the probe goes on after them.
  bool fails = Fails("sendto");
  sent_.push_back(Datagram{AddressToDotted(a->sin_addr.s_addr), Unswap16(a->sin_port),
                           fails ? std::string() : std::string(buffer, length)});
  return fails ? SOCKET_ERROR : length;
}

int FakeSockets::closesocket(SOCKET s) {
  if (openSockets_.erase(s) == 0) {
    QelSetLastError(WSAENOTSOCK);
    return SOCKET_ERROR;
  }
  return 0;
}

int FakeSockets::gethostname(char* name, int length) {
  if (Fails("gethostname")) return SOCKET_ERROR;
  if (static_cast<int>(hostName_.size()) + 1 > length) {
    QelSetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  std::strcpy(name, hostName_.c_str());
  return 0;
}

hostent* FakeSockets::gethostbyname(const char* name) {
  if (Fails("gethostbyname")) return nullptr;
  if (name == nullptr || hostName_ != name || hostAddresses_.empty()) {
    QelSetLastError(WSAHOST_NOT_FOUND);
    return nullptr;
  }
  addressPointers_.clear();
  for (ULONG& a : hostAddresses_) addressPointers_.push_back(reinterpret_cast<char*>(&a));
  addressPointers_.push_back(nullptr);
  host_.h_name = const_cast<char*>(hostName_.c_str());
  host_.h_aliases = nullptr;
  host_.h_addrtype = AF_INET;
  host_.h_length = 4;
  host_.h_addr_list = addressPointers_.data();
  return &host_;
}

ULONG FakeSockets::inet_addr(const char* text) { return DottedToAddress(text); }

char* FakeSockets::inet_ntoa(in_addr address) {
  std::snprintf(text_, sizeof text_, "%s", AddressToDotted(address.s_addr).c_str());
  return text_;
}

WORD FakeSockets::htons(WORD value) { return Swap16(value); }
WORD FakeSockets::ntohs(WORD value) { return Unswap16(value); }

WSAEVENT FakeSockets::CreateEventA(BOOL, BOOL, const char*) {
  if (Fails("CreateEventA")) return WSA_INVALID_EVENT;
  int id = nextEvent_++;
  openEvents_.insert(id);
  return reinterpret_cast<WSAEVENT>(static_cast<ULONG_PTR>(id));
}

BOOL FakeSockets::CloseHandle(WSAEVENT event) {
  return openEvents_.erase(static_cast<int>(reinterpret_cast<ULONG_PTR>(event))) ? TRUE : FALSE;
}

int FakeSockets::WSAEventSelect(SOCKET, WSAEVENT, long networkEvents) {
  // Cancelling a selection never fails here.
  if (networkEvents != 0 && Fails("WSAEventSelect")) return SOCKET_ERROR;
  return 0;
}

DWORD FakeSockets::WSAWaitForMultipleEvents(DWORD, const WSAEVENT*, BOOL, DWORD timeout, BOOL) {
  waits_.push_back(timeout);
  if (Fails("WSAWaitForMultipleEvents")) return WSA_WAIT_FAILED;
  return ReplyReady() ? WSA_WAIT_EVENT_0 : WSA_WAIT_TIMEOUT;
}

int FakeSockets::WSAEnumNetworkEvents(SOCKET, WSAEVENT, WSANETWORKEVENTS* networkEvents) {
  if (Fails("WSAEnumNetworkEvents")) return SOCKET_ERROR;
  std::memset(networkEvents, 0, sizeof *networkEvents);
  if (ReplyReady()) networkEvents->lNetworkEvents = FD_READ;
  DWORD error = 0;
  if (plan_.ShouldFail("FD_READ", &error)) networkEvents->iErrorCode[FD_READ_BIT] = static_cast<int>(error);
  return 0;
}

int FakeSockets::WSARecvFrom(SOCKET, WSABUF* buffers, DWORD, DWORD* received, DWORD* flags, sockaddr* from,
                             int* fromLength) {
  *received = 0;
  *flags = 0;
  if (Fails("WSARecvFrom")) return SOCKET_ERROR;
  if (!ReplyReady()) {
    QelSetLastError(WSAEWOULDBLOCK);
    return SOCKET_ERROR;
  }
  Reply reply = replies_.front();
  replies_.pop_front();
  sockaddr_in* a = reinterpret_cast<sockaddr_in*>(from);
  std::memset(a, 0, sizeof *a);
  a->sin_family = AF_INET;
  a->sin_addr.s_addr = reply.address;
  a->sin_port = Swap16(reply.port);
  *fromLength = sizeof(sockaddr_in);
  size_t n = std::min<size_t>(reply.payload.size(), buffers[0].len);
  std::memcpy(buffers[0].buf, reply.payload.data(), n);
  *received = static_cast<DWORD>(n);
  if (n < reply.payload.size()) {
    QelSetLastError(WSAEMSGSIZE);
    return SOCKET_ERROR;
  }
  return 0;
}

// --- FakeMibAgent -------------------------------------------------------------

void FakeMibAgent::Insert(const Object& object) {
  auto at = std::lower_bound(objects_.begin(), objects_.end(), object, [](const Object& a, const Object& b) {
    return MibOidCompare(a.name, b.name) < 0;
  });
  objects_.insert(at, object);
}

void FakeMibAgent::AddRow(const char* address, const char* mask) {
  ULONG a = DottedToAddress(address), m = DottedToAddress(mask);
  BYTE b[4];
  std::memcpy(b, &a, 4);
  ++rows_;
  for (UINT column = 1; column <= 3; ++column) {
    Object o;
    o.name.idLength = 14;
    const UINT prefix[] = {1, 3, 6, 1, 2, 1, 4, 20, 1};
    std::copy(prefix, prefix + 9, o.name.ids);
    o.name.ids[9] = column;
    for (int i = 0; i < 4; ++i) o.name.ids[10 + i] = b[i];
    ULONG value = column == 1 ? a : column == 3 ? m : static_cast<ULONG>(rows_);
    o.type = column == 2 ? ASN_INTEGER : ASN_IPADDRESS;
    o.value.assign(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + 4);
    Insert(o);
  }
}

void FakeMibAgent::AddObject(std::initializer_list<UINT> name, const char* value) {
  Object o;
  o.name.idLength = 0;
  for (UINT id : name) o.name.ids[o.name.idLength++] = id;
  ULONG v = DottedToAddress(value);
  o.type = ASN_IPADDRESS;
  o.value.assign(reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + 4);
  Insert(o);
}

HMODULE FakeMibAgent::LoadLibraryA(const char* fileName) {
  ++loads_;
  DWORD error = 0;
  if (plan_.ShouldFail("LoadLibraryA", &error) || fileName == nullptr || std::string(fileName) != "inetmib1.dll") {
    QelSetLastError(error != 0 ? error : 126);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(module_);
}

FARPROC FakeMibAgent::GetProcAddress(HMODULE, const char* procName) {
  std::string name = procName;
  if (missing_.count(name)) return nullptr;
  if (name == "SnmpExtensionInit") return reinterpret_cast<FARPROC>(FakeInit);
  if (name == "SnmpExtensionInitEx") return reinterpret_cast<FARPROC>(FakeInitEx);
  if (name == "SnmpExtensionQuery") return reinterpret_cast<FARPROC>(FakeQuery);
  if (name == "SnmpExtensionTrap") return reinterpret_cast<FARPROC>(FakeTrap);
  return nullptr;
}

BOOL FakeMibAgent::FreeLibrary(HMODULE) {
  ++frees_;
  return TRUE;
}

BOOL FakeMibAgent::SnmpExtensionInit(FARPROC entry, DWORD, HANDLE* trapEvent, MibOid* supportedView) {
  ++initCalls_;
  if (entry != reinterpret_cast<FARPROC>(FakeInit)) return FALSE;
  DWORD error = 0;
  if (plan_.ShouldFail("SnmpExtensionInit", &error)) return FALSE;
  *trapEvent = nullptr;
  supportedView->idLength = 0;
  return TRUE;
}

BOOL FakeMibAgent::SnmpExtensionQuery(FARPROC entry, BYTE pduType, MibVarBind* bindings, UINT count,
                                      LONG* errorStatus, LONG* errorIndex) {
  ++queryCalls_;
  *errorStatus = SNMP_ERRORSTATUS_NOERROR;
  *errorIndex = 0;
  DWORD error = 0;
  if (entry != reinterpret_cast<FARPROC>(FakeQuery) || pduType != SNMP_PDU_GETNEXT ||
      plan_.ShouldFail("SnmpExtensionQuery", &error)) {
    *errorStatus = SNMP_ERRORSTATUS_GENERR;
    return FALSE;
  }
  for (UINT i = 0; i < count; ++i) {
    auto next = std::find_if(objects_.begin(), objects_.end(),
                             [&](const Object& o) { return MibOidCompare(o.name, bindings[i].name) > 0; });
    if (next == objects_.end()) {
      *errorStatus = SNMP_ERRORSTATUS_NOSUCHNAME;
      *errorIndex = static_cast<LONG>(i + 1);
      return FALSE;
    }
    bindings[i].name = next->name;
    bindings[i].asnType = next->type;
    bindings[i].valueLength = static_cast<UINT>(next->value.size());
    std::memcpy(bindings[i].value, next->value.data(), next->value.size());
  }
  return TRUE;
}

}  // namespace qel::test
