#include "platform/domain/ads_columns.h"

#include <cstdlib>
#include <cstring>

#include "platform/domain/domain_text.h"

namespace qel {

// The ADSI type of an attribute's values.
ADSTYPE AdsSyntaxOf(const std::wstring& name) {
  static const wchar_t* const kDn[] = {L"distinguishedName", L"objectCategory", L"member", L"memberOf",
                                       L"manager", L"managedBy"};
  static const wchar_t* const kInteger[] = {L"userAccountControl", L"primaryGroupID", L"sAMAccountType",
                                            L"instanceType", L"systemFlags", L"groupType"};
  for (const wchar_t* n : kDn)
    if (EqualNoCase(name.c_str(), n)) return ADSTYPE_DN_STRING;
  for (const wchar_t* n : kInteger)
    if (EqualNoCase(name.c_str(), n)) return ADSTYPE_INTEGER;
  if (EqualNoCase(name.c_str(), L"isDeleted") || EqualNoCase(name.c_str(), L"isCriticalSystemObject"))
    return ADSTYPE_BOOLEAN;
  return ADSTYPE_CASE_IGNORE_STRING;
}

// Attributes that Windows does not replicate to the global catalog.
bool OutsideGlobalCatalog(const std::wstring& name) {
  static const wchar_t* const kNames[] = {L"scriptPath", L"profilePath", L"homeDirectory", L"homeDrive",
                                          L"userWorkstations"};
  for (const wchar_t* n : kNames)
    if (EqualNoCase(name.c_str(), n)) return true;
  return false;
}

// A column: the ADSVALUE array and every string in one block (hReserved).
bool FillAdsColumn(const std::wstring& name, ADSTYPE type, const std::vector<std::wstring>& values,
                ADS_SEARCH_COLUMN* column) {
  size_t bytes = sizeof(ADSVALUE) * values.size() + (name.size() + 1) * sizeof(wchar_t);
  for (const std::wstring& v : values) bytes += (v.size() + 1) * sizeof(wchar_t);
  BYTE* block = static_cast<BYTE*>(std::calloc(1, bytes));
  if (!block) return false;
  ADSVALUE* array = reinterpret_cast<ADSVALUE*>(block);
  wchar_t* next = reinterpret_cast<wchar_t*>(block + sizeof(ADSVALUE) * values.size());
  auto copy = [&](const std::wstring& text) {
    wchar_t* out = next;
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    next += text.size() + 1;
    return out;
  };
  for (size_t i = 0; i < values.size(); ++i) {
    array[i].dwType = type;
    if (type == ADSTYPE_INTEGER) {
      unsigned long v = 0;
      ParseUInt32(WideToUtf8(values[i]), &v);
      array[i].Integer = static_cast<DWORD>(v);
    } else if (type == ADSTYPE_BOOLEAN) {
      array[i].Boolean = EqualNoCase(values[i].c_str(), L"TRUE") ? 1 : 0;
    } else {
      // Every string member of the union is the same pointer.
      array[i].CaseIgnoreString = copy(values[i]);
    }
  }
  column->pszAttrName = copy(name);
  column->dwADsType = type;
  column->pADsValues = array;
  column->dwNumValues = static_cast<DWORD>(values.size());
  column->hReserved = block;
  return true;
}

HRESULT FreeAdsColumn(ADS_SEARCH_COLUMN* column) {
  if (!column || !column->hReserved) return E_ADS_BAD_PARAMETER;
  std::free(column->hReserved);
  std::memset(column, 0, sizeof(*column));
  return S_OK;
}

HRESULT ApplySearchPreferences(ADS_SEARCHPREF_INFO* preferences, DWORD count, int* scopeOut, DWORD* pageSizeOut,
                               DWORD* sizeLimitOut) {
  if (!preferences && count) return E_POINTER;
  int scope = *scopeOut;
  DWORD pageSize = *pageSizeOut, sizeLimit = *sizeLimitOut;
  bool ok = true;
  for (DWORD i = 0; i < count; ++i) {
    ADS_SEARCHPREF_INFO& p = preferences[i];
    p.dwStatus = ADS_STATUS_S_OK;
    bool integer = p.vValue.dwType == ADSTYPE_INTEGER;
    switch (p.dwSearchPref) {
      case ADS_SEARCHPREF_SEARCH_SCOPE:
        if (!integer || p.vValue.Integer > ADS_SCOPE_SUBTREE)
          p.dwStatus = ADS_STATUS_INVALID_SEARCHPREFVALUE;
        else
          scope = static_cast<int>(p.vValue.Integer);
        break;
      case ADS_SEARCHPREF_PAGESIZE:
        if (!integer)
          p.dwStatus = ADS_STATUS_INVALID_SEARCHPREFVALUE;
        else
          pageSize = p.vValue.Integer;
        break;
      case ADS_SEARCHPREF_SIZE_LIMIT:
        if (!integer)
          p.dwStatus = ADS_STATUS_INVALID_SEARCHPREFVALUE;
        else
          sizeLimit = p.vValue.Integer;
        break;
      case ADS_SEARCHPREF_PAGED_TIME_LIMIT:
      case ADS_SEARCHPREF_TIME_LIMIT:
      case ADS_SEARCHPREF_TIMEOUT:
        if (!integer) p.dwStatus = ADS_STATUS_INVALID_SEARCHPREFVALUE;
        break;
      case ADS_SEARCHPREF_ASYNCHRONOUS:
      case ADS_SEARCHPREF_CACHE_RESULTS:
      case ADS_SEARCHPREF_CHASE_REFERRALS:
      case ADS_SEARCHPREF_DEREF_ALIASES:
        if (!integer && p.vValue.dwType != ADSTYPE_BOOLEAN) p.dwStatus = ADS_STATUS_INVALID_SEARCHPREFVALUE;
        break;
      default:
        p.dwStatus = ADS_STATUS_INVALID_SEARCHPREF;
        break;
    }
    if (p.dwStatus != ADS_STATUS_S_OK) ok = false;
  }
  if (!ok) return E_ADS_BAD_PARAMETER;
  *scopeOut = scope;
  *pageSizeOut = pageSize;
  *sizeLimitOut = sizeLimit;
  return S_OK;
}

}  // namespace qel
