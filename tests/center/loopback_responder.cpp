#include "tests/center/loopback_responder.h"

#include <chrono>
#include <cstring>

namespace qel::test {

LoopbackResponder::LoopbackResponder(Answer answer) : answer_(std::move(answer)) {
  ISocketPort& net = Sockets();
  WSADATA data;
  net.WSAStartup(MAKEWORD(2, 2), &data);
  for (int i = 0; i < 10; ++i) {
    sockets_[i] = INVALID_SOCKET;
    events_[i] = WSA_INVALID_EVENT;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int bound = 0;
  for (int i = 0; i < 10; ++i) {
    sockets_[i] = net.socket(AF_INET, SOCK_DGRAM, 0);
    if (sockets_[i] == INVALID_SOCKET) break;
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = net.inet_addr("127.0.0.1");
    a.sin_port = net.htons(static_cast<WORD>(7273 + i));
    bool done = false;
    for (;;) {
      if (net.bind(sockets_[i], reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        done = true;
        break;
      }
      if (net.WSAGetLastError() != WSAEADDRINUSE || std::chrono::steady_clock::now() >= deadline) break;
      // Another test program holds the center ports; it lets go soon.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!done) break;
    events_[i] = net.CreateEventA(FALSE, FALSE, nullptr);
    if (events_[i] == WSA_INVALID_EVENT || net.WSAEventSelect(sockets_[i], events_[i], FD_READ) != 0) break;
    ++bound;
  }
  ok_ = bound == 10;
  if (ok_) thread_ = std::thread([this] { Run(); });
}

LoopbackResponder::~LoopbackResponder() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  ISocketPort& net = Sockets();
  for (int i = 0; i < 10; ++i) {
    if (sockets_[i] != INVALID_SOCKET) net.closesocket(sockets_[i]);
    if (events_[i] != WSA_INVALID_EVENT) net.CloseHandle(events_[i]);
  }
  net.WSACleanup();
}

std::vector<int> LoopbackResponder::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<std::string> LoopbackResponder::Payloads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return payloads_;
}

void LoopbackResponder::Run() {
  ISocketPort& net = Sockets();
  int index = 0;
  while (!stop_) {
    DWORD waited = net.WSAWaitForMultipleEvents(10, events_, FALSE, 20, FALSE);
    if (waited == WSA_WAIT_TIMEOUT || waited == WSA_WAIT_FAILED) continue;
    for (int i = 0; i < 10; ++i) {
      WSANETWORKEVENTS network;
      if (net.WSAEnumNetworkEvents(sockets_[i], events_[i], &network) != 0) continue;
      if (!(network.lNetworkEvents & FD_READ)) continue;
      char buffer[512];
      WSABUF part = {sizeof buffer, buffer};
      DWORD received = 0, flags = 0;
      sockaddr_in from;
      int fromLength = sizeof from;
      if (net.WSARecvFrom(sockets_[i], &part, 1, &received, &flags, reinterpret_cast<sockaddr*>(&from),
                          &fromLength) != 0)
        continue;
      int port = 7273 + i;
      std::string payload(buffer, received);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(port);
        payloads_.push_back(payload);
      }
      std::string reply = answer_(port, index++, payload);
      if (!reply.empty())
        net.sendto(sockets_[i], reply.data(), static_cast<int>(reply.size()), 0, reinterpret_cast<sockaddr*>(&from),
                   sizeof from);
    }
  }
}

}  // namespace qel::test
