// The UDP probe that finds the product's system center.
//
// The probe sends the 20 bytes "OrvaneSearchAgentPos" to UDP ports 7273 to
// 7282 of a destination and waits for a center's answer: the keyword, any
// characters other than "|", then "|", the center's address, "|" and the
// center's port in decimal ("OrvaneSearchAgentPos|10.0.0.5|7273"). A
// unicast probe asks one address, port by port, waiting about a second
// after each datagram; a broadcast probe asks the subnet (or
// 255.255.255.255) on the first port, then on the other nine at once, and
// waits twice.
#pragma once

#include <string>
#include <vector>

#include "center/ip_address_table.h"
#include "platform/net_ports.h"

namespace qel {

// Flags of a probe.
enum : DWORD {
  SEARCH_BIND_LOCAL = 0x1,  // bind to the given local address, port chosen by the system
  SEARCH_UNICAST = 0x2,     // send to the target address only; no broadcast permission
};

constexpr char kSearchKeyword[] = "OrvaneSearchAgentPos";
constexpr int kSearchKeywordLength = 20;
constexpr WORD kSearchFirstPort = 7273;
constexpr int kSearchPortCount = 10;  // 7273 to 7282
constexpr DWORD kSearchPauseMs = 10;   // after each send attempt, before waiting
constexpr DWORD kSearchWaitMs = 1000;  // for one answer
constexpr int kSearchMaxReply = 100;   // largest answer read
// The center address field of a reply: 19 characters and the terminator.
constexpr int kCenterAddressSize = 20;

// Test hook: the pause after sending and the wait for an answer of every
// probe of the process, instead of 10 ms and 1000 ms.
void SetSearchTimingForTest(DWORD pauseMs, DWORD waitMs);
void ResetSearchTiming();

// WSAStartup for major.minor; true only when exactly that version was
// obtained. Otherwise Winsock is cleaned up again and the result is false.
bool WinsockStartup(BYTE major, BYTE minor);

// This host's IPv4 addresses as dotted text, in the order of the host-name
// lookup. False with an empty list when the name or its addresses cannot
// be had.
bool GetHostAddresses(std::vector<std::string>& list);

// Reads a center's answer. `address` receives the center address (a field
// of kCenterAddressSize bytes), `port` the port kept to 16 bits. False for
// a null text, a wrong keyword, a missing "|", or a center address of 20
// characters or more (refused rather than cut: a cut address would name
// another host).
bool ParseReply(const char* text, char* address, WORD* port);

typedef void (*SearchTraceSink)(const char* text);

class CSearchAgent {
 public:
  // Starts Winsock 2.2 and builds the local address table.
  CSearchAgent();
  // Cleans Winsock up again when the constructor started it.
  virtual ~CSearchAgent();
  CSearchAgent(const CSearchAgent&) = delete;
  CSearchAgent& operator=(const CSearchAgent&) = delete;

  // Probes for a center; blocks until a valid answer or the last wait is
  // over (unicast about 10.1 s, broadcast about 2 s). Both addresses are
  // dotted text. True when a valid answer arrived; the reply fields below
  // then describe it.
  bool Search(const char* localAddress, const char* targetAddress, DWORD flags, bool limitedBroadcast);

  // The answer of the last successful probe of this object.
  const char* GetCenterAddress() const { return m_strCenterAddr.c_str(); }
  WORD GetCenterPort() const { return m_wCenterPort; }
  // Where the answer came from; the port exactly as it stood in the socket
  // address (network byte order).
  const char* GetReplyAddress() const { return m_strReplyAddr.c_str(); }
  WORD GetReplyPort() const { return m_wReplyPort; }
  const char* GetCenterAddress2() const { return m_strCenterAddr2.c_str(); }
  WORD GetCenterPort2() const { return m_wCenterPort2; }

  // Formats one trace line (at most 1023 characters) for the sink, and for
  // the log with alsoLog. The probe itself never logs.
  void Trace(bool alsoLog, const char* format, ...)
#if defined(__clang__)
      __attribute__((format(printf, 3, 4)))
#elif defined(__GNUC__)
      __attribute__((format(gnu_printf, 3, 4)))
#endif
      ;

  // Waits up to timeoutMs for one datagram on s and reads it (at most
  // length bytes) with its sender into *from. The bytes received (0 when
  // the read itself failed), or -1 when none could be waited for.
  int ReceiveWithTimeout(SOCKET s, sockaddr* from, int* fromLength, char* buffer, int length, DWORD timeoutMs);

  // Receives every trace line; null (the default) for none.
  SearchTraceSink TraceSink;

 private:
  // Sends the search datagram to *peer at port kSearchFirstPort + index.
  void SendSearch(SOCKET s, sockaddr_in* peer, int index);
  // Pauses, waits for one answer into *peer and parses it. tracePort < 0:
  // trace the port of the answering host.
  bool WaitForAnswer(SOCKET s, sockaddr_in* peer, int tracePort, char* centerAddress, WORD* centerPort);

  DWORD m_dwWinsockStarted;
  std::string m_strCenterAddr;
  WORD m_wCenterPort;
  std::string m_strReplyAddr;
  WORD m_wReplyPort;
  std::string m_strCenterAddr2;
  WORD m_wCenterPort2;
  CIpAddressTable m_IpTable;
};

}  // namespace qel
