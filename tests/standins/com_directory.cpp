#include "tests/standins/com_directory.h"

#include <windows.h>
#include <oleauto.h>
#include <iads.h>
#include <adserr.h>

namespace qel {
namespace standin_test {

namespace {

typedef HRESULT(WINAPI* PFN_ADsGetObject)(LPCWSTR path, REFIID riid, void** object);

class ComSearch : public IDirectorySearchPort {
 public:
  explicit ComSearch(IDirectorySearch* search) : search_(search) {}
  HRESULT SetSearchPreference(ADS_SEARCHPREF_INFO* preferences, DWORD count) override {
    return search_->SetSearchPreference(preferences, count);
  }
  HRESULT ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                        ADS_SEARCH_HANDLE* search) override {
    return search_->ExecuteSearch(const_cast<LPWSTR>(filter), const_cast<LPWSTR*>(attributes), count, search);
  }
  HRESULT AbandonSearch(ADS_SEARCH_HANDLE search) override { return search_->AbandonSearch(search); }
  HRESULT GetFirstRow(ADS_SEARCH_HANDLE search) override { return search_->GetFirstRow(search); }
  HRESULT GetNextRow(ADS_SEARCH_HANDLE search) override { return search_->GetNextRow(search); }
  HRESULT GetColumn(ADS_SEARCH_HANDLE search, const wchar_t* name, ADS_SEARCH_COLUMN* column) override {
    return search_->GetColumn(search, const_cast<LPWSTR>(name), column);
  }
  HRESULT FreeColumn(ADS_SEARCH_COLUMN* column) override { return search_->FreeColumn(column); }
  HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE search) override { return search_->CloseSearchHandle(search); }
  ULONG Release() override {
    ULONG left = search_->Release();
    delete this;
    return left;
  }

 private:
  ~ComSearch() override = default;
  IDirectorySearch* search_;
};

class ComDirectoryPort : public IDirectoryPort {
 public:
  DWORD LoadProvider() override {
    module_ = LoadLibraryA("ActiveDS.dll");
    if (module_ == nullptr) return GetLastError();
    get_ = reinterpret_cast<PFN_ADsGetObject>(GetProcAddress(module_, "ADsGetObject"));
    if (get_ == nullptr) {
      DWORD error = GetLastError();
      FreeProvider();
      return error;
    }
    return 0;
  }
  void FreeProvider() override {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
    get_ = nullptr;
  }
  HRESULT CoInitialize() override { return ::CoInitialize(nullptr); }
  void CoUninitialize() override { ::CoUninitialize(); }
  HRESULT BindSearch(const wchar_t* adsPath, IDirectorySearchPort** search) override {
    *search = nullptr;
    if (get_ == nullptr) return E_FAIL;
    IDirectorySearch* bound = nullptr;
    HRESULT hr = get_(adsPath, IID_IDirectorySearch, reinterpret_cast<void**>(&bound));
    if (FAILED(hr)) return hr;
    *search = new ComSearch(bound);
    return S_OK;
  }
  HRESULT GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value, DWORD capacity,
                          DWORD* length, BOOL* isString) override {
    if (length != nullptr) *length = 0;
    if (isString != nullptr) *isString = FALSE;
    if (get_ == nullptr) return E_FAIL;
    IADs* object = nullptr;
    HRESULT hr = get_(adsPath, IID_IADs, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) return hr;
    VARIANT v;
    VariantInit(&v);
    BSTR name = SysAllocString(attribute);
    hr = object->Get(name, &v);
    SysFreeString(name);
    if (SUCCEEDED(hr) && v.vt == VT_BSTR) {
      DWORD size = SysStringLen(v.bstrVal);
      if (isString != nullptr) *isString = TRUE;
      if (length != nullptr) *length = size;
      if (value != nullptr && capacity > size) {
        for (DWORD i = 0; i < size; ++i) value[i] = v.bstrVal[i];
        value[size] = L'\0';
      }
    }
    VariantClear(&v);
    object->Release();
    return hr;
  }

 private:
  HMODULE module_ = nullptr;
  PFN_ADsGetObject get_ = nullptr;
};

ComDirectoryPort g_port;

}  // namespace

IDirectoryPort* ComDirectory() { return &g_port; }

}  // namespace standin_test
}  // namespace qel
