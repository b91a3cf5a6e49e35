#include "center/search_agent.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#ifdef QEL_CENTER_HAS_LOG
#include "log/log_utility.h"
#endif

namespace qel {

namespace {

DWORD g_pauseMs = kSearchPauseMs;
DWORD g_waitMs = kSearchWaitMs;

// The port as atoi reads it (blanks, a sign, digits up to the first other
// character, 0 when none), kept to its low 16 bits.
WORD ReadPort(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  unsigned value = 0;
  while (*text >= '0' && *text <= '9') value = value * 10u + static_cast<unsigned>(*text++ - '0');
  if (negative) value = 0u - value;
  return static_cast<WORD>(value);
}

}  // namespace

void SetSearchTimingForTest(DWORD pauseMs, DWORD waitMs) {
  g_pauseMs = pauseMs;
  g_waitMs = waitMs;
}

void ResetSearchTiming() { SetSearchTimingForTest(kSearchPauseMs, kSearchWaitMs); }

bool WinsockStartup(BYTE major, BYTE minor) {
  WSADATA data;
  if (Sockets().WSAStartup(MAKEWORD(major, minor), &data) != 0) return false;
  if (LOBYTE(data.wVersion) != major || HIBYTE(data.wVersion) != minor) {
    Sockets().WSACleanup();
    return false;
  }
  return true;
}

bool GetHostAddresses(std::vector<std::string>& list) {
  list.clear();
  // A failed start-up has already been cleaned up; the calls go on and
  // fail (or work on a Winsock someone else started).
  bool started = WinsockStartup(2, 2);
  bool ok = false;
  char name[256] = {};
  if (Sockets().gethostname(name, sizeof name) == 0) {
    hostent* host = Sockets().gethostbyname(name);
    if (host != nullptr && host->h_addr_list != nullptr) {
      for (char** p = host->h_addr_list; *p != nullptr; ++p) {
        in_addr address;
        std::memcpy(&address, *p, sizeof address);
        list.push_back(Sockets().inet_ntoa(address));
      }
      ok = true;
    }
  }
  if (started) Sockets().WSACleanup();
  return ok;
}

bool ParseReply(const char* text, char* address, WORD* port) {
  if (text == nullptr) return false;
  if (std::strncmp(text, kSearchKeyword, kSearchKeywordLength) != 0) return false;
  const char* first = std::strchr(text, '|');
  if (first == nullptr) return false;
  const char* start = first + 1;
  const char* second = std::strchr(start, '|');
  if (second == nullptr) return false;
  size_t length = static_cast<size_t>(second - start);
  if (length >= static_cast<size_t>(kCenterAddressSize)) return false;
  std::memcpy(address, start, length);
  address[length] = '\0';
  *port = ReadPort(second + 1);
  return true;
}

CSearchAgent::CSearchAgent()
    : TraceSink(nullptr),
      m_dwWinsockStarted(WinsockStartup(2, 2) ? 1 : 0),
      m_wCenterPort(0),
      m_wReplyPort(0),
      m_wCenterPort2(0) {}

CSearchAgent::~CSearchAgent() {
  // Only a start-up that held is balanced here: a failed one took no
  // reference, and cleaning up regardless would drop a reference of
  // another user of Winsock in the process (the SNMP agent's).
  if (m_dwWinsockStarted) Sockets().WSACleanup();
}

void CSearchAgent::Trace(bool alsoLog, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (TraceSink != nullptr) TraceSink(text);
#ifdef QEL_CENTER_HAS_LOG
  if (alsoLog) _NCOvLogUtility::Info("%s", text);
#else
  (void)alsoLog;
#endif
}

int CSearchAgent::ReceiveWithTimeout(SOCKET s, sockaddr* from, int* fromLength, char* buffer, int length,
                                     DWORD timeoutMs) {
  ISocketPort& net = Sockets();
  WSAEVENT event = net.CreateEventA(FALSE, FALSE, nullptr);
  if (event == WSA_INVALID_EVENT) return -1;
  if (net.WSAEventSelect(s, event, FD_READ) == SOCKET_ERROR) {
    int error = net.WSAGetLastError();
    net.CloseHandle(event);
    Trace(false, "    >>[ERR] WSAEventSelect: Error Code:%d", error);
    return -1;
  }
  DWORD waited = net.WSAWaitForMultipleEvents(1, &event, TRUE, timeoutMs, TRUE);
  if (waited != WSA_WAIT_EVENT_0) {
    int error = net.WSAGetLastError();
    net.WSAEventSelect(s, nullptr, 0);
    net.CloseHandle(event);
    Trace(false, "    >>[ERR] WSAWaitForMultipleEvents:%d, error code:%d", static_cast<int>(waited), error);
    return -1;
  }
  WSANETWORKEVENTS networkEvents;
  std::memset(&networkEvents, 0, sizeof networkEvents);
  if (net.WSAEnumNetworkEvents(s, event, &networkEvents) == SOCKET_ERROR) {
    int error = net.WSAGetLastError();
    net.WSAEventSelect(s, nullptr, 0);
    net.CloseHandle(event);
    Trace(false, "    >>[ERR] WSAEnumNetworkEvents: Error Code:%d", error);
    return -1;
  }
  if (networkEvents.iErrorCode[FD_READ_BIT] != 0) {
    net.WSAEventSelect(s, nullptr, 0);
    net.CloseHandle(event);
    Trace(false, "    >>[ERR] NetEvent.iErrorCode[FD_READ_BIT] !=0 ");
    return -1;
  }
  net.WSAEventSelect(s, nullptr, 0);
  WSABUF part;
  part.len = static_cast<ULONG>(length);
  part.buf = buffer;
  DWORD received = 0, flags = 0;
  int result = net.WSARecvFrom(s, &part, 1, &received, &flags, from, fromLength);
  int error = net.WSAGetLastError();
  // The buffer's text, never read past its end.
  Trace(false, "    >>[INFO] WSARecvFrom: %.*s, return=%d, error code:%d", length, buffer, result, error);
  net.CloseHandle(event);
  return result == 0 ? static_cast<int>(received) : 0;
}

void CSearchAgent::SendSearch(SOCKET s, sockaddr_in* peer, int index) {
  ISocketPort& net = Sockets();
  int port = kSearchFirstPort + index;
  peer->sin_port = net.htons(static_cast<WORD>(port));
  int result = net.sendto(s, kSearchKeyword, kSearchKeywordLength, 0, reinterpret_cast<sockaddr*>(peer),
                          sizeof(sockaddr_in));
  int error = net.WSAGetLastError();
  Trace(false, "  >>%d: Send UDP to %s:%d , return=%d(Error Code=%d)", index, net.inet_ntoa(peer->sin_addr), port,
        result, error);
}

bool CSearchAgent::WaitForAnswer(SOCKET s, sockaddr_in* peer, int tracePort, char* centerAddress, WORD* centerPort) {
  ISocketPort& net = Sockets();
  // One byte more than the largest answer, for the terminator.
  char reply[kSearchMaxReply + 1];
  std::memset(reply, 0, sizeof reply);
  System().Sleep(g_pauseMs);
  int fromLength = sizeof(sockaddr_in);
  // The sender of what arrives replaces the destination: later sends of
  // this probe go to it.
  int received =
      ReceiveWithTimeout(s, reinterpret_cast<sockaddr*>(peer), &fromLength, reply, kSearchMaxReply, g_waitMs);
  int error = net.WSAGetLastError();
  if (tracePort < 0) tracePort = net.ntohs(peer->sin_port);
  Trace(false, "    >>recvfrom %s:%d , return=%d(Error Code = %d)", net.inet_ntoa(peer->sin_addr), tracePort,
        received, error);
  if (received < 0) return false;
  reply[received] = '\0';
  return ParseReply(reply, centerAddress, centerPort);
}

bool CSearchAgent::Search(const char* localAddress, const char* targetAddress, DWORD flags, bool limitedBroadcast) {
  ISocketPort& net = Sockets();
  SOCKET s = net.socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return false;
  if (!(flags & SEARCH_UNICAST)) {
    int on = 1;
    if (net.setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) ==
        SOCKET_ERROR) {
      net.closesocket(s);
      return false;
    }
  }
  if (flags & SEARCH_BIND_LOCAL) {
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = 0;
    // As it stands: a text that is no address gives INADDR_NONE, and the
    // bind decides.
    local.sin_addr.s_addr = net.inet_addr(localAddress != nullptr ? localAddress : "");
    if (net.bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
      net.closesocket(s);
      return false;
    }
    int length = sizeof local;
    if (net.getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR) {
      net.closesocket(s);
      return false;
    }
  }

  // One socket address for sending and for the sender of each answer.
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  if (flags & SEARCH_UNICAST)
    peer.sin_addr.s_addr = net.inet_addr(targetAddress != nullptr ? targetAddress : "");
  else if (!limitedBroadcast && (flags & SEARCH_BIND_LOCAL))
    peer.sin_addr.s_addr = m_IpTable.GetBroadcastAddress(localAddress);
  else
    peer.sin_addr.s_addr = INADDR_BROADCAST;

  char centerAddress[kCenterAddressSize] = {};
  WORD centerPort = 0;
  SendSearch(s, &peer, 0);
  bool found = WaitForAnswer(s, &peer, kSearchFirstPort, centerAddress, &centerPort);
  if (flags & SEARCH_UNICAST) {
    for (int attempt = 1; attempt < kSearchPortCount && !found; ++attempt) {
      SendSearch(s, &peer, attempt);
      found = WaitForAnswer(s, &peer, kSearchFirstPort + attempt, centerAddress, &centerPort);
    }
  } else if (!found) {
    for (int index = 1; index < kSearchPortCount; ++index) SendSearch(s, &peer, index);
    found = WaitForAnswer(s, &peer, -1, centerAddress, &centerPort);
  }

  if (found) {
    m_strReplyAddr = net.inet_ntoa(peer.sin_addr);
    m_wReplyPort = peer.sin_port;
    m_strCenterAddr = centerAddress;
    m_wCenterPort = centerPort;
    m_strCenterAddr2 = m_strCenterAddr;
    m_wCenterPort2 = m_wCenterPort;
  }
  net.closesocket(s);
  return found;
}

}  // namespace qel
