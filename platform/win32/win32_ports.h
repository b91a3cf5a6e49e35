// The Win32 platform: every port forwards to the real API.
#pragma once

#include "platform/ports.h"

namespace qel {

// Single adapters; each returns one process-wide object (never freed).
IRegistry* Win32Registry();
IFileSystem* Win32FileSystem();
ISystem* Win32System();
ICodePage* Win32CodePage();
ISync* Win32Sync();
ILibraryLoader* Win32LibraryLoader();

// Installs all of the above in Ports().
void InstallWin32Ports();

}  // namespace qel
