#include "platform/host/registry.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/host/host_ports.h"
#include "platform/host/reg_file.h"

namespace qel {

namespace {

using host::RegData;
using host::RegKey;
using host::RegValue;

const char* RootName(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (key == HKEY_USERS) return "HKEY_USERS";
  return nullptr;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Names the text store cannot hold: a line break would end the line.
bool HasLineBreak(const char* name) { return name && std::strpbrk(name, "\r\n") != nullptr; }

// Serialises readers and writers of the file across processes: a lock on
// the folder that holds it (the file itself is replaced by every write).
class FolderLock {
 public:
  FolderLock(const std::string& file, bool exclusive) {
    size_t slash = file.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) {
      while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_ = -1;
};

class HostRegistry : public IRegistry {
 public:
  explicit HostRegistry(const HostConfig& config) : file_(config.registryFile) {
    std::lock_guard<std::mutex> guard(mutex_);
    FolderLock lock(file_, false);
    Refresh();
  }

  std::string Error() {
    std::lock_guard<std::mutex> guard(mutex_);
    FolderLock lock(file_, false);
    Refresh();
    return error_;
  }

  LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) override {
    if (!subKey || !*subKey) {
      std::lock_guard<std::mutex> guard(mutex_);
      if (!result) return Fail(ERROR_INVALID_PARAMETER);
      std::string path;
      if (!PathOf(root, &path)) return Fail(ERROR_INVALID_HANDLE);
      *result = root;  // Windows hands back the key itself
      return ERROR_SUCCESS;
    }
    return RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS, result);
  }

  // Opening or creating a key without a subkey: a predefined key comes back
  // as it is; any other key that still exists gets a new handle.
  LONG SameKey(HKEY root, const std::string& path, REGSAM desired, HKEY* result) {
    if (RootName(root)) {
      *result = root;
      return ERROR_SUCCESS;
    }
    if (!data_.KeyExists(path)) return Fail(ERROR_KEY_DELETED);
    *result = NewHandle(path, desired);
    return ERROR_SUCCESS;
  }

  LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD, REGSAM desired, HKEY* result) override {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!result) return Fail(ERROR_INVALID_PARAMETER);
    FolderLock lock(file_, false);
    if (!Refresh()) return Fail(ERROR_BADDB);
    std::string path;
    if (!PathOf(root, &path)) return Fail(ERROR_INVALID_HANDLE);
    if (!subKey || !*subKey) return SameKey(root, path, desired, result);
    std::string full;
    if (!Join(path, subKey, &full)) return Fail(ERROR_FILE_NOT_FOUND);
    if (!data_.KeyExists(full)) return Fail(ERROR_FILE_NOT_FOUND);
    *result = NewHandle(full, desired);
    return ERROR_SUCCESS;
  }

  LONG RegCreateKeyA(HKEY root, const char* subKey, HKEY* result) override {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!result) return Fail(ERROR_INVALID_PARAMETER);
    FolderLock lock(file_, true);
    if (!Refresh()) return Fail(ERROR_BADDB);
    std::string path;
    if (!PathOf(root, &path)) return Fail(ERROR_INVALID_HANDLE);
    if (!subKey || !*subKey) return SameKey(root, path, KEY_ALL_ACCESS, result);
    std::string full;
    if (!Join(path, subKey, &full)) return Fail(ERROR_BAD_PATHNAME);
    if (HasLineBreak(subKey)) return Fail(ERROR_INVALID_PARAMETER);
    if (!data_.KeyExists(path)) return Fail(ERROR_KEY_DELETED);
    if (!data_.FindKey(full)) {
      RegData before = data_;
      data_.EnsureKey(full);
      if (!Save()) {
        data_ = before;
        return Fail(ERROR_CANTWRITE);
      }
    }
    *result = NewHandle(full, KEY_ALL_ACCESS);
    return ERROR_SUCCESS;
  }

  LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) override {
    std::lock_guard<std::mutex> guard(mutex_);
    if (data && !size) return Fail(ERROR_INVALID_PARAMETER);
    FolderLock lock(file_, false);
    if (!Refresh()) return Fail(ERROR_BADDB);
    std::string path;
    if (!PathOf(key, &path)) return Fail(ERROR_INVALID_HANDLE);
    if (!data_.KeyExists(path)) return Fail(RootName(key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED);
    const RegKey* stored = data_.FindKey(path);
    const RegValue* value = stored ? RegData::FindValue(*stored, valueName ? valueName : "") : nullptr;
    if (!value) return Fail(ERROR_FILE_NOT_FOUND);
    DWORD needed = static_cast<DWORD>(value->data.size());
    if (type) *type = value->type;
    if (!data) {
      if (size) *size = needed;
      return ERROR_SUCCESS;
    }
    if (*size < needed) {
      *size = needed;
      return Fail(ERROR_MORE_DATA);
    }
    if (needed) std::copy(value->data.begin(), value->data.end(), data);
    // A string stored without its terminator gets one when the buffer has
    // room for it; the size returned stays the stored size.
    if (IsStringType(value->type) && *size > needed && (needed == 0 || data[needed - 1] != 0)) data[needed] = 0;
    *size = needed;
    return ERROR_SUCCESS;
  }

  LONG RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD size) override {
    std::lock_guard<std::mutex> guard(mutex_);
    if ((!data && size) || HasLineBreak(valueName)) return Fail(ERROR_INVALID_PARAMETER);
    FolderLock lock(file_, true);
    if (!Refresh()) return Fail(ERROR_BADDB);
    std::string path;
    REGSAM access = 0;
    if (!PathOf(key, &path, &access)) return Fail(ERROR_INVALID_HANDLE);
    if (!(access & KEY_SET_VALUE)) return Fail(ERROR_ACCESS_DENIED);
    if (path.find('\\') == std::string::npos) return Fail(ERROR_ACCESS_DENIED);  // values of a root
    if (!data_.KeyExists(path)) return Fail(ERROR_KEY_DELETED);
    // A string whose size leaves out its terminator gets it counted, as
    // RegSetValueExA does: a string stored without NUL needs a buffer that
    // does not have one right after the data.
    if (data && size && IsStringType(type) && data[size - 1] != 0 && data[size] == 0) ++size;
    RegValue value;
    value.name = valueName ? valueName : "";
    value.type = type;
    if (size) value.data.assign(data, data + size);
    RegData before = data_;
    RegKey& stored = data_.EnsureKey(path);
    if (RegValue* old = RegData::FindValue(stored, value.name)) {
      value.comments = old->comments;
      value.name = old->name;
      *old = value;
    } else if (value.name.empty()) {
      stored.values.insert(stored.values.begin(), value);
    } else {
      stored.values.push_back(value);
    }
    if (!Save()) {
      data_ = before;
      return Fail(ERROR_CANTWRITE);
    }
    return ERROR_SUCCESS;
  }

  LONG RegCloseKey(HKEY key) override {
    std::lock_guard<std::mutex> guard(mutex_);
    if (RootName(key)) return ERROR_SUCCESS;
    if (handles_.erase(reinterpret_cast<uintptr_t>(key)) == 0) return Fail(ERROR_INVALID_HANDLE);
    return ERROR_SUCCESS;
  }

 private:
  struct Handle {
    std::string path;
    REGSAM access = 0;
  };

  static LONG Fail(LONG error) {
    QelSetLastError(static_cast<DWORD>(error));
    return error;
  }

  // Reads the file again when it changed on disk; false while it is
  // malformed. The bytes are compared, not the time stamps: a file rewritten
  // within one clock tick, with a recycled inode, must not go unnoticed.
  bool Refresh() {
    std::string text;
    bool exists = false;
    std::string error;
    if (!host::ReadRegFileText(file_, &text, &exists, &error)) {
      error_ = error;
      loaded_ = false;
      return false;
    }
    if (loaded_ && exists == exists_ && text == text_) return error_.empty();
    RegData fresh;
    if (host::ParseRegText(text, file_, &fresh, &error)) {
      data_ = std::move(fresh);
      error_.clear();
    } else {
      error_ = error;
    }
    text_ = text;
    exists_ = exists;
    loaded_ = true;
    return error_.empty();
  }

  bool Save() {
    std::string error;
    std::string text = host::FormatRegText(data_);
    // Never write a file that would not read back.
    RegData check;
    if (!host::ParseRegText(text, file_, &check, &error)) return false;
    if (!host::WriteRegFileText(file_, text, &error)) return false;
    text_ = text;
    exists_ = true;
    return true;
  }

  bool PathOf(HKEY key, std::string* path, REGSAM* access = nullptr) const {
    if (const char* root = RootName(key)) {
      *path = root;
      if (access) *access = KEY_ALL_ACCESS;
      return true;
    }
    auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
    if (it == handles_.end()) return false;
    *path = it->second.path;
    if (access) *access = it->second.access;
    return true;
  }

  // base + "\" + subKey; one trailing backslash is allowed, empty names are not.
  static bool Join(const std::string& base, const std::string& subKey, std::string* full) {
    std::string sub = subKey;
    if (!sub.empty() && sub.back() == '\\') sub.pop_back();
    if (sub.empty() || sub[0] == '\\' || sub.find("\\\\") != std::string::npos) return false;
    *full = base + "\\" + sub;
    return true;
  }

  HKEY NewHandle(const std::string& path, REGSAM access) {
    uintptr_t id = nextHandle_;
    nextHandle_ += 4;
    handles_[id] = Handle{path, access};
    return reinterpret_cast<HKEY>(id);
  }

  std::string file_;
  std::mutex mutex_;
  RegData data_;
  bool loaded_ = false;
  bool exists_ = false;
  std::string text_;
  std::string error_;
  std::map<uintptr_t, Handle> handles_;
  uintptr_t nextHandle_ = 0x10000;
};

}  // namespace

std::unique_ptr<IRegistry> MakeHostRegistry(const HostConfig& config) {
  return std::make_unique<HostRegistry>(config);
}

std::string HostRegistryError(IRegistry& registry) {
  auto* host = dynamic_cast<HostRegistry*>(&registry);
  return host ? host->Error() : std::string();
}

}  // namespace qel
