// The Win32 set of ports, installed by the programs at start-up.
#include "platform/win32/win32_ports.h"

namespace qel {

void InstallWin32Ports() {
  PlatformPorts& ports = Ports();
  ports.registry = Win32Registry();
  ports.files = Win32FileSystem();
  ports.system = Win32System();
  ports.codePage = Win32CodePage();
  ports.sync = Win32Sync();
  ports.loader = Win32LibraryLoader();
}

}  // namespace qel
