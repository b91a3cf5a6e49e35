// Events, threads and mutexes: forwards to Win32.
#include "platform/win32/win32_ports.h"

namespace qel {
namespace {

class Win32SyncPort : public ISync {
 public:
  HANDLE CreateEventA(BOOL manualReset, BOOL initialState, const char* name) override {
    return ::CreateEventA(nullptr, manualReset, initialState, name);
  }
  BOOL SetEvent(HANDLE event) override { return ::SetEvent(event); }
  BOOL ResetEvent(HANDLE event) override { return ::ResetEvent(event); }
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    return ::WaitForSingleObject(handle, milliseconds);
  }
  DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) override {
    return ::WaitForMultipleObjects(count, handles, waitAll, milliseconds);
  }
  HANDLE CreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId) override {
    return ::CreateThread(nullptr, 0, start, parameter, 0, threadId);
  }
  HANDLE CreateMutexA(BOOL initialOwner, const char* name) override {
    return ::CreateMutexA(nullptr, initialOwner, name);
  }
  HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, const char* name) override {
    return ::OpenMutexA(desiredAccess, inheritHandle, name);
  }
  BOOL ReleaseMutex(HANDLE mutex) override { return ::ReleaseMutex(mutex); }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
};

// At namespace scope and constant-initialised: a function-local static
// would need a thread-safe guard, which pulls much of the C++ runtime into
// the small checker program.
Win32SyncPort g_port;

}  // namespace

ISync* Win32Sync() { return &g_port; }

}  // namespace qel
