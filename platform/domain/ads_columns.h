// Search columns as ADSI hands them out: the ADSI type of each attribute the
// core reads, the attributes outside the global catalog, and one block per
// column holding its values and strings.
#pragma once

#include <string>
#include <vector>

#include "platform/ads_types.h"

namespace qel {

// The ADSI type of an attribute's values.
ADSTYPE AdsSyntaxOf(const std::wstring& name);

// Attributes that Windows does not replicate to the global catalog.
bool OutsideGlobalCatalog(const std::wstring& name);

// Fills `column` with `values` of attribute `name` as `type`; the block is
// released by FreeAdsColumn. False when memory runs out.
bool FillAdsColumn(const std::wstring& name, ADSTYPE type, const std::vector<std::wstring>& values,
                   ADS_SEARCH_COLUMN* column);
HRESULT FreeAdsColumn(ADS_SEARCH_COLUMN* column);

// IDirectorySearch::SetSearchPreference as the directories here take it:
// scope, page size and size limit are kept, time limits and the like are
// accepted, anything else refused. All or nothing: when one preference is
// refused (its dwStatus says why) none is taken and the values stay.
HRESULT ApplySearchPreferences(ADS_SEARCHPREF_INFO* preferences, DWORD count, int* scope, DWORD* pageSize,
                               DWORD* sizeLimit);

}  // namespace qel
