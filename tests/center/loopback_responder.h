// A stand-in center for tests, on 127.0.0.1 ports 7273 to 7282, written
// against the socket port so that it runs over either platform. It counts
// the datagrams it receives and answers each with what `answer` gives
// (nothing when that is empty).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net_ports.h"

namespace qel::test {

class LoopbackResponder {
 public:
  // port: the port the datagram reached; index: its number, from 0.
  using Answer = std::function<std::string(int port, int index, const std::string& payload)>;

  // Binds all ten ports, waiting (up to 60 s) for ports another test
  // program may hold at the moment. ok() tells whether it succeeded.
  explicit LoopbackResponder(Answer answer);
  ~LoopbackResponder();

  bool ok() const { return ok_; }
  // Ports of the datagrams received so far, in arrival order.
  std::vector<int> Received() const;
  // Payloads received so far, in arrival order.
  std::vector<std::string> Payloads() const;

 private:
  void Run();

  Answer answer_;
  bool ok_ = false;
  SOCKET sockets_[10];
  WSAEVENT events_[10];
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<int> received_;
  std::vector<std::string> payloads_;
  std::thread thread_;
};

}  // namespace qel::test
