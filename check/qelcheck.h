// QelCheck: the logon-time install checker.
//
// Started by QelInstall.bat from the NETLOGON share with the share path of
// QelSetup.exe as its only argument. It starts that installer unless the
// product is installed, pending after a restart, or being installed, and
// first copies SetupSet.ini from the share and records the system center
// address in the registry. Everything goes through the ports, so the same
// code runs as QelCheck.exe on Windows and as qelcheck on the host.
//
// No standard-library types here: the Windows program links only this, the
// Win32 adapters and the C runtime.
#pragma once

#include "platform/ports.h"

namespace qel {

// Every path, the command line and the registry read buffer are 260 bytes.
constexpr DWORD kCheckBufferSize = 260;
// A log message is cut to 2047 characters.
constexpr DWORD kCheckMessageSize = 2048;
// A log larger than this (strictly) is deleted before the next line.
constexpr DWORD kCheckLogLimit = 1048576;
// The system center address: at most 19 characters.
constexpr DWORD kCheckCenterIpSize = 20;

extern const char kCheckRunOnceKey[];   // "Software\Microsoft\Windows\CurrentVersion\RunOnce"
extern const char kCheckProductKey[];   // "Software\Orvane\Qel"
extern const char kCheckSetupMutex[];   // "Orvane Setup", held by the installer while it runs

// True when the named mutex exists, also when it exists but belongs to
// another user (access denied). On major version 5 the name is looked up in
// the global namespace ("Global\" + name). A null name gives false.
BOOL IsSetupRunning(const char* name);

// Writes `text` as REG_SZ value `valueName` of root\keyPath, creating the key
// when it does not open. False for a null argument or any failure.
BOOL REGWriteString(HKEY root, const char* keyPath, const char* valueName, const char* text);

// Appends one line to QelCheck.log in the temporary folder: the head with
// process id and local time, then the printf-formatted message.
void CheckLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The whole run for one command line (the text after the program's name).
// Returns the exit code, which is 0 on every path.
int QelCheckMain(const char* commandLine);

}  // namespace qel
