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

}  // namespace

ISystem* Win32System() {
  static Win32SystemPort port;
  return &port;
}

}  // namespace qel
