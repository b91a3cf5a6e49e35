// What the stand-in "netapi32.dll" shares with the stand-in "ActiveDS.dll":
// one domain per process, served to both. ActiveDS.dll finds the directory
// through the private export below, so accounts written through the
// network-management calls and the directory it searches are the same data.
#pragma once

#include "platform/ports.h"

// Private export of the stand-in netapi32.dll (not a Windows entry point):
// the directory over the process's domain, never released. Its calls fail
// with ERROR_NO_SUCH_DOMAIN as an HRESULT when no domain can be loaded.
typedef qel::IDirectoryPort*(WINAPI* PFN_QelStandinDirectory)();
#define QEL_STANDIN_DIRECTORY_EXPORT "QelStandinDirectory"
