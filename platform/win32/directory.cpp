// The directory provider on Windows: "ActiveDS.dll" loaded by name for each
// operation, ADsGetObject for IDirectorySearch and IADs, COM on the calling
// thread.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "platform/ports.h"
#include "platform/win32/win32_ports.h"

namespace qel {
namespace {

typedef HRESULT(WINAPI* PFN_ADsGetObject)(LPCWSTR path, REFIID riid, VOID** object);

// Each thread loads the library for its own operations; a nested operation
// (an emptiness test inside a browse) takes another reference.
thread_local HMODULE t_hProvider = nullptr;
thread_local PFN_ADsGetObject t_pfnGetObject = nullptr;
thread_local int t_nProviderRefs = 0;

class Win32SearchPort : public IDirectorySearchPort {
 public:
  explicit Win32SearchPort(IDirectorySearch* search) : m_pSearch(search) {}
  HRESULT SetSearchPreference(ADS_SEARCHPREF_INFO* preferences, DWORD count) override {
    return m_pSearch->SetSearchPreference(preferences, count);
  }
  HRESULT ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                        ADS_SEARCH_HANDLE* search) override {
    return m_pSearch->ExecuteSearch(const_cast<LPWSTR>(filter), const_cast<LPWSTR*>(attributes), count, search);
  }
  HRESULT AbandonSearch(ADS_SEARCH_HANDLE search) override { return m_pSearch->AbandonSearch(search); }
  HRESULT GetFirstRow(ADS_SEARCH_HANDLE search) override { return m_pSearch->GetFirstRow(search); }
  HRESULT GetNextRow(ADS_SEARCH_HANDLE search) override { return m_pSearch->GetNextRow(search); }
  HRESULT GetColumn(ADS_SEARCH_HANDLE search, const wchar_t* name, ADS_SEARCH_COLUMN* column) override {
    return m_pSearch->GetColumn(search, const_cast<LPWSTR>(name), column);
  }
  HRESULT FreeColumn(ADS_SEARCH_COLUMN* column) override { return m_pSearch->FreeColumn(column); }
  HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE search) override { return m_pSearch->CloseSearchHandle(search); }
  ULONG Release() override {
    ULONG count = m_pSearch->Release();
    delete this;
    return count;
  }

 private:
  ~Win32SearchPort() override = default;
  IDirectorySearch* m_pSearch;
};

class Win32DirectoryPort : public IDirectoryPort {
 public:
  DWORD LoadProvider() override {
    HMODULE module = ::LoadLibraryA("ActiveDS.dll");
    if (module == nullptr) return ::GetLastError();
    FARPROC entry = ::GetProcAddress(module, "ADsGetObject");
    if (entry == nullptr) {
      DWORD error = ::GetLastError();
      ::FreeLibrary(module);
      return error;
    }
    t_hProvider = module;
    t_pfnGetObject = reinterpret_cast<PFN_ADsGetObject>(reinterpret_cast<void*>(entry));
    ++t_nProviderRefs;
    return 0;
  }
  void FreeProvider() override {
    if (t_nProviderRefs == 0) return;
    ::FreeLibrary(t_hProvider);
    if (--t_nProviderRefs == 0) {
      t_hProvider = nullptr;
      t_pfnGetObject = nullptr;
    }
  }
  HRESULT CoInitialize() override { return ::CoInitialize(nullptr); }
  void CoUninitialize() override { ::CoUninitialize(); }

  HRESULT BindSearch(const wchar_t* adsPath, IDirectorySearchPort** search) override {
    *search = nullptr;
    if (t_pfnGetObject == nullptr) return E_FAIL;
    IDirectorySearch* bound = nullptr;
    HRESULT status = t_pfnGetObject(adsPath, IID_IDirectorySearch, reinterpret_cast<void**>(&bound));
    if (FAILED(status)) return status;
    if (bound == nullptr) return E_FAIL;
    *search = new Win32SearchPort(bound);
    return status;
  }

  HRESULT GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value, DWORD capacity,
                          DWORD* length, BOOL* isString) override {
    if (isString != nullptr) *isString = FALSE;
    if (length != nullptr) *length = 0;
    if (t_pfnGetObject == nullptr) return E_FAIL;
    IADs* object = nullptr;
    HRESULT status = t_pfnGetObject(adsPath, IID_IADs, reinterpret_cast<void**>(&object));
    if (FAILED(status)) return status;
    if (object == nullptr) return E_FAIL;
    BSTR name = ::SysAllocString(attribute);
    VARIANT result;
    ::VariantInit(&result);
    status = name != nullptr ? object->Get(name, &result) : E_OUTOFMEMORY;
    if (SUCCEEDED(status) && result.vt == VT_BSTR && result.bstrVal != nullptr) {
      DWORD size = ::SysStringLen(result.bstrVal);
      if (length != nullptr) *length = size;
      if (isString != nullptr) *isString = TRUE;
      if (value != nullptr && capacity > 0) {
        DWORD copied = size < capacity ? size : capacity - 1;
        for (DWORD i = 0; i < copied; ++i) value[i] = result.bstrVal[i];
        value[copied] = L'\0';
      }
    }
    ::VariantClear(&result);
    if (name != nullptr) ::SysFreeString(name);
    object->Release();
    return status;
  }
};

Win32DirectoryPort g_port;

}  // namespace

IDirectoryPort* Win32Directory() { return &g_port; }

}  // namespace qel
