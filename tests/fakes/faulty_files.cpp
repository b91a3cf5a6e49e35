#include "tests/fakes/faulty_files.h"

#include <cstring>

namespace qel::test {

namespace {

class FaultyStream : public IFileStream {
 public:
  FaultyStream(FaultyFileSystem* owner, IFileStream* inner) : owner_(owner), inner_(inner) {}

  size_t Read(void* buffer, size_t size, size_t count) override {
    if (owner_->Fails("StreamRead")) return 0;
    return inner_->Read(buffer, size, count);
  }
  size_t Write(const void* buffer, size_t size, size_t count) override {
    if (owner_->Fails("StreamWrite")) return 0;
    return inner_->Write(buffer, size, count);
  }
  int Close() override {
    bool fail = owner_->Fails("StreamClose");
    DWORD error = QelGetLastError();
    int result = inner_->Close();
    delete this;
    if (fail) {
      QelSetLastError(error);
      return -1;
    }
    return result;
  }

 private:
  ~FaultyStream() override = default;
  FaultyFileSystem* owner_;
  IFileStream* inner_;
};

}  // namespace

FaultyFileSystem::FaultyFileSystem(IFileSystem* inner) : inner_(inner != nullptr ? inner : Ports().files) {}

bool FaultyFileSystem::Fails(const char* operation) {
  DWORD error = 0;
  if (!plan_.ShouldFail(operation, &error)) return false;
  QelSetLastError(error);
  return true;
}

DWORD FaultyFileSystem::GetFileAttributesA(const char* path) {
  if (Fails("GetFileAttributesA")) return INVALID_FILE_ATTRIBUTES;
  return inner_->GetFileAttributesA(path);
}

BOOL FaultyFileSystem::SetFileAttributesA(const char* path, DWORD attributes) {
  if (Fails("SetFileAttributesA")) return FALSE;
  return inner_->SetFileAttributesA(path, attributes);
}

BOOL FaultyFileSystem::DeleteFileA(const char* path) {
  if (Fails("DeleteFileA")) return FALSE;
  return inner_->DeleteFileA(path);
}

BOOL FaultyFileSystem::CreateDirectoryA(const char* path) {
  if (Fails("CreateDirectoryA")) return FALSE;
  return inner_->CreateDirectoryA(path);
}

BOOL FaultyFileSystem::CopyFileA(const char* source, const char* destination, BOOL failIfExists) {
  if (Fails("CopyFileA")) return FALSE;
  return inner_->CopyFileA(source, destination, failIfExists);
}

BOOL FaultyFileSystem::CopyFileExA(const char* source, const char* destination, LPPROGRESS_ROUTINE progress,
                                   LPVOID data, BOOL* cancel, DWORD flags) {
  if (Fails("CopyFileExA")) return FALSE;
  return inner_->CopyFileExA(source, destination, progress, data, cancel, flags);
}

HANDLE FaultyFileSystem::FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  if (Fails("FindFirstFileA")) return INVALID_HANDLE_VALUE;
  return inner_->FindFirstFileA(pattern, data);
}

BOOL FaultyFileSystem::FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  if (Fails("FindNextFileA")) return FALSE;
  return inner_->FindNextFileA(find, data);
}

BOOL FaultyFileSystem::FindClose(HANDLE find) {
  if (Fails("FindClose")) return FALSE;
  return inner_->FindClose(find);
}

HANDLE FaultyFileSystem::CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                                     DWORD flagsAndAttributes) {
  if (Fails("CreateFileA")) return INVALID_HANDLE_VALUE;
  return inner_->CreateFileA(path, access, shareMode, disposition, flagsAndAttributes);
}

DWORD FaultyFileSystem::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  if (Fails("SetFilePointer")) return INVALID_SET_FILE_POINTER;
  return inner_->SetFilePointer(file, distance, distanceHigh, method);
}

DWORD FaultyFileSystem::GetFileSize(HANDLE file, DWORD* sizeHigh) {
  if (Fails("GetFileSize")) return INVALID_FILE_SIZE;
  return inner_->GetFileSize(file, sizeHigh);
}

BOOL FaultyFileSystem::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  if (Fails("ReadFile")) {
    if (read) *read = 0;
    return FALSE;
  }
  return inner_->ReadFile(file, buffer, size, read);
}

BOOL FaultyFileSystem::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
  if (Fails("WriteFile")) {
    if (written) *written = 0;
    return FALSE;
  }
  return inner_->WriteFile(file, buffer, size, written);
}

BOOL FaultyFileSystem::CloseFile(HANDLE file) {
  if (Fails("CloseFile")) return FALSE;
  return inner_->CloseFile(file);
}

IFileStream* FaultyFileSystem::OpenStream(const char* path, const char* mode) {
  if (Fails("OpenStream")) return nullptr;
  IFileStream* stream = inner_->OpenStream(path, mode);
  return stream ? new FaultyStream(this, stream) : nullptr;
}

DWORD FaultyFileSystem::GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                                 char* returned, DWORD size, const char* fileName) {
  if (Fails("GetPrivateProfileStringA")) {
    if (!returned || size == 0) return 0;
    size_t length = defaultValue ? std::strlen(defaultValue) : 0;
    if (length > size - 1) length = size - 1;
    if (length) std::memcpy(returned, defaultValue, length);
    returned[length] = 0;
    return static_cast<DWORD>(length);
  }
  return inner_->GetPrivateProfileStringA(section, key, defaultValue, returned, size, fileName);
}

BOOL FaultyFileSystem::WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                                  const char* fileName) {
  if (Fails("WritePrivateProfileStringA")) return FALSE;
  return inner_->WritePrivateProfileStringA(section, key, value, fileName);
}

DWORD FaultyFileSystem::GetTempPathA(DWORD size, char* buffer) {
  if (Fails("GetTempPathA")) return 0;
  return inner_->GetTempPathA(size, buffer);
}

DWORD FaultyFileSystem::GetCurrentDirectoryA(DWORD size, char* buffer) {
  if (Fails("GetCurrentDirectoryA")) return 0;
  return inner_->GetCurrentDirectoryA(size, buffer);
}

}  // namespace qel::test
