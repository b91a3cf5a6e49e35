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
// "ActiveDS.dll" and COM (platform/win32/directory.cpp); not part of
// InstallWin32Ports, so that programs without a directory import no COM.
IDirectoryPort* Win32Directory();

// Installs all of the above in Ports().
void InstallWin32Ports();

}  // namespace qel
