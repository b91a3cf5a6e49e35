// qel-center-standin [options]            answer the center search on 127.0.0.1
// qel-center-standin --probe ADDRESS ...  ask ADDRESS whether a center answers
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "res/program_info.h"
#include "tools/center-standin/standin.h"

namespace {

const char kUsage[] =
      "usage: qel-center-standin [--address A] [--port N]... [--answer-port N]...\n"
      "                          [--reply-address A] [--reply-port N] [--silent] [--malformed]\n"
      "                          [--delay MS] [--from-port N] [--count-file F] [--ready-file F]\n"
      "                          [--exit-after SECONDS]\n"
      "       qel-center-standin --probe TARGET [--local A] [--wait MS] [--pause MS] [--trace]\n"
      "\n"
      "Listens on UDP ports 7273 to 7282 (or the --port ones) and answers the search\n"
      "datagram \"OrvaneSearchAgentPos\" with \"OrvaneSearchAgentPos|ADDRESS|PORT\".\n"
      "Counts of the datagrams received per port are printed at exit.\n"
      "--probe sends the search as the wizard's Test button does and exits 0 when a\n"
      "center answered, 1 when none did.\n";

void Usage() { std::fputs(kUsage, stderr); }

bool Number(const char* text, int* value) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 0 || n > 2147483647L) return false;
  *value = static_cast<int>(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (qel::AnswerHelpOrVersion(argc, argv, "qel-center-standin", kUsage, &status)) return status;
  standin::ServerOptions server;
  standin::ProbeOptions probe;
  bool probing = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char** out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    const char* v = nullptr;
    int n = 0;
    bool ok = true;
    if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else if (arg == "--silent") {
      server.silent = true;
    } else if (arg == "--malformed") {
      server.malformed = true;
    } else if (arg == "--trace") {
      probe.trace = true;
    } else if (arg == "--probe") {
      ok = value(&v);
      if (ok) probe.target = v, probing = true;
    } else if (arg == "--local") {
      ok = value(&v);
      if (ok) probe.local = v;
    } else if (arg == "--address") {
      ok = value(&v);
      if (ok) server.address = v;
    } else if (arg == "--reply-address") {
      ok = value(&v);
      if (ok) server.replyAddress = v;
    } else if (arg == "--count-file") {
      ok = value(&v);
      if (ok) server.countFile = v;
    } else if (arg == "--ready-file") {
      ok = value(&v);
      if (ok) server.readyFile = v;
    } else if (arg == "--exit-after") {
      ok = value(&v);
      if (ok) {
        char* end = nullptr;
        server.exitAfterSeconds = std::strtod(v, &end);
        ok = end != v && *end == '\0' && server.exitAfterSeconds >= 0;
      }
    } else if (arg == "--port" || arg == "--answer-port" || arg == "--reply-port" || arg == "--delay" ||
               arg == "--from-port" || arg == "--wait" || arg == "--pause") {
      ok = value(&v) && Number(v, &n);
      bool isPort = arg != "--delay" && arg != "--wait" && arg != "--pause";
      if (ok && isPort && n > 65535) ok = false;
      if (ok) {
        if (arg == "--port") server.ports.push_back(n);
        if (arg == "--answer-port") server.answerPorts.push_back(n);
        if (arg == "--reply-port") server.replyPort = n;
        if (arg == "--delay") server.delayMs = n;
        if (arg == "--from-port") server.fromPort = n;
        if (arg == "--wait") probe.waitMs = n;
        if (arg == "--pause") probe.pauseMs = n;
      }
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "qel-center-standin: bad argument: %s\n", arg.c_str());
      Usage();
      return 2;
    }
  }
  if (probing) return standin::RunProbe(probe);
  if (server.ports.empty()) {
    for (int port = 7273; port <= 7282; ++port) server.ports.push_back(port);
  }
  return standin::RunServer(server);
}
