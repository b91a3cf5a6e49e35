// qel-center-standin: a stand-in for the product's system center on this
// machine, and a small probe that asks it (or any address) the way the
// wizard's Test button does. Plain types only: the server speaks Linux
// sockets, the probe speaks the program's Winsock ports.
#pragma once

#include <string>
#include <vector>

namespace standin {

struct ServerOptions {
  std::string address = "127.0.0.1";  // where to listen
  std::vector<int> ports;             // default: 7273 to 7282
  std::vector<int> answerPorts;       // only these answer (default: all)
  std::string replyAddress;           // the center address named (default: `address`)
  int replyPort = 0;                  // the center port named (default: the port reached)
  bool silent = false;                // count, never answer
  bool malformed = false;             // answer without the second "|"
  int delayMs = 0;                    // answer this late
  int fromPort = -1;                  // answer from this port (0: any) instead of the one reached
  std::string countFile;              // per-port counts, rewritten after each datagram
  std::string readyFile;              // written once every port listens
  double exitAfterSeconds = 0;        // 0: until stopped by a signal
};

struct ProbeOptions {
  std::string target;
  std::string local;  // empty: no bind (the probe's unicast without SEARCH_BIND_LOCAL)
  int waitMs = 1000;
  int pauseMs = 10;
  bool trace = false;
};

int RunServer(const ServerOptions& options);
int RunProbe(const ProbeOptions& options);

}  // namespace standin
