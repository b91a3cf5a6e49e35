#include "tests/fakes/faulty_directory.h"

#include <cstring>

namespace qel::test {

namespace {

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

}  // namespace

class FaultySearch : public IDirectorySearchPort {
 public:
  FaultySearch(FaultyDirectory* owner, IDirectorySearchPort* inner) : owner_(owner), inner_(inner) {}

  HRESULT SetSearchPreference(ADS_SEARCHPREF_INFO* preferences, DWORD count) override {
    {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      owner_->preferences_.clear();
      for (DWORD i = 0; i < count && preferences; ++i)
        owner_->preferences_.emplace_back(static_cast<int>(preferences[i].dwSearchPref),
                                          preferences[i].vValue.Integer);
    }
    DWORD error;
    if (owner_->plan_.ShouldFail("SetSearchPreference", &error)) return static_cast<HRESULT>(error);
    return inner_->SetSearchPreference(preferences, count);
  }

  HRESULT ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                        ADS_SEARCH_HANDLE* search) override {
    {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      owner_->filters_.push_back(filter ? filter : L"");
      owner_->attributes_.clear();
      for (DWORD i = 0; attributes && i < count && count != static_cast<DWORD>(-1); ++i)
        owner_->attributes_.push_back(attributes[i] ? attributes[i] : L"");
    }
    DWORD error;
    if (owner_->plan_.ShouldFail("ExecuteSearch", &error)) {
      if (search) *search = nullptr;
      return static_cast<HRESULT>(error);
    }
    HRESULT hr = inner_->ExecuteSearch(filter, attributes, count, search);
    if (SUCCEEDED(hr)) {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      ++owner_->handles_;
    }
    return hr;
  }

  HRESULT AbandonSearch(ADS_SEARCH_HANDLE search) override {
    DWORD error;
    if (owner_->plan_.ShouldFail("AbandonSearch", &error)) return static_cast<HRESULT>(error);
    return inner_->AbandonSearch(search);
  }

  HRESULT GetFirstRow(ADS_SEARCH_HANDLE search) override {
    DWORD error;
    if (owner_->plan_.ShouldFail("GetFirstRow", &error)) return static_cast<HRESULT>(error);
    return inner_->GetFirstRow(search);
  }

  HRESULT GetNextRow(ADS_SEARCH_HANDLE search) override {
    DWORD error;
    if (owner_->plan_.ShouldFail("GetNextRow", &error)) return static_cast<HRESULT>(error);
    return inner_->GetNextRow(search);
  }

  HRESULT GetColumn(ADS_SEARCH_HANDLE search, const wchar_t* name, ADS_SEARCH_COLUMN* column) override {
    DWORD error;
    std::string key = "GetColumn:" + Narrow(name);
    if (owner_->plan_.ShouldFail("GetColumn", &error) || owner_->plan_.ShouldFail(key.c_str(), &error)) {
      if (column) std::memset(column, 0, sizeof(*column));
      return static_cast<HRESULT>(error);
    }
    HRESULT hr = inner_->GetColumn(search, name, column);
    if (SUCCEEDED(hr)) {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      ++owner_->columns_;
    }
    return hr;
  }

  HRESULT FreeColumn(ADS_SEARCH_COLUMN* column) override {
    HRESULT hr = inner_->FreeColumn(column);
    if (SUCCEEDED(hr)) {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      --owner_->columns_;
    }
    return hr;
  }

  HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE search) override {
    HRESULT hr = inner_->CloseSearchHandle(search);
    if (SUCCEEDED(hr)) {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      --owner_->handles_;
    }
    DWORD error;
    // A failure here is reported after the handle was closed.
    if (owner_->plan_.ShouldFail("CloseSearchHandle", &error)) return static_cast<HRESULT>(error);
    return hr;
  }

  ULONG Release() override {
    ULONG left = inner_->Release();
    {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      --owner_->searches_;
    }
    delete this;
    return left;
  }

 private:
  ~FaultySearch() override = default;
  FaultyDirectory* owner_;
  IDirectorySearchPort* inner_;
};

FaultyDirectory::FaultyDirectory(IDirectoryPort* inner) : inner_(inner ? inner : Ports().directory) {}

int FaultyDirectory::LoadedProviders() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return providers_;
}
int FaultyDirectory::ComInitialized() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return com_;
}
int FaultyDirectory::OpenSearches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return searches_;
}
int FaultyDirectory::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_;
}
int FaultyDirectory::OpenColumns() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return columns_;
}
std::vector<std::wstring> FaultyDirectory::BoundPaths() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return paths_;
}
std::vector<std::wstring> FaultyDirectory::Filters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return filters_;
}
std::vector<std::pair<int, DWORD>> FaultyDirectory::LastPreferences() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return preferences_;
}
std::vector<std::wstring> FaultyDirectory::LastAttributes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return attributes_;
}

DWORD FaultyDirectory::LoadProvider() {
  DWORD error;
  if (plan_.ShouldFail("LoadProvider", &error)) {
    QelSetLastError(error);
    return error;
  }
  DWORD result = inner_->LoadProvider();
  if (result == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++providers_;
  }
  return result;
}

void FaultyDirectory::FreeProvider() {
  inner_->FreeProvider();
  std::lock_guard<std::mutex> lock(mutex_);
  --providers_;
}

HRESULT FaultyDirectory::CoInitialize() {
  DWORD error;
  if (plan_.ShouldFail("CoInitialize", &error)) return static_cast<HRESULT>(error);
  HRESULT hr = inner_->CoInitialize();
  if (SUCCEEDED(hr)) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++com_;
  }
  return hr;
}

void FaultyDirectory::CoUninitialize() {
  inner_->CoUninitialize();
  std::lock_guard<std::mutex> lock(mutex_);
  --com_;
}

HRESULT FaultyDirectory::BindSearch(const wchar_t* adsPath, IDirectorySearchPort** search) {
  std::wstring path = adsPath ? adsPath : L"";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.push_back(path);
  }
  if (search) *search = nullptr;
  DWORD error;
  const char* provider = path.compare(0, 5, L"GC://") == 0 ? "BindSearch:GC" : "BindSearch:LDAP";
  if (plan_.ShouldFail("BindSearch", &error) || plan_.ShouldFail(provider, &error))
    return static_cast<HRESULT>(error);
  IDirectorySearchPort* inner = nullptr;
  HRESULT hr = inner_->BindSearch(adsPath, &inner);
  if (FAILED(hr) || !inner) return hr;
  if (!search) {
    inner->Release();
    return E_POINTER;
  }
  *search = new FaultySearch(this, inner);
  std::lock_guard<std::mutex> lock(mutex_);
  ++searches_;
  return hr;
}

HRESULT FaultyDirectory::GetObjectString(const wchar_t* adsPath, const wchar_t* attribute, wchar_t* value,
                                         DWORD capacity, DWORD* length, BOOL* isString) {
  DWORD error;
  if (plan_.ShouldFail("GetObjectString", &error)) return static_cast<HRESULT>(error);
  return inner_->GetObjectString(adsPath, attribute, value, capacity, length, isString);
}

}  // namespace qel::test
