#!/usr/bin/env bash
# The shipped programs (the i686 QelScript.exe and QelCheck.exe) must load on
# the oldest controllers and clients they serve: Windows 2000, XP and Server
# 2003. Lists every function the two programs import and fails on any that
# those systems lack: the functions below, first shipped with Windows Vista
# or later (or, for a few, with Server 2003 but not XP), the secure "_s"
# functions of the C runtime (msvcrt.dll has them from Vista on), and any
# DLL that only newer systems carry.
#
#   QEL_WIN32_BUILD  the i686 build folder (default build/win32)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QEL_WIN32_BUILD:-$here/build/win32}
objdump=${QEL_OBJDUMP:-i686-w64-mingw32-objdump}

# Function names; matched whole, in any DLL.
newer_functions="
  GetTickCount64 GetSystemTimePreciseAsFileTime QueryUnbiasedInterruptTime
  InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW
  WakeConditionVariable WakeAllConditionVariable
  InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive
  ReleaseSRWLockShared TryAcquireSRWLockExclusive TryAcquireSRWLockShared
  InitOnceInitialize InitOnceExecuteOnce InitOnceBeginInitialize InitOnceComplete
  InitializeCriticalSectionEx InitializeSynchronizationBarrier EnterSynchronizationBarrier
  CreateEventExA CreateEventExW CreateMutexExA CreateMutexExW CreateSemaphoreExA CreateSemaphoreExW
  CreateWaitableTimerExW WaitOnAddress WakeByAddressSingle WakeByAddressAll
  FlsAlloc FlsFree FlsGetValue FlsSetValue
  GetThreadId GetProcessIdOfThread GetCurrentProcessorNumber GetCurrentProcessorNumberEx
  SetThreadErrorMode GetThreadErrorMode GetErrorMode
  QueryThreadCycleTime QueryProcessCycleTime QueryIdleProcessorCycleTime
  GetLogicalProcessorInformationEx GetActiveProcessorCount GetMaximumProcessorCount
  SetThreadGroupAffinity GetThreadGroupAffinity
  CreateThreadpool CloseThreadpool CreateThreadpoolWork SubmitThreadpoolWork CloseThreadpoolWork
  WaitForThreadpoolWorkCallbacks CreateThreadpoolTimer SetThreadpoolTimer CloseThreadpoolTimer
  CreateThreadpoolWait SetThreadpoolWait CloseThreadpoolWait CreateThreadpoolIo TrySubmitThreadpoolCallback
  GetFileInformationByHandleEx SetFileInformationByHandle GetFinalPathNameByHandleA
  GetFinalPathNameByHandleW CreateSymbolicLinkA CreateSymbolicLinkW OpenFileById ReOpenFile
  GetVolumeInformationByHandleW CopyFile2 CreateFile2 CancelIoEx CancelSynchronousIo
  GetQueuedCompletionStatusEx SetFileCompletionNotificationModes
  CreateDirectoryTransactedA CreateDirectoryTransactedW CreateFileTransactedA CreateFileTransactedW
  MoveFileTransactedA MoveFileTransactedW DeleteFileTransactedA DeleteFileTransactedW
  QueryFullProcessImageNameA QueryFullProcessImageNameW GetProductInfo GetNamedPipeClientProcessId
  Wow64GetThreadContext Wow64SetThreadContext SetDefaultDllDirectories AddDllDirectory
  RemoveDllDirectory GetSystemFirmwareTable
  GetLocaleInfoEx LCIDToLocaleName LocaleNameToLCID GetUserDefaultLocaleName
  GetSystemDefaultLocaleName ResolveLocaleName CompareStringEx CompareStringOrdinal LCMapStringEx
  GetDateFormatEx GetTimeFormatEx GetNumberFormatEx GetCurrencyFormatEx GetCalendarInfoEx
  EnumSystemLocalesEx GetStringTypeEx IsValidLocaleName FindNLSStringEx GetUserPreferredUILanguages
  GetThreadPreferredUILanguages SetThreadPreferredUILanguages GetFileMUIPath GetFileMUIInfo
  RegGetValueA RegGetValueW RegDeleteTreeA RegDeleteTreeW RegCopyTreeW RegSetKeyValueA RegSetKeyValueW
  RegDeleteKeyValueA RegDeleteKeyValueW RegLoadMUIStringA RegLoadMUIStringW
  RegDeleteKeyExA RegDeleteKeyExW RegOpenKeyTransactedA RegOpenKeyTransactedW
  EventRegister EventUnregister EventWrite
  ChangeWindowMessageFilter ChangeWindowMessageFilterEx SetProcessDPIAware IsProcessDPIAware
  SetProcessDpiAwarenessContext GetDpiForWindow GetDpiForSystem ShutdownBlockReasonCreate
  ShutdownBlockReasonDestroy AddClipboardFormatListener RemoveClipboardFormatListener
  RegisterPowerSettingNotification UnregisterPowerSettingNotification
  TaskDialog TaskDialogIndirect LoadIconMetric LoadIconWithScaleDown
  SHGetKnownFolderPath SHGetKnownFolderIDList SHCreateItemFromParsingName
  inet_pton inet_ntop InetPtonA InetPtonW InetNtopA InetNtopW WSAPoll WSAConnectByNameA
  WSAConnectByNameW WSASendMsg GetAddrInfoExA GetAddrInfoExW
  if_nametoindex if_indextoname GetIfTable2 GetIfEntry2 GetIpInterfaceTable GetUnicastIpAddressTable
  ConvertInterfaceIndexToLuid ConvertInterfaceLuidToIndex FreeMibTable NotifyIpInterfaceChange
  _get_errno _set_errno _get_invalid_parameter_handler _set_invalid_parameter_handler
  _fseeki64 _ftelli64 _get_output_format _set_output_format _aligned_msize
"
# DLLs that older systems do not have (matched without case; api-ms-win-*
# are the API sets of Windows 7 and later).
newer_dlls="api-ms-win-* ext-ms-win-* ucrtbase.dll vcruntime*.dll bcrypt.dll ncrypt.dll dwmapi.dll
  propsys.dll"

fail=0
check_program() {
  local exe=$1 listing imports count
  [ -f "$exe" ] || { echo "check-legacy-imports: no $exe (build win32 first)" >&2; return 1; }
  listing=$("$objdump" -p "$exe") || { echo "check-legacy-imports: cannot read $exe" >&2; return 1; }
  # The programs that ship are 32-bit; anything else here is the wrong file.
  "$objdump" -f "$exe" | grep -q 'file format pei-i386' || { echo "check-legacy-imports: $exe is not a pei-i386 program" >&2; return 1; }
  # "DLL Name: X" opens a DLL's list; its functions follow as "<vma> <hint> <name>".
  # A blank line ends a DLL's list.
  imports=$(printf '%s\n' "$listing" | awk '
    /^[ \t]*DLL Name:/ { dll = $3; next }
    /^[ \t]*$/ { dll = ""; next }
    dll != "" && /^[ \t]*[0-9a-f]+[ \t]+[0-9]+[ \t]+[^ \t]+[ \t]*$/ { print dll, $3 }
    dll != "" && /^[ \t]*[0-9a-f]+[ \t]+<none>[ \t]+[0-9a-f]+/ { print dll, "#ordinal-" $3 }')
  count=$(printf '%s\n' "$imports" | grep -c . || true)
  # A listing without kernel32 means the parsing failed, not that all is well.
  printf '%s\n' "$imports" | grep -qi '^kernel32\.dll ' || { echo "check-legacy-imports: no kernel32 import found in $exe" >&2; return 1; }
  local bad
  bad=$(printf '%s\n' "$imports" | awk -v names="$newer_functions" -v dlls="$newer_dlls" '
    BEGIN {
      n = split(names, list, /[ \t\n]+/); for (i = 1; i <= n; i++) if (list[i] != "") newer[list[i]] = 1
      m = split(tolower(dlls), dlist, /[ \t\n]+/)
      for (i = 1; i <= m; i++) if (dlist[i] != "") {
        p = dlist[i]; gsub(/\./, "\\.", p); gsub(/\*/, ".*", p); dllre[i] = "^" p "$"
      }
    }
    NF == 2 {
      lower = tolower($1)
      if ($2 in newer) print $1 "!" $2
      if (lower == "msvcrt.dll" && $2 ~ /_s$/) print $1 "!" $2
      for (i in dllre) if (lower ~ dllre[i]) print $1 " (the DLL itself)"
    }' | sort -u)
  if [ -n "$bad" ]; then
    echo "check-legacy-imports: $exe imports what Windows 2000/XP/Server 2003 lack:" >&2
    printf '%s\n' "$bad" | sed 's/^/  /' >&2
    return 1
  fi
  echo "check-legacy-imports: $(basename "$exe"): $count imports, none newer than Server 2003"
}

check_program "$build/wizard/ui/QelScript.exe" || fail=1
check_program "$build/check/QelCheck.exe" || fail=1
exit $fail
