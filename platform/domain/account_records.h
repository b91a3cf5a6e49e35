// The records the network-management calls hand out, built the same way
// whatever keeps the accounts (the embedded store, a directory server), so
// that every back-end answers the core alike: one malloc block per answer,
// records first and their strings after them, freed by NetApiBufferFree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/netapi_types.h"

namespace qel {

// One account as the calls describe it; each text is the first value of the
// directory attribute named beside it.
struct AccountRecord {
  std::wstring name;          // sAMAccountName
  std::wstring homeDir;       // homeDirectory
  std::wstring comment;       // description
  std::wstring scriptPath;    // scriptPath
  std::wstring displayName;   // displayName
  std::wstring cn;            // cn: the full name when there is no displayName
  std::wstring workstations;  // userWorkstations
  std::wstring profile;       // profilePath
  std::wstring homeDrive;     // homeDrive
  DWORD flags = UF_NORMAL_ACCOUNT;  // userAccountControl as stored
  DWORD rid = 0;
  DWORD primaryGroup = 0;  // primaryGroupID; 0 when the directory gives none
  // Windows reports every account as running its logon script (UF_SCRIPT)
  // whatever the directory keeps, and a write never stores that bit: a
  // directory server drops it. False: the flags as stored, both ways.
  bool scriptFlagAlways = true;

  // The flags as the calls report them.
  DWORD ReportedFlags() const { return scriptFlagAlways ? flags | UF_SCRIPT : flags; }

  const std::wstring& FullName() const { return displayName.empty() ? cn : displayName; }
  // The primary group's RID: the directory's, else the default of the
  // account's kind (computers 515, controllers 516, users 513).
  DWORD PrimaryGroup() const;
};

// One attribute a write changes; an empty value removes the attribute.
struct AccountChange {
  const wchar_t* attribute;  // "scriptPath", "userAccountControl" ...
  std::wstring value;
};

// Account-type bits of the flags; exactly one must be set.
constexpr DWORD kAccountTypeMask = UF_TEMP_DUPLICATE_ACCOUNT | UF_NORMAL_ACCOUNT | UF_INTERDOMAIN_TRUST_ACCOUNT |
                                   UF_WORKSTATION_TRUST_ACCOUNT | UF_SERVER_TRUST_ACCOUNT;
// At most this many entries per NetQueryDisplayInformation call, as Windows.
constexpr DWORD kMaxDisplayEntries = 100;

// NetUserGetInfo level 3 of `account`.
NET_API_STATUS MakeUserInfo3(const AccountRecord& account, LPBYTE* buffer);

// What NetUserSetInfo (levels 3, 1008, 1009) asks to change in `current`:
// only the fields whose new value differs, a null string leaving its field
// as it is; the flags compared as reported, and UF_SCRIPT kept as stored
// when the record says the bit is not written. Refuses a rename and flags without exactly one account type
// (ERROR_INVALID_PARAMETER, *parameterError naming the field), and other
// levels (ERROR_INVALID_LEVEL).
NET_API_STATUS AccountChangesOf(const AccountRecord& current, DWORD level, const BYTE* buffer,
                                std::vector<AccountChange>* changes, LPDWORD parameterError);

// One NetQueryDisplayInformation level 1 answer over `count` accounts in RID
// order: ridAt(i) is the RID of the i-th, recordAt(i) its record. The index
// is the RID of the last entry already returned (0 at the start); each entry's
// next index is its RID. ERROR_MORE_DATA while accounts are left.
NET_API_STATUS MakeDisplayPage(size_t count, const std::function<DWORD(size_t)>& ridAt,
                               const std::function<AccountRecord(size_t)>& recordAt, DWORD index,
                               DWORD entriesRequested, DWORD preferredMaximumLength, LPDWORD returnedEntryCount,
                               PVOID* sortedBuffer);

// One NetGroupGetUsers answer (levels 0 and 1) over the members' logon
// names, from *resumeHandle on; ERROR_MORE_DATA while members are left.
NET_API_STATUS MakeGroupUsersPage(const std::vector<std::wstring>& members, DWORD level, LPBYTE* buffer,
                                  DWORD preferredMaximumLength, LPDWORD entriesRead, LPDWORD totalEntries,
                                  DWORD_PTR* resumeHandle);

// The locator's answers for a controller `controller` of the domain with
// NetBIOS name `netbios` and DNS name `dns`.
DWORD MakeDcInfo(const std::wstring& controller, const std::wstring& netbios, const std::wstring& dns, ULONG flags,
                 PDOMAIN_CONTROLLER_INFOA* info);
NET_API_STATUS MakeDcName(const std::wstring& controller, LPBYTE* buffer);

}  // namespace qel
