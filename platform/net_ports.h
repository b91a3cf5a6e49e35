// Sockets and the local address table, as the center probe uses them.
//
// ISocketPort carries the Winsock calls of a UDP probe with their Win32
// names, arguments and results (SOCKET_ERROR, INVALID_SOCKET, the WSA error
// codes, WSA_WAIT_TIMEOUT ...). The event-driven receive keeps its Windows
// steps on every platform: an event is created, tied to the socket with
// WSAEventSelect, waited for with WSAWaitForMultipleEvents, examined with
// WSAEnumNetworkEvents, and the datagram is then read with WSARecvFrom. On
// the host the adapter emulates those events over poll().
//
// IAddressTablePort is the SNMP extension agent for MIB-II ("inetmib1.dll"):
// the library is loaded by name, its entry points looked up by name, and the
// agent is asked with GETNEXT for the rows of ipAddrTable. Object identifiers
// and values cross the port in the plain MibVarBind form below, so the core
// needs no SNMP memory management; the Win32 adapter converts to and from the
// agent's own structures with the SNMP utility library.
//
// Like ports.h, no standard-library types here.
#pragma once

#include "platform/ports.h"
#include "platform/win_types.h"

#ifdef _WIN32
#include <snmp.h>
#else

#include <cstdint>

// --- Winsock vocabulary for the host -----------------------------------------

typedef uintptr_t SOCKET;
typedef HANDLE WSAEVENT;

#define INVALID_SOCKET ((SOCKET)(~(uintptr_t)0))
#define SOCKET_ERROR (-1)

#define AF_INET 2
#define SOCK_DGRAM 2
#define IPPROTO_UDP 17
#define SOL_SOCKET 0xffff
#define SO_BROADCAST 0x0020

#define INADDR_ANY ((ULONG)0x00000000u)
#define INADDR_NONE ((ULONG)0xffffffffu)
#define INADDR_BROADCAST ((ULONG)0xffffffffu)

#define FD_READ_BIT 0
#define FD_READ (1 << FD_READ_BIT)
#define FD_WRITE_BIT 1
#define FD_WRITE (1 << FD_WRITE_BIT)
#define FD_MAX_EVENTS 10

#define WSA_WAIT_EVENT_0 ((DWORD)0)
#define WSA_WAIT_TIMEOUT ((DWORD)258)
#define WSA_WAIT_FAILED ((DWORD)0xFFFFFFFFu)
#define WSA_INFINITE INFINITE
#define WSA_MAXIMUM_WAIT_EVENTS 64
#define WSA_INVALID_EVENT ((WSAEVENT)0)

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

#ifndef MAKEWORD
#define MAKEWORD(low, high) ((WORD)(((BYTE)(low)) | (((WORD)((BYTE)(high))) << 8)))
#endif
#ifndef LOBYTE
#define LOBYTE(w) ((BYTE)((w) & 0xff))
#endif
#ifndef HIBYTE
#define HIBYTE(w) ((BYTE)(((w) >> 8) & 0xff))
#endif

// Winsock error codes (WSAGetLastError).
#define WSA_INVALID_HANDLE 6
#define WSA_INVALID_PARAMETER 87
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAENOTSOCK 10038
#define WSAEMSGSIZE 10040
#define WSAENOPROTOOPT 10042
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001
#define WSANO_DATA 11004

struct in_addr {
  ULONG s_addr;  // network byte order
};

struct sockaddr {
  WORD sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  short sin_family;
  WORD sin_port;  // network byte order
  in_addr sin_addr;
  char sin_zero[8];
};
typedef sockaddr_in SOCKADDR_IN;
typedef sockaddr SOCKADDR;

struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;  // null-terminated list of h_length-byte addresses
};

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};
typedef WSADATA* LPWSADATA;

struct WSANETWORKEVENTS {
  long lNetworkEvents;
  int iErrorCode[FD_MAX_EVENTS];
};

struct WSABUF {
  ULONG len;
  char* buf;
};

// --- SNMP vocabulary for the host --------------------------------------------

#define ASN_INTEGER 0x02
#define ASN_OCTETSTRING 0x04
#define ASN_NULL 0x05
#define ASN_OBJECTIDENTIFIER 0x06
#define ASN_IPADDRESS 0x40
#define SNMP_PDU_GET 0xA0
#define SNMP_PDU_GETNEXT 0xA1
#define SNMP_ERRORSTATUS_NOERROR 0
#define SNMP_ERRORSTATUS_NOSUCHNAME 2
#define SNMP_ERRORSTATUS_GENERR 5

#endif  // !_WIN32

namespace qel {

// --- Sockets -----------------------------------------------------------------

class ISocketPort {
 public:
  virtual ~ISocketPort() = default;

  // WSAStartup: 0 or the error; data->wVersion receives the version obtained
  // (the lower of the one asked for and the highest supported, 2.2).
  virtual int WSAStartup(WORD versionRequested, WSADATA* data) = 0;
  // 0, or SOCKET_ERROR (WSANOTINITIALISED) without a matching start-up.
  virtual int WSACleanup() = 0;
  virtual int WSAGetLastError() = 0;

  virtual SOCKET socket(int af, int type, int protocol) = 0;
  virtual int setsockopt(SOCKET s, int level, int optionName, const char* value, int length) = 0;
  virtual int bind(SOCKET s, const sockaddr* name, int length) = 0;
  virtual int getsockname(SOCKET s, sockaddr* name, int* length) = 0;
  virtual int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength) = 0;
  virtual int closesocket(SOCKET s) = 0;

  virtual int gethostname(char* name, int length) = 0;
  // The host entry of `name` (IPv4 only), valid until the thread's next
  // call; null with WSAGetLastError set when the name is unknown. For this
  // computer's own name it lists the addresses of its adapters.
  virtual hostent* gethostbyname(const char* name) = 0;
  // Dotted text to an address in network byte order; INADDR_NONE when the
  // text is not an address (the empty text included).
  virtual ULONG inet_addr(const char* text) = 0;
  // Dotted text of the address, in a buffer of the calling thread that the
  // next call overwrites.
  virtual char* inet_ntoa(in_addr address) = 0;
  virtual WORD htons(WORD value) = 0;
  virtual WORD ntohs(WORD value) = 0;

  // The event-driven receive. Events are unnamed; CreateEventA and
  // CloseHandle here make and close events that WSAEventSelect accepts.
  virtual WSAEVENT CreateEventA(BOOL manualReset, BOOL initialState, const char* name) = 0;
  virtual BOOL CloseHandle(WSAEVENT event) = 0;
  // networkEvents 0 cancels the selection. As on Windows, a socket that has
  // been selected stays non-blocking.
  virtual int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents) = 0;
  // WSA_WAIT_EVENT_0 + index, WSA_WAIT_TIMEOUT or WSA_WAIT_FAILED.
  virtual DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeout,
                                         BOOL alertable) = 0;
  virtual int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* networkEvents) = 0;
  // Without overlapped operation: 0 with *received set, or SOCKET_ERROR (a
  // datagram longer than the buffers fails with WSAEMSGSIZE).
  virtual int WSARecvFrom(SOCKET s, WSABUF* buffers, DWORD bufferCount, DWORD* received, DWORD* flags,
                          sockaddr* from, int* fromLength) = 0;
};

inline ISocketPort& Sockets() { return *Ports().sockets; }

// --- The SNMP extension agent for MIB-II ---------------------------------------

#define MIB_OID_MAX_LENGTH 32
#define MIB_VALUE_MAX_LENGTH 64

// An object identifier: idLength components of ids.
struct MibOid {
  UINT idLength;
  UINT ids[MIB_OID_MAX_LENGTH];
};

// One variable binding: a name and, after a query, the value found there.
// For octet strings and IP addresses `value` holds the octets as they stand.
struct MibVarBind {
  MibOid name;
  BYTE asnType;
  UINT valueLength;
  BYTE value[MIB_VALUE_MAX_LENGTH];
};

class IAddressTablePort {
 public:
  virtual ~IAddressTablePort() = default;

  // LoadLibraryA of the agent library; as on Windows a handle below 32 means
  // the library did not load.
  virtual HMODULE LoadLibraryA(const char* fileName) = 0;
  // An entry point of the loaded agent by name; null when it is missing.
  virtual FARPROC GetProcAddress(HMODULE module, const char* procName) = 0;
  virtual BOOL FreeLibrary(HMODULE module) = 0;

  // Calls the agent's SnmpExtensionInit at `entry` (found by GetProcAddress).
  virtual BOOL SnmpExtensionInit(FARPROC entry, DWORD timeZeroReference, HANDLE* trapEvent,
                                 MibOid* supportedView) = 0;
  // Calls the agent's SnmpExtensionQuery at `entry` with `count` bindings.
  // For GETNEXT each binding's name and value are replaced by the next
  // object's. FALSE when the agent could not answer.
  virtual BOOL SnmpExtensionQuery(FARPROC entry, BYTE pduType, MibVarBind* bindings, UINT count,
                                  LONG* errorStatus, LONG* errorIndex) = 0;
};

inline IAddressTablePort& AddressTable() { return *Ports().addressTable; }

// Compares the first n components of two identifiers as SnmpUtilOidNCmp
// does: <0, 0 or >0; a shorter identifier that is a prefix sorts first.
inline int MibOidNCompare(const MibOid& a, const MibOid& b, UINT n) {
  UINT length = a.idLength < b.idLength ? a.idLength : b.idLength;
  if (length > n) length = n;
  for (UINT i = 0; i < length; ++i) {
    if (a.ids[i] != b.ids[i]) return a.ids[i] < b.ids[i] ? -1 : 1;
  }
  if (length == n) return 0;
  if (a.idLength == b.idLength) return 0;
  return a.idLength < b.idLength ? -1 : 1;
}

// Full lexicographic order of identifiers (SnmpUtilOidCmp).
inline int MibOidCompare(const MibOid& a, const MibOid& b) {
  UINT n = a.idLength > b.idLength ? a.idLength : b.idLength;
  return MibOidNCompare(a, b, n);
}

// --- Adapters ----------------------------------------------------------------

// Process-wide adapters (never freed), and their installation in Ports().
ISocketPort* HostSocketPort();
IAddressTablePort* HostAddressTablePort();
void InstallHostNetPorts();
ISocketPort* Win32SocketPort();
IAddressTablePort* Win32AddressTablePort();
void InstallWin32NetPorts();

}  // namespace qel
