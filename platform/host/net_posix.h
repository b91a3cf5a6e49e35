// The Linux socket calls behind the host socket and address-table adapters.
//
// Kept apart from net_ports.h: the Winsock vocabulary of the host defines
// the same names as the Linux socket headers (AF_INET, sockaddr_in ...), so
// a file sees one or the other. Addresses and ports cross this line in
// network byte order; failures report a Winsock error code.
#pragma once

#include <cstdint>

namespace qel::hostnet {

// Each returns -1 on failure with *wsaError set to the Winsock code.
int OpenUdpSocket(int* wsaError);
int SetBroadcast(int fd, bool on, int* wsaError);
int Bind(int fd, uint32_t address, uint16_t port, int* wsaError);
int GetSockName(int fd, uint32_t* address, uint16_t* port, int* wsaError);
int SendTo(int fd, const void* data, int length, uint32_t address, uint16_t port, int* wsaError);
// A datagram longer than `length` is cut and fails with WSAEMSGSIZE, as on
// Windows; *received still tells the bytes stored.
int RecvFrom(int fd, void* data, int length, bool nonBlocking, int* received, uint32_t* address,
             uint16_t* port, int* wsaError);
int Close(int fd, int* wsaError);
bool IsSocket(int fd);
// 1 readable, 0 timed out, -1 failed. timeoutMs < 0 waits for ever.
int WaitReadable(const int* fds, int count, bool all, int timeoutMs, int* readyIndex, int* wsaError);
// The pending error of a socket (SO_ERROR) as a Winsock code, 0 when none.
int PendingError(int fd);

int HostName(char* name, int length, int* wsaError);
// IPv4 addresses of `name` in lookup order; the count, or -1.
int ResolveName(const char* name, uint32_t* addresses, int room, int* wsaError);

struct InterfaceAddress {
  uint32_t address;
  uint32_t mask;
  bool loopback;
};
// The IPv4 addresses of this machine's interfaces, in interface order.
int InterfaceAddresses(InterfaceAddress* out, int room);

bool ParseDotted(const char* text, uint32_t* address);
void FormatDotted(uint32_t address, char* text, int size);
uint16_t HostToNet16(uint16_t value);
uint16_t NetToHost16(uint16_t value);
uint32_t NetToHost32(uint32_t value);

int WsaErrorOfErrno(int error);

}  // namespace qel::hostnet
