// Stand-in "ActiveDS.dll": ADsGetObject and ADsOpenObject handing out one COM
// object per bind that offers IDirectorySearch and IADs over the directory of
// the stand-in "netapi32.dll" (the same domain the account calls change).
// "GC://" and "LDAP://" paths, the rootDSE through IADs::Get.
// Settings: tools/standins/standin_settings.h.
#include <windows.h>
#include <oleauto.h>
#include <iads.h>
#include <adserr.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/standins/standin_domain.h"
#include "tools/standins/standin_settings.h"

namespace {

std::string FailSetting() {
  char buffer[4096];
  DWORD length = GetEnvironmentVariableA("QEL_STANDIN_FAIL", buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

HRESULT Fault(const char* call, const wchar_t* path) {
  return static_cast<HRESULT>(qel::standin::FindFault(FailSetting().c_str(), call, path));
}

// The directory of the stand-in netapi32.dll, loaded once and kept.
qel::IDirectoryPort* Directory() {
  static qel::IDirectoryPort* directory = nullptr;
  if (directory != nullptr) return directory;
  HMODULE netapi = LoadLibraryA("netapi32.dll");
  if (netapi == nullptr) return nullptr;
  auto get = reinterpret_cast<PFN_QelStandinDirectory>(GetProcAddress(netapi, QEL_STANDIN_DIRECTORY_EXPORT));
  if (get == nullptr) {
    std::fprintf(stderr, "ActiveDS stand-in: the netapi32.dll loaded is not the stand-in\n");
    FreeLibrary(netapi);
    return nullptr;
  }
  directory = get();
  return directory;
}

LONG g_objects = 0;

class StandinObject final : public IADs, public IDirectorySearch {
 public:
  StandinObject(const wchar_t* path, qel::IDirectorySearchPort* search) : path_(path), search_(search) {
    InterlockedIncrement(&g_objects);
  }

  // IUnknown
  HRESULT WINAPI QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IADs))
      *object = static_cast<IADs*>(this);
    else if (IsEqualIID(riid, IID_IDirectorySearch) && search_ != nullptr)
      *object = static_cast<IDirectorySearch*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG WINAPI AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG WINAPI Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: not offered by this directory.
  HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // IADs: the object's path and its string attributes.
  HRESULT WINAPI get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Class(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_GUID(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_ADsPath(BSTR* path) override {
    if (path == nullptr) return E_POINTER;
    *path = SysAllocString(path_.c_str());
    return *path != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT WINAPI get_Parent(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Schema(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetInfo() override { return E_NOTIMPL; }
  HRESULT WINAPI SetInfo() override { return E_NOTIMPL; }
  HRESULT WINAPI Get(BSTR name, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    VariantInit(value);
    if (HRESULT code = Fault("Get", path_.c_str())) return code;
    qel::IDirectoryPort* directory = Directory();
    if (directory == nullptr) return E_FAIL;
    std::vector<wchar_t> text(256);
    DWORD length = 0;
    BOOL isString = FALSE;
    HRESULT hr = directory->GetObjectString(path_.c_str(), name, text.data(), static_cast<DWORD>(text.size()),
                                            &length, &isString);
    if (SUCCEEDED(hr) && isString && length >= text.size()) {
      text.resize(length + 1);
      hr = directory->GetObjectString(path_.c_str(), name, text.data(), static_cast<DWORD>(text.size()), &length,
                                      &isString);
    }
    if (FAILED(hr)) return hr;
    // Numbers and booleans are not carried by this directory's reads.
    if (!isString) return E_ADS_CANT_CONVERT_DATATYPE;
    BSTR copy = SysAllocStringLen(text.data(), length);
    if (copy == nullptr) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    value->bstrVal = copy;
    return S_OK;
  }
  HRESULT WINAPI Put(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI GetEx(BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT WINAPI PutEx(LONG, BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI GetInfoEx(VARIANT, LONG) override { return E_NOTIMPL; }

  // IDirectorySearch over the bound search.
  HRESULT WINAPI SetSearchPreference(PADS_SEARCHPREF_INFO preferences, DWORD count) override {
    if (HRESULT code = Fault("SetSearchPreference", path_.c_str())) return code;
    return search_->SetSearchPreference(preferences, count);
  }
  HRESULT WINAPI ExecuteSearch(LPWSTR filter, LPWSTR* attributes, DWORD count, PADS_SEARCH_HANDLE search) override {
    if (HRESULT code = Fault("ExecuteSearch", path_.c_str())) return code;
    return search_->ExecuteSearch(filter, attributes, count, search);
  }
  HRESULT WINAPI AbandonSearch(ADS_SEARCH_HANDLE search) override { return search_->AbandonSearch(search); }
  HRESULT WINAPI GetFirstRow(ADS_SEARCH_HANDLE search) override {
    if (HRESULT code = Fault("GetFirstRow", path_.c_str())) return code;
    return search_->GetFirstRow(search);
  }
  HRESULT WINAPI GetNextRow(ADS_SEARCH_HANDLE search) override {
    if (HRESULT code = Fault("GetNextRow", path_.c_str())) return code;
    return search_->GetNextRow(search);
  }
  HRESULT WINAPI GetPreviousRow(ADS_SEARCH_HANDLE) override { return E_NOTIMPL; }
  HRESULT WINAPI GetNextColumnName(ADS_SEARCH_HANDLE, LPWSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetColumn(ADS_SEARCH_HANDLE search, LPWSTR name, PADS_SEARCH_COLUMN column) override {
    if (HRESULT code = Fault("GetColumn", path_.c_str())) return code;
    return search_->GetColumn(search, name, column);
  }
  HRESULT WINAPI FreeColumn(PADS_SEARCH_COLUMN column) override { return search_->FreeColumn(column); }
  HRESULT WINAPI CloseSearchHandle(ADS_SEARCH_HANDLE search) override {
    return search_->CloseSearchHandle(search);
  }

 private:
  ~StandinObject() {
    if (search_ != nullptr) search_->Release();
    InterlockedDecrement(&g_objects);
  }

  std::wstring path_;
  qel::IDirectorySearchPort* search_;  // null for an object that is only read (the rootDSE)
  LONG references_ = 1;
};

bool IsRootDse(const wchar_t* path) {
  std::wstring text(path);
  size_t slash = text.rfind(L'/');
  std::wstring last = slash == std::wstring::npos ? text : text.substr(slash + 1);
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, last.c_str(), -1, L"rootDSE", -1) == CSTR_EQUAL;
}

}  // namespace

extern "C" {

HRESULT WINAPI StandinADsGetObject(LPCWSTR path, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (path == nullptr) return E_ADS_BAD_PATHNAME;
  if (HRESULT code = Fault("ADsGetObject", path)) return code;
  qel::IDirectoryPort* directory = Directory();
  if (directory == nullptr) return HRESULT_FROM_WIN32(ERROR_DS_SERVER_DOWN);
  qel::IDirectorySearchPort* search = nullptr;
  if (IsRootDse(path)) {
    // The rootDSE is read, never searched: binding it is reading it.
    DWORD length = 0;
    BOOL isString = FALSE;
    HRESULT hr = directory->GetObjectString(path, L"defaultNamingContext", nullptr, 0, &length, &isString);
    if (FAILED(hr)) return hr;
  } else {
    HRESULT hr = directory->BindSearch(path, &search);
    if (FAILED(hr)) return hr;
  }
  StandinObject* bound = new StandinObject(path, search);
  HRESULT hr = bound->QueryInterface(riid, object);
  bound->Release();
  return hr;
}

HRESULT WINAPI StandinADsOpenObject(LPCWSTR path, LPCWSTR, LPCWSTR, DWORD, REFIID riid, void** object) {
  return StandinADsGetObject(path, riid, object);
}

STDAPI StandinDllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

}  // extern "C"
