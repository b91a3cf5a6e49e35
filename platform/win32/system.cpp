// The machine's identity, time and program start: forwards to Win32.
#include "platform/win32/win32_ports.h"

namespace qel {
namespace {

class Win32SystemPort : public ISystem {
 public:
  DWORD GetVersion() override {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersion();
#pragma GCC diagnostic pop
  }
  BOOL GetComputerNameA(char* buffer, DWORD* size) override { return ::GetComputerNameA(buffer, size); }
  UINT GetWindowsDirectoryA(char* buffer, UINT size) override { return ::GetWindowsDirectoryA(buffer, size); }
  DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) override {
    return ::GetModuleFileNameA(module, buffer, size);
  }
  DWORD GetCurrentProcessId() override { return ::GetCurrentProcessId(); }
  void GetLocalTime(SYSTEMTIME* time) override { ::GetLocalTime(time); }
  DWORD GetTickCount() override { return ::GetTickCount(); }
  void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
  UINT WinExec(const char* commandLine, UINT show) override { return ::WinExec(commandLine, show); }
};

// At namespace scope and constant-initialised: a function-local static
// would need a thread-safe guard, which pulls much of the C++ runtime into
// the small checker program.
Win32SystemPort g_port;

}  // namespace

ISystem* Win32System() { return &g_port; }

}  // namespace qel
