// Network-management structures, constants and entry-point shapes.
//
// On Windows these come from the SDK (lm.h, dsgetdc.h). On the host they are
// defined here with the same names, fields and values, so that the logic that
// reads accounts is the same code on both platforms.
#pragma once

#include "platform/win_types.h"

#ifdef _WIN32
#include <lm.h>
#include <dsgetdc.h>
#else

typedef DWORD NET_API_STATUS;
typedef DWORD* PDWORD_PTR;
typedef DWORD_PTR* PDWORD_PTR_T;

#define NET_API_FUNCTION
#define NERR_Success 0u
#define NERR_BASE 2100u
#define NERR_InvalidComputer 2351u
#define NERR_GroupNotFound 2220u
#define NERR_UserNotFound 2221u
#define NERR_DCNotFound 2453u
#define NERR_ACFNotFound 2219u
#define NERR_BufTooSmall 2123u
#define MAX_PREFERRED_LENGTH ((DWORD)-1)

#define UF_SCRIPT 0x0001u
#define UF_ACCOUNTDISABLE 0x0002u
#define UF_HOMEDIR_REQUIRED 0x0008u
#define UF_LOCKOUT 0x0010u
#define UF_PASSWD_NOTREQD 0x0020u
#define UF_PASSWD_CANT_CHANGE 0x0040u
#define UF_ENCRYPTED_TEXT_PASSWORD_ALLOWED 0x0080u
#define UF_TEMP_DUPLICATE_ACCOUNT 0x0100u
#define UF_NORMAL_ACCOUNT 0x0200u
#define UF_INTERDOMAIN_TRUST_ACCOUNT 0x0800u
#define UF_WORKSTATION_TRUST_ACCOUNT 0x1000u
#define UF_SERVER_TRUST_ACCOUNT 0x2000u
#define UF_DONT_EXPIRE_PASSWD 0x10000u

#define USER_PRIV_GUEST 0u
#define USER_PRIV_USER 1u
#define USER_PRIV_ADMIN 2u

typedef struct _USER_INFO_3 {
  LPWSTR usri3_name;
  LPWSTR usri3_password;
  DWORD usri3_password_age;
  DWORD usri3_priv;
  LPWSTR usri3_home_dir;
  LPWSTR usri3_comment;
  DWORD usri3_flags;
  LPWSTR usri3_script_path;
  DWORD usri3_auth_flags;
  LPWSTR usri3_full_name;
  LPWSTR usri3_usr_comment;
  LPWSTR usri3_parms;
  LPWSTR usri3_workstations;
  DWORD usri3_last_logon;
  DWORD usri3_last_logoff;
  DWORD usri3_acct_expires;
  DWORD usri3_max_storage;
  DWORD usri3_units_per_week;
  LPBYTE usri3_logon_hours;
  DWORD usri3_bad_pw_count;
  DWORD usri3_num_logons;
  LPWSTR usri3_logon_server;
  DWORD usri3_country_code;
  DWORD usri3_code_page;
  DWORD usri3_user_id;
  DWORD usri3_primary_group_id;
  LPWSTR usri3_profile;
  LPWSTR usri3_home_dir_drive;
  DWORD usri3_password_expired;
} USER_INFO_3, *PUSER_INFO_3, *LPUSER_INFO_3;

typedef struct _NET_DISPLAY_USER {
  LPWSTR usri1_name;
  LPWSTR usri1_comment;
  DWORD usri1_flags;
  LPWSTR usri1_full_name;
  DWORD usri1_user_id;
  DWORD usri1_next_index;
} NET_DISPLAY_USER, *PNET_DISPLAY_USER;

typedef struct _GROUP_USERS_INFO_0 {
  LPWSTR grui0_name;
} GROUP_USERS_INFO_0;

typedef struct _GROUP_USERS_INFO_1 {
  LPWSTR grui1_name;
  DWORD grui1_attributes;
} GROUP_USERS_INFO_1;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;

typedef struct _DOMAIN_CONTROLLER_INFOA {
  LPSTR DomainControllerName;
  LPSTR DomainControllerAddress;
  ULONG DomainControllerAddressType;
  GUID DomainGuid;
  LPSTR DomainName;
  LPSTR DnsForestName;
  ULONG Flags;
  LPSTR DcSiteName;
  LPSTR ClientSiteName;
} DOMAIN_CONTROLLER_INFOA, *PDOMAIN_CONTROLLER_INFOA;

#define DS_WRITABLE_REQUIRED 0x00001000u
#define DS_IP_REQUIRED 0x00000200u
#define DS_RETURN_FLAT_NAME 0x80000000u
#define DS_RETURN_DNS_NAME 0x40000000u
#define DS_INET_ADDRESS 1u
#define DS_PDC_FLAG 0x00000001u
#define DS_GC_FLAG 0x00000004u
#define DS_DS_FLAG 0x00000010u
#define DS_KDC_FLAG 0x00000020u
#define DS_WRITABLE_FLAG 0x00000100u
#define DS_DNS_CONTROLLER_FLAG 0x20000000u

// Single-field levels of NetUserSetInfo and the parameter numbers that
// parm_err reports for a refused field.
typedef struct _USER_INFO_1008 {
  DWORD usri1008_flags;
} USER_INFO_1008, *PUSER_INFO_1008, *LPUSER_INFO_1008;

typedef struct _USER_INFO_1009 {
  LPWSTR usri1009_script_path;
} USER_INFO_1009, *PUSER_INFO_1009, *LPUSER_INFO_1009;

#define PARM_ERROR_UNKNOWN ((DWORD)-1)
#define PARM_ERROR_NONE 0u
#define USER_NAME_PARMNUM 1u
#define USER_HOME_DIR_PARMNUM 6u
#define USER_COMMENT_PARMNUM 7u
#define USER_FLAGS_PARMNUM 8u
#define USER_SCRIPT_PATH_PARMNUM 9u
#define USER_FULL_NAME_PARMNUM 11u
#define USER_WORKSTATIONS_PARMNUM 14u
#define USER_PROFILE_PARMNUM 52u
#define USER_HOME_DIR_DRIVE_PARMNUM 53u
#define TIMEQ_FOREVER ((DWORD)-1)
#define USER_MAXSTORAGE_UNLIMITED ((DWORD)-1)
#define NERR_UserExists 2224u
#define DOMAIN_GROUP_RID_USERS 0x201u
#define DOMAIN_GROUP_RID_COMPUTERS 0x203u
#define DOMAIN_GROUP_RID_CONTROLLERS 0x204u
#define SE_GROUP_MANDATORY 0x00000001u
#define SE_GROUP_ENABLED_BY_DEFAULT 0x00000002u
#define SE_GROUP_ENABLED 0x00000004u

#endif  // _WIN32

// Shapes of the entry points that are resolved by name from "netapi32.dll".
typedef NET_API_STATUS(WINAPI* PFN_NetGroupGetUsers)(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                                     LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                                                     LPDWORD totalentries, DWORD_PTR* ResumeHandle);
typedef NET_API_STATUS(WINAPI* PFN_NetApiBufferFree)(LPVOID Buffer);
typedef NET_API_STATUS(WINAPI* PFN_NetUserGetInfo)(LPCWSTR servername, LPCWSTR username, DWORD level,
                                                   LPBYTE* bufptr);
typedef NET_API_STATUS(WINAPI* PFN_NetUserSetInfo)(LPCWSTR servername, LPCWSTR username, DWORD level,
                                                   LPBYTE buf, LPDWORD parm_err);
typedef NET_API_STATUS(WINAPI* PFN_NetQueryDisplayInformation)(LPCWSTR ServerName, DWORD Level, DWORD Index,
                                                               DWORD EntriesRequested,
                                                               DWORD PreferredMaximumLength,
                                                               LPDWORD ReturnedEntryCount,
                                                               PVOID* SortedBuffer);
typedef DWORD(WINAPI* PFN_DsGetDcNameA)(LPCSTR ComputerName, LPCSTR DomainName, GUID* DomainGuid,
                                        LPCSTR SiteName, ULONG Flags,
                                        PDOMAIN_CONTROLLER_INFOA* DomainControllerInfo);
typedef NET_API_STATUS(WINAPI* PFN_NetGetDCName)(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr);
