// Helper program of the mutex tests: creates and owns a named mutex through
// the sync port, holds it for a while and ends without releasing it, so the
// test sees the mutex from another process, and then sees it go.
//
//   qel_mutex_holder <mutex folder or -> <name> <milliseconds>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include "platform/win32/win32_ports.h"
#else
#include "platform/host/host_ports.h"
#endif

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: qel_mutex_holder <mutex folder or -> <name> <milliseconds>\n");
    return 2;
  }
#ifdef _WIN32
  qel::ISync* sync = qel::Win32Sync();
  qel::ISystem* system = qel::Win32System();
#else
  qel::HostConfig config;
  if (argv[1][0] != '-') config.mutexDir = argv[1];
  auto syncPort = qel::MakeHostSync(config);
  auto systemPort = qel::MakeHostSystem(config);
  qel::ISync* sync = syncPort.get();
  qel::ISystem* system = systemPort.get();
#endif
  HANDLE mutex = sync->CreateMutexA(TRUE, argv[2]);
  if (mutex == nullptr) {
    fprintf(stderr, "CreateMutexA(%s) failed: %lu\n", argv[2], static_cast<unsigned long>(qel::QelGetLastError()));
    return 1;
  }
  system->Sleep(static_cast<DWORD>(strtoul(argv[3], nullptr, 10)));
  return 0;  // ends owning the mutex: it is abandoned, then gone
}
