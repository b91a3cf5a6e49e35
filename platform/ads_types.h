// Directory-search structures and constants.
//
// On Windows these are the ADSI ones (iads.h, adserr.h). On the host the few
// that the core uses are defined here with the same names and values.
#pragma once

#include "platform/win_types.h"

#ifdef _WIN32
#include <objbase.h>
#include <iads.h>
#include <adserr.h>
#include <adshlp.h>
#else

typedef enum {
  ADSTYPE_INVALID = 0,
  ADSTYPE_DN_STRING = 1,
  ADSTYPE_CASE_EXACT_STRING = 2,
  ADSTYPE_CASE_IGNORE_STRING = 3,
  ADSTYPE_PRINTABLE_STRING = 4,
  ADSTYPE_NUMERIC_STRING = 5,
  ADSTYPE_BOOLEAN = 6,
  ADSTYPE_INTEGER = 7,
  ADSTYPE_OCTET_STRING = 8,
  ADSTYPE_UTC_TIME = 9,
  ADSTYPE_LARGE_INTEGER = 10,
  ADSTYPE_PROV_SPECIFIC = 11,
  ADSTYPE_OBJECT_CLASS = 12
} ADSTYPE;

typedef enum {
  ADS_SEARCHPREF_ASYNCHRONOUS = 0,
  ADS_SEARCHPREF_DEREF_ALIASES = 1,
  ADS_SEARCHPREF_SIZE_LIMIT = 2,
  ADS_SEARCHPREF_TIME_LIMIT = 3,
  ADS_SEARCHPREF_ATTRIBTYPES_ONLY = 4,
  ADS_SEARCHPREF_SEARCH_SCOPE = 5,
  ADS_SEARCHPREF_TIMEOUT = 6,
  ADS_SEARCHPREF_PAGESIZE = 7,
  ADS_SEARCHPREF_PAGED_TIME_LIMIT = 8,
  ADS_SEARCHPREF_CHASE_REFERRALS = 9,
  ADS_SEARCHPREF_SORT_ON = 10,
  ADS_SEARCHPREF_CACHE_RESULTS = 11
} ADS_SEARCHPREF;

typedef enum { ADS_SCOPE_BASE = 0, ADS_SCOPE_ONELEVEL = 1, ADS_SCOPE_SUBTREE = 2 } ADS_SCOPEENUM;

typedef enum {
  ADS_STATUS_S_OK = 0,
  ADS_STATUS_INVALID_SEARCHPREF = 1,
  ADS_STATUS_INVALID_SEARCHPREFVALUE = 2
} ADS_STATUS;

typedef struct _adsvalue {
  ADSTYPE dwType;
  union {
    LPWSTR DNString;
    LPWSTR CaseExactString;
    LPWSTR CaseIgnoreString;
    LPWSTR PrintableString;
    LPWSTR NumericString;
    DWORD Boolean;
    DWORD Integer;
    LONGLONG LargeInteger;
  };
} ADSVALUE, *PADSVALUE;

typedef struct ads_searchpref_info {
  ADS_SEARCHPREF dwSearchPref;
  ADSVALUE vValue;
  ADS_STATUS dwStatus;
} ADS_SEARCHPREF_INFO, *PADS_SEARCHPREF_INFO;

typedef HANDLE ADS_SEARCH_HANDLE;
typedef HANDLE* PADS_SEARCH_HANDLE;

typedef struct ads_search_column {
  LPWSTR pszAttrName;
  ADSTYPE dwADsType;
  PADSVALUE pADsValues;
  DWORD dwNumValues;
  HANDLE hReserved;
} ADS_SEARCH_COLUMN, *PADS_SEARCH_COLUMN;

#define S_ADS_NOMORE_ROWS ((HRESULT)0x00005012L)
#define S_ADS_NOMORE_COLUMNS ((HRESULT)0x00005013L)
#define E_ADS_BAD_PATHNAME ((HRESULT)0x80005000L)
#define E_ADS_INVALID_DOMAIN_OBJECT ((HRESULT)0x80005001L)
#define E_ADS_PROPERTY_NOT_FOUND ((HRESULT)0x8000500DL)
#define E_ADS_COLUMN_NOT_SET ((HRESULT)0x80005011L)
#define E_ADS_INVALID_FILTER ((HRESULT)0x80005014L)
#define E_ADS_BAD_PARAMETER ((HRESULT)0x80005008L)

#endif  // _WIN32
