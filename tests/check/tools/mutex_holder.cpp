// check_mutex_holder: holds a named mutex for the checker's tests, the way a
// running installer holds "Orvane Setup".
//
//   check_mutex_holder NAME READY_FILE STOP_FILE [--deny] [--mutex-dir DIR] [--seconds N]
//
// Creates NAME owned, writes READY_FILE, and keeps the mutex until STOP_FILE
// appears (or N seconds, default 60, have passed). --deny (Windows) gives the
// mutex a security descriptor that grants nobody anything, so other
// processes get ERROR_ACCESS_DENIED from OpenMutexA, as for another user's
// mutex. --mutex-dir (host) is the lock-file folder the checker uses too.
// Exit code 0 when the mutex was held, 1 when it could not be created.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/ports.h"
#ifdef _WIN32
#include "platform/win32/win32_ports.h"
#else
#include "platform/host/host_ports.h"
#endif

namespace {

bool Exists(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  fclose(f);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: check_mutex_holder NAME READY_FILE STOP_FILE [--deny] [--mutex-dir DIR] [--seconds N]\n");
    return 2;
  }
  const char* name = argv[1];
  const char* readyFile = argv[2];
  const char* stopFile = argv[3];
  bool deny = false;
  const char* mutexDir = nullptr;
  int seconds = 60;
  for (int i = 4; i < argc; ++i) {
    if (strcmp(argv[i], "--deny") == 0) {
      deny = true;
    } else if (strcmp(argv[i], "--mutex-dir") == 0 && i + 1 < argc) {
      mutexDir = argv[++i];
    } else if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = atoi(argv[++i]);
    } else {
      fprintf(stderr, "check_mutex_holder: unknown argument %s\n", argv[i]);
      return 2;
    }
  }

  HANDLE mutex = nullptr;
#ifdef _WIN32
  (void)mutexDir;
  qel::ISync& sync = *qel::Win32Sync();
  qel::ISystem& system = *qel::Win32System();
  if (deny) {
    // An empty access list: the mutex exists, and nobody may open it.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ACL acl;
    InitializeAcl(&acl, sizeof(acl), ACL_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
    mutex = ::CreateMutexA(&attributes, TRUE, name);
  } else {
    mutex = sync.CreateMutexA(TRUE, name);
  }
#else
  qel::HostConfig config;
  if (mutexDir != nullptr) config.mutexDir = mutexDir;
  auto syncPort = qel::MakeHostSync(config);
  auto systemPort = qel::MakeHostSystem(config);
  qel::ISync& sync = *syncPort;
  qel::ISystem& system = *systemPort;
  if (deny) {
    fprintf(stderr, "check_mutex_holder: --deny is for Windows; on the host create the lock's .denied file\n");
    return 2;
  }
  mutex = sync.CreateMutexA(TRUE, name);
#endif
  if (mutex == nullptr) {
    fprintf(stderr, "check_mutex_holder: CreateMutexA(%s) failed: %u\n", name, (unsigned)qel::QelGetLastError());
    return 1;
  }
  FILE* ready = fopen(readyFile, "wb");
  if (ready != nullptr) {
    fputs("ready\n", ready);
    fclose(ready);
  }
  for (int waited = 0; waited < seconds * 20 && !Exists(stopFile); ++waited) system.Sleep(50);
  sync.ReleaseMutex(mutex);
  sync.CloseHandle(mutex);
  return 0;
}
