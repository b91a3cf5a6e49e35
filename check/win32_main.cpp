// QelCheck.exe: a program without windows. The start-up code hands WinMain
// the command line without the program's own name and the blanks behind it.
#include "check/qelcheck.h"
#include "platform/win32/win32_ports.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  // Only the ports the checker uses.
  qel::PlatformPorts& ports = qel::Ports();
  ports.registry = qel::Win32Registry();
  ports.files = qel::Win32FileSystem();
  ports.system = qel::Win32System();
  ports.codePage = qel::Win32CodePage();
  ports.sync = qel::Win32Sync();
  return qel::QelCheckMain(commandLine);
}
