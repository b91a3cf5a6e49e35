#include "deploy/what_if.h"

#include <cstring>

#include "log/log_utility.h"

namespace qel {

namespace {

std::wstring LowerWide(LPCWSTR text) {
  std::wstring out = text != nullptr ? text : L"";
  for (wchar_t& c : out)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return out;
}

std::string LowerPath(const char* path) {
  std::string out = path != nullptr ? path : "";
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return out;
}

bool Writes(const char* mode) { return std::strpbrk(mode != nullptr ? mode : "", "wa+") != nullptr; }

// A stream over text held in memory: what a what-if run "wrote", read back,
// or a write that is remembered when the stream closes.
class MemoryStream : public IFileStream {
 public:
  MemoryStream(WhatIfFiles* owner, std::string path, std::string text)
      : owner_(owner), path_(std::move(path)), text_(std::move(text)) {}
  size_t Read(void* buffer, size_t size, size_t count) override {
    if (size == 0) return 0;
    size_t wanted = size * count;
    size_t left = text_.size() - at_;
    size_t taken = wanted < left ? wanted : left;
    std::memcpy(buffer, text_.data() + at_, taken);
    at_ += taken;
    return taken / size;
  }
  size_t Write(const void* buffer, size_t size, size_t count) override {
    text_.append(static_cast<const char*>(buffer), size * count);
    return count;
  }
  int Close() override {
    if (owner_ != nullptr) owner_->Remember(path_, text_);
    delete this;
    return 0;
  }

 private:
  WhatIfFiles* owner_;  // null for a read
  std::string path_;
  std::string text_;
  size_t at_ = 0;
};

}  // namespace

// ---------------------------------------------------------------- accounts

size_t WhatIfAccounts::Writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_.size();
}

NET_API_STATUS WhatIfAccounts::NetGroupGetUsers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                                DWORD preferredMaximumLength, LPDWORD entriesRead, LPDWORD totalEntries,
                                                DWORD_PTR* resumeHandle) {
  return inner_->NetGroupGetUsers(server, group, level, buffer, preferredMaximumLength, entriesRead, totalEntries,
                                  resumeHandle);
}

NET_API_STATUS WhatIfAccounts::NetApiBufferFree(LPVOID buffer) { return inner_->NetApiBufferFree(buffer); }

NET_API_STATUS WhatIfAccounts::NetUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* buffer) {
  NET_API_STATUS status = inner_->NetUserGetInfo(server, user, level, buffer);
  if (status != NERR_Success || level != 3 || buffer == nullptr || *buffer == nullptr) return status;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = written_.find(LowerWide(user));
  if (it == written_.end()) return status;
  // The buffer is one block that its store frees whole; the remembered
  // text lives here as long as this port does.
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(*buffer);
  if (it->second.script != nullptr) info->usri3_script_path = const_cast<LPWSTR>(it->second.script->c_str());
  if (it->second.hasFlags) info->usri3_flags = it->second.flags;
  return status;
}

NET_API_STATUS WhatIfAccounts::NetUserSetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE buffer,
                                              LPDWORD parameterError) {
  if (buffer == nullptr || user == nullptr) return ERROR_INVALID_PARAMETER;
  if (level != 3 && level != 1009) return ERROR_INVALID_LEVEL;
  // The account must exist, as a real write would find.
  LPBYTE current = nullptr;
  NET_API_STATUS status = inner_->NetUserGetInfo(server, user, 3, &current);
  if (current != nullptr) inner_->NetApiBufferFree(current);
  if (status != NERR_Success) return status;
  LPCWSTR script = nullptr;
  Written entry;
  if (level == 3) {
    const USER_INFO_3* info = reinterpret_cast<const USER_INFO_3*>(buffer);
    script = info->usri3_script_path;
    entry.hasFlags = true;
    entry.flags = info->usri3_flags;
  } else {
    script = reinterpret_cast<const USER_INFO_1009*>(buffer)->usri1009_script_path;
  }
  if (parameterError != nullptr) *parameterError = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  Written& written = written_[LowerWide(user)];
  if (script != nullptr) {
    scripts_.emplace_back(script);
    written.script = &scripts_.back();
  }
  if (entry.hasFlags) {
    written.hasFlags = true;
    written.flags = entry.flags;
  }
  return NERR_Success;
}

NET_API_STATUS WhatIfAccounts::NetQueryDisplayInformation(LPCWSTR server, DWORD level, DWORD index,
                                                          DWORD entriesRequested, DWORD preferredMaximumLength,
                                                          LPDWORD returnedEntryCount, PVOID* sortedBuffer) {
  return inner_->NetQueryDisplayInformation(server, level, index, entriesRequested, preferredMaximumLength,
                                            returnedEntryCount, sortedBuffer);
}

DWORD WhatIfAccounts::DsGetDcNameA(LPCSTR computer, LPCSTR domain, GUID* domainGuid, LPCSTR site, ULONG flags,
                                   PDOMAIN_CONTROLLER_INFOA* info) {
  return inner_->DsGetDcNameA(computer, domain, domainGuid, site, flags, info);
}

NET_API_STATUS WhatIfAccounts::NetGetDCName(LPCWSTR server, LPCWSTR domain, LPBYTE* buffer) {
  return inner_->NetGetDCName(server, domain, buffer);
}

// ---------------------------------------------------------------- files

std::vector<std::string> WhatIfFiles::Touched() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return order_;
}

const WhatIfFiles::Entry* WhatIfFiles::Find(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(LowerPath(path.c_str()));
  return it == entries_.end() ? nullptr : &it->second;
}

WhatIfFiles::Entry& WhatIfFiles::Touch(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = LowerPath(path.c_str());
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    order_.push_back(path);
    it = entries_.emplace(key, Entry()).first;
  }
  return it->second;
}

void WhatIfFiles::Remember(const std::string& path, const std::string& text) {
  Entry& entry = Touch(path);
  std::lock_guard<std::mutex> lock(mutex_);
  entry = Entry();
  entry.hasText = true;
  entry.text = text;
}

bool WhatIfFiles::ExistsNow(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

DWORD WhatIfFiles::GetFileAttributesA(const char* path) {
  const Entry* entry = Find(path);
  if (entry == nullptr) return inner_->GetFileAttributesA(path);
  if (entry->deleted) {
    QelSetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return FILE_ATTRIBUTE_ARCHIVE;
}

BOOL WhatIfFiles::SetFileAttributesA(const char* path, DWORD) {
  if (!ExistsNow(path)) return FALSE;
  return TRUE;
}

BOOL WhatIfFiles::DeleteFileA(const char* path) {
  if (!ExistsNow(path)) {
    QelSetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  Entry& entry = Touch(path);
  std::lock_guard<std::mutex> lock(mutex_);
  entry = Entry();
  entry.deleted = true;
  return TRUE;
}

BOOL WhatIfFiles::CreateDirectoryA(const char* path) {
  if (ExistsNow(path)) {
    QelSetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  return TRUE;
}

BOOL WhatIfFiles::CopyFileA(const char* source, const char* destination, BOOL failIfExists) {
  if (!ExistsNow(source)) {
    QelSetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (failIfExists && ExistsNow(destination)) {
    QelSetLastError(ERROR_FILE_EXISTS);
    return FALSE;
  }
  const Entry* from = Find(source);
  Entry copy = from != nullptr ? *from : Entry();
  if (from == nullptr) copy.copiedFrom = source;
  Entry& entry = Touch(destination);
  std::lock_guard<std::mutex> lock(mutex_);
  entry = copy;
  return TRUE;
}

BOOL WhatIfFiles::CopyFileExA(const char* source, const char* destination, LPPROGRESS_ROUTINE, LPVOID, BOOL*, DWORD) {
  return CopyFileA(source, destination, FALSE);
}

HANDLE WhatIfFiles::FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  return inner_->FindFirstFileA(pattern, data);
}
BOOL WhatIfFiles::FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) { return inner_->FindNextFileA(find, data); }
BOOL WhatIfFiles::FindClose(HANDLE find) { return inner_->FindClose(find); }

HANDLE WhatIfFiles::CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                                DWORD flagsAndAttributes) {
  if ((access & GENERIC_WRITE) != 0 || disposition != OPEN_EXISTING || Find(path) != nullptr) {
    QelSetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return inner_->CreateFileA(path, access, shareMode, disposition, flagsAndAttributes);
}
DWORD WhatIfFiles::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  return inner_->SetFilePointer(file, distance, distanceHigh, method);
}
DWORD WhatIfFiles::GetFileSize(HANDLE file, DWORD* sizeHigh) { return inner_->GetFileSize(file, sizeHigh); }
BOOL WhatIfFiles::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  return inner_->ReadFile(file, buffer, size, read);
}
BOOL WhatIfFiles::WriteFile(HANDLE, const void*, DWORD, DWORD* written) {
  if (written != nullptr) *written = 0;
  QelSetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
BOOL WhatIfFiles::CloseFile(HANDLE file) { return inner_->CloseFile(file); }

IFileStream* WhatIfFiles::OpenStream(const char* path, const char* mode) {
  if (Writes(mode)) {
    // As fopen, a stream for writing needs its folder.
    std::string folder = path;
    size_t slash = folder.find_last_of("\\/");
    folder = slash != std::string::npos && slash > 0 ? folder.substr(0, slash) : std::string();
    bool known = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      known = folder.empty() || folder == knownFolder_;
    }
    if (!known) {
      if (!ExistsNow(folder.c_str())) {
        QelSetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      knownFolder_ = folder;
    }
    return new MemoryStream(this, path, std::string());
  }
  const Entry* entry = Find(path);
  if (entry == nullptr) return inner_->OpenStream(path, mode);
  if (entry->deleted) {
    QelSetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (entry->hasText) return new MemoryStream(nullptr, path, entry->text);
  return inner_->OpenStream(entry->copiedFrom.c_str(), mode);
}

DWORD WhatIfFiles::GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                            char* returned, DWORD size, const char* fileName) {
  return inner_->GetPrivateProfileStringA(section, key, defaultValue, returned, size, fileName);
}

BOOL WhatIfFiles::WritePrivateProfileStringA(const char*, const char*, const char*, const char* fileName) {
  if (fileName == nullptr) return FALSE;
  // Only that the file would be there afterwards is remembered; its
  // contents stay those of the real file.
  if (!ExistsNow(fileName))
    Remember(fileName, std::string());
  else
    Touch(fileName);
  return TRUE;
}

DWORD WhatIfFiles::GetTempPathA(DWORD size, char* buffer) { return inner_->GetTempPathA(size, buffer); }
DWORD WhatIfFiles::GetCurrentDirectoryA(DWORD size, char* buffer) { return inner_->GetCurrentDirectoryA(size, buffer); }

// ---------------------------------------------------------------- scope

ScopedWhatIf::ScopedWhatIf() : savedAccounts_(Ports().accounts), savedFiles_(Ports().files) {
  _NCOvLogUtility::Warning("[WhatIf]  What-if run: nothing is written to the domain or the NETLOGON folder.");
  _NCOvLogUtility* log = _NCOvLogUtility::GetInstance();
  _NCOvLogFile* channel = log != nullptr ? log->GetChannel(0) : nullptr;
  if (channel != nullptr) {
    savedLevel_ = channel->GetLevel();
    channel->SetLevel(0);
  }
  if (savedAccounts_ != nullptr) accounts_.reset(new WhatIfAccounts(savedAccounts_));
  files_.reset(new WhatIfFiles(savedFiles_));
  Ports().accounts = accounts_.get();
  Ports().files = files_.get();
}

ScopedWhatIf::~ScopedWhatIf() {
  Ports().accounts = savedAccounts_;
  Ports().files = savedFiles_;
  _NCOvLogUtility* log = _NCOvLogUtility::GetInstance();
  _NCOvLogFile* channel = log != nullptr ? log->GetChannel(0) : nullptr;
  if (channel != nullptr && savedLevel_ != 0) channel->SetLevel(savedLevel_);
}

}  // namespace qel
