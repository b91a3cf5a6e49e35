// The host file system: IFileSystem over host folders, with the rules of
// Windows files the core relies on.
//
// - Paths are Windows paths (path_map.h); names match without regard to case.
// - DOS attributes are kept per file in the extended attribute
//   "user.qel.attributes" (decimal text). A file without it reads as
//   archive, a folder as directory only. Read-only is enforced here, not by
//   permission bits: the tests run as root, who may write anything.
// - Files opened through this adapter are shared as Windows shares them:
//   opening against another handle's share mode, or deleting a file that is
//   open without FILE_SHARE_DELETE, fails with ERROR_SHARING_VIOLATION.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/host/host_ports.h"
#include "platform/host/path_map.h"
#include "platform/host/profile.h"

namespace qel {

namespace {

using host::ResolvedPath;

const char kAttributesName[] = "user.qel.attributes";
const DWORD kStoredAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
const size_t kCopyChunk = 64 * 1024;
const size_t kStreamBuffer = 4096;
const DWORD kTruncateExisting = 5;  // TRUNCATE_EXISTING

BOOL FailBool(DWORD error) {
  QelSetLastError(error);
  return FALSE;
}

FILETIME FileTimeOf(const struct timespec& time) {
  // 100-ns intervals since 1601-01-01.
  unsigned long long ticks = (static_cast<unsigned long long>(time.tv_sec) + 11644473600ULL) * 10000000ULL +
                             static_cast<unsigned long long>(time.tv_nsec) / 100;
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(ticks);
  result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return result;
}

bool HasWildcards(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

// FindFirstFileA's matching: '*' any run, '?' one character or none at a dot
// or at the end, '.' also matches the end of a name when only wildcards
// follow, and a '*' before a '.' never swallows the name's last dot.
bool WildcardMatch(const std::string& p, size_t i, const std::string& n, size_t j) {
  while (i < p.size()) {
    char c = p[i];
    if (c == '*') {
      bool beforeDot = i + 1 < p.size() && p[i + 1] == '.';
      size_t lastDot = n.rfind('.');
      for (size_t k = j; k <= n.size(); ++k) {
        if (WildcardMatch(p, i + 1, n, k)) return true;
        if (k == n.size()) break;
        if (beforeDot && lastDot != std::string::npos && k == lastDot) break;
      }
      return false;
    }
    if (c == '?') {
      if (j < n.size() && n[j] != '.') ++j;
      ++i;
      continue;
    }
    if (c == '.' && j == n.size()) {
      if (p.find_first_not_of("*?", i + 1) != std::string::npos) return false;
      ++i;
      continue;
    }
    if (j >= n.size() || n[j] != c) return false;
    ++i;
    ++j;
  }
  return j == n.size();
}

bool NameMatches(const std::string& foldedPattern, const std::string& foldedName) {
  if (foldedPattern == "*" || foldedPattern == "*.*") return true;
  if (!HasWildcards(foldedPattern)) return foldedPattern == foldedName;
  return WildcardMatch(foldedPattern, 0, foldedName, 0);
}

struct FileId {
  dev_t device;
  ino_t inode;
  bool operator<(const FileId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
  bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};

struct OpenEntry {
  DWORD access;
  DWORD share;
};

struct HostFile {
  int fd = -1;
  std::string host;
  FileId id{};
  OpenEntry* entry = nullptr;
  DWORD access = 0;
  bool archived = false;
};

struct FindState {
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

class HostFileSystem : public IFileSystem {
 public:
  explicit HostFileSystem(const HostConfig& config) : config_(config) {}

  ~HostFileSystem() override {
    for (HostFile* file : files_) {
      ::close(file->fd);
      delete file->entry;
      delete file;
    }
    for (FindState* find : finds_) delete find;
  }

  // --- attributes ---------------------------------------------------------

  DWORD GetFileAttributesA(const char* path) override {
    ResolvedPath resolved;
    DWORD error = Resolve(path, &resolved);
    if (!error && !resolved.exists) error = ERROR_FILE_NOT_FOUND;
    struct stat st;
    if (!error && ::stat(resolved.host.c_str(), &st) != 0) error = host::ErrorFromErrno(errno);
    if (error) {
      QelSetLastError(error);
      return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(resolved.host, st);
  }

  BOOL SetFileAttributesA(const char* path, DWORD attributes) override {
    ResolvedPath resolved;
    DWORD error = Resolve(path, &resolved);
    if (error) return FailBool(error);
    if (!resolved.exists) return FailBool(ERROR_FILE_NOT_FOUND);
    if (!StoreAttributes(resolved.host, attributes & kStoredAttributes)) return FailBool(ERROR_ACCESS_DENIED);
    return TRUE;
  }

  // --- files and folders --------------------------------------------------

  BOOL DeleteFileA(const char* path) override {
    ResolvedPath resolved;
    DWORD error = Resolve(path, &resolved);
    if (error) return FailBool(error);
    if (!resolved.exists) return FailBool(ERROR_FILE_NOT_FOUND);
    struct stat st;
    if (::stat(resolved.host.c_str(), &st) != 0) return FailBool(host::ErrorFromErrno(errno));
    if (S_ISDIR(st.st_mode)) return FailBool(ERROR_ACCESS_DENIED);
    if (AttributesOf(resolved.host, st) & FILE_ATTRIBUTE_READONLY) return FailBool(ERROR_ACCESS_DENIED);
    std::lock_guard<std::mutex> guard(mutex_);
    auto range = open_.equal_range(FileId{st.st_dev, st.st_ino});
    for (auto it = range.first; it != range.second; ++it) {
      if (!(it->second->share & FILE_SHARE_DELETE)) return FailBool(ERROR_SHARING_VIOLATION);
    }
    if (::unlink(resolved.host.c_str()) != 0) return FailBool(host::ErrorFromErrno(errno));
    ForgetAttributes(resolved.host);
    return TRUE;
  }

  BOOL CreateDirectoryA(const char* path) override {
    ResolvedPath resolved;
    DWORD error = Resolve(path, &resolved);
    if (error) return FailBool(error);
    if (resolved.exists) return FailBool(ERROR_ALREADY_EXISTS);
    if (::mkdir(resolved.host.c_str(), 0755) != 0) {
      return FailBool(errno == EEXIST ? ERROR_ALREADY_EXISTS : host::ErrorFromErrno(errno));
    }
    return TRUE;
  }

  BOOL CopyFileA(const char* source, const char* destination, BOOL failIfExists) override {
    return CopyFileExA(source, destination, nullptr, nullptr, nullptr, failIfExists ? COPY_FILE_FAIL_IF_EXISTS : 0);
  }

  BOOL CopyFileExA(const char* source, const char* destination, LPPROGRESS_ROUTINE progress, LPVOID data,
                   BOOL* cancel, DWORD flags) override {
    ResolvedPath from;
    DWORD error = Resolve(source, &from);
    if (error) return FailBool(error);
    if (!from.exists) return FailBool(ERROR_FILE_NOT_FOUND);
    struct stat fromStat;
    if (::stat(from.host.c_str(), &fromStat) != 0) return FailBool(host::ErrorFromErrno(errno));
    if (S_ISDIR(fromStat.st_mode)) return FailBool(ERROR_ACCESS_DENIED);
    ResolvedPath to;
    error = Resolve(destination, &to);
    if (error) return FailBool(error);
    FileId fromId{fromStat.st_dev, fromStat.st_ino};
    if (to.exists) {
      if (flags & COPY_FILE_FAIL_IF_EXISTS) return FailBool(ERROR_FILE_EXISTS);
      struct stat toStat;
      if (::stat(to.host.c_str(), &toStat) != 0) return FailBool(host::ErrorFromErrno(errno));
      if (S_ISDIR(toStat.st_mode)) return FailBool(ERROR_ACCESS_DENIED);
      FileId toId{toStat.st_dev, toStat.st_ino};
      if (toId == fromId) return FailBool(ERROR_SHARING_VIOLATION);
      // Windows refuses to overwrite a read-only or hidden file.
      if (AttributesOf(to.host, toStat) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) {
        return FailBool(ERROR_ACCESS_DENIED);
      }
      std::lock_guard<std::mutex> guard(mutex_);
      error = CheckShareLocked(toId, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
      if (error) return FailBool(error);
    }
    {
      std::lock_guard<std::mutex> guard(mutex_);
      error = CheckShareLocked(fromId, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
      if (error) return FailBool(error);
    }
    DWORD attributes = AttributesOf(from.host, fromStat);
    int in = ::open(from.host.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return FailBool(host::ErrorFromErrno(errno));
    int out = ::open(to.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
      int saved = errno;
      ::close(in);
      return FailBool(host::ErrorFromErrno(saved));
    }
    // A failed or cancelled copy leaves no partial destination behind.
    auto abandon = [&](DWORD code) {
      ::close(in);
      ::close(out);
      ::unlink(to.host.c_str());
      return FailBool(code);
    };
    LARGE_INTEGER total;
    total.QuadPart = fromStat.st_size;
    LARGE_INTEGER done;
    done.QuadPart = 0;
    bool quiet = progress == nullptr;
    auto report = [&](DWORD reason) -> DWORD {
      if (quiet) return PROGRESS_CONTINUE;
      DWORD answer = progress(total, done, total, done, 1, reason, nullptr, nullptr, data);
      if (answer == PROGRESS_QUIET) quiet = true;
      return answer;
    };
    DWORD answer = report(CALLBACK_STREAM_SWITCH);
    if (answer == PROGRESS_CANCEL || answer == PROGRESS_STOP) return abandon(ERROR_REQUEST_ABORTED);
    std::vector<char> buffer(kCopyChunk);
    bool first = true;
    for (;;) {
      if (cancel && *cancel) return abandon(ERROR_REQUEST_ABORTED);
      ssize_t got = ::read(in, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return abandon(host::ErrorFromErrno(errno));
      // An empty file still reports one finished chunk.
      if (got == 0 && !(first && total.QuadPart == 0)) break;
      first = false;
      size_t put = 0;
      while (put < static_cast<size_t>(got)) {
        ssize_t n = ::write(out, buffer.data() + put, static_cast<size_t>(got) - put);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return abandon(host::ErrorFromErrno(n < 0 ? errno : ENOSPC));
        put += static_cast<size_t>(n);
      }
      done.QuadPart += got;
      answer = report(CALLBACK_CHUNK_FINISHED);
      if (answer == PROGRESS_CANCEL || answer == PROGRESS_STOP) return abandon(ERROR_REQUEST_ABORTED);
      if (got == 0) break;
    }
    // The copy keeps the source's time of last write.
    struct timespec times[2] = {fromStat.st_atim, fromStat.st_mtim};
    ::futimens(out, times);
    ::close(in);
    if (::close(out) != 0) {
      DWORD code = host::ErrorFromErrno(errno);
      ::unlink(to.host.c_str());
      return FailBool(code);
    }
    StoreAttributes(to.host, (attributes & kStoredAttributes) | FILE_ATTRIBUTE_ARCHIVE);
    return TRUE;
  }

  // --- searching ----------------------------------------------------------

  HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) override {
    if (!pattern || !data) return FailHandle(ERROR_INVALID_PARAMETER);
    std::string text = pattern;
    if (text.size() >= MAX_PATH) return FailHandle(ERROR_FILENAME_EXCED_RANGE);
    size_t cut = text.find_last_of("\\/");
    std::string folder;
    std::string name;
    if (cut == std::string::npos) {
      if (text.size() >= 2 && text[1] == ':') {
        folder = text.substr(0, 2) + "\\";
        name = text.substr(2);
      } else {
        folder = config_.currentDir;
        name = text;
      }
    } else {
      folder = text.substr(0, cut + 1);
      name = text.substr(cut + 1);
    }
    ResolvedPath where;
    DWORD error = host::ResolveWindowsPath(config_, folder, host::kParseNone, &where);
    if (error) return FailHandle(error);
    struct stat st;
    if (!where.exists || ::stat(where.host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return FailHandle(ERROR_PATH_NOT_FOUND);
    }
    // Windows drops trailing dots and blanks of a name, not of a pattern's wildcards.
    while (!name.empty() && (name.back() == ' ' || (name.back() == '.' && !HasWildcards(name)))) name.pop_back();
    if (name.empty()) return FailHandle(ERROR_FILE_NOT_FOUND);
    for (unsigned char c : name) {
      if (c < 32 || std::strchr("<>:\"|", c)) return FailHandle(ERROR_INVALID_NAME);
    }
    std::string unused;
    if (!host::HostNameOf(name, config_.codePage, &unused)) return FailHandle(ERROR_INVALID_NAME);
    std::string folded = host::FoldCase(name, config_.codePage);
    auto* state = new FindState;
    if (!where.isRoot) {
      // NTFS lists "." and ".." first in every folder but a drive root.
      AddEntry(state, folded, ".", where.host, ".");
      AddEntry(state, folded, "..", where.host + "/..", "..");
    }
    struct Listed {
      std::string folded, ansi, stored;
      bool operator<(const Listed& o) const { return folded != o.folded ? folded < o.folded : stored < o.stored; }
    };
    std::vector<Listed> names;
    if (DIR* dir = ::opendir(where.host.c_str())) {
      while (struct dirent* entry = ::readdir(dir)) {
        std::string stored = entry->d_name;
        if (stored == "." || stored == "..") continue;
        // A name with characters outside the code page is listed with '?'
        // for them, as Windows lists it to an ANSI program.
        std::string ansi;
        if (host::Utf8ToAnsi(stored, config_.codePage, &ansi) == host::NameConversion::kNotUtf8) ansi = stored;
        names.push_back(Listed{host::FoldCase(ansi, config_.codePage), ansi, stored});
      }
      ::closedir(dir);
    }
    std::sort(names.begin(), names.end());  // NTFS order: ordinal by upper-case name
    for (const auto& entry : names) AddEntry(state, folded, entry.ansi, where.host + "/" + entry.stored, entry.folded);
    if (state->entries.empty()) {
      delete state;
      return FailHandle(ERROR_FILE_NOT_FOUND);
    }
    *data = state->entries[0];
    state->next = 1;
    std::lock_guard<std::mutex> guard(mutex_);
    finds_.insert(state);
    return static_cast<HANDLE>(state);
  }

  BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override {
    std::lock_guard<std::mutex> guard(mutex_);
    auto* state = static_cast<FindState*>(find);
    if (!finds_.count(state) || !data) return FailBool(ERROR_INVALID_HANDLE);
    if (state->next >= state->entries.size()) return FailBool(ERROR_NO_MORE_FILES);
    *data = state->entries[state->next++];
    return TRUE;
  }

  BOOL FindClose(HANDLE find) override {
    std::lock_guard<std::mutex> guard(mutex_);
    auto* state = static_cast<FindState*>(find);
    if (!finds_.erase(state)) return FailBool(ERROR_INVALID_HANDLE);
    delete state;
    return TRUE;
  }

  // --- raw handles --------------------------------------------------------

  HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                     DWORD flagsAndAttributes) override {
    HostFile* file = Open(path, access, shareMode, disposition, flagsAndAttributes, false);
    return file ? static_cast<HANDLE>(file) : INVALID_HANDLE_VALUE;
  }

  DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD method) override {
    HostFile* file = Lookup(handle);
    if (!file) return FailPointer(ERROR_INVALID_HANDLE);
    long long offset = distanceHigh ? static_cast<long long>((static_cast<unsigned long long>(*distanceHigh) << 32) |
                                                             static_cast<DWORD>(distance))
                                    : static_cast<long long>(distance);
    int whence = method == FILE_BEGIN     ? SEEK_SET
                 : method == FILE_CURRENT ? SEEK_CUR
                 : method == FILE_END     ? SEEK_END
                                          : -1;
    if (whence < 0) return FailPointer(ERROR_INVALID_PARAMETER);
    off_t base = whence == SEEK_SET ? 0 : ::lseek(file->fd, 0, whence);
    if (base + offset < 0) return FailPointer(ERROR_NEGATIVE_SEEK);
    off_t now = ::lseek(file->fd, static_cast<off_t>(base + offset), SEEK_SET);
    if (now < 0) return FailPointer(host::ErrorFromErrno(errno));
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<unsigned long long>(now) >> 32);
    QelSetLastError(NO_ERROR);  // a low part of 0xFFFFFFFF is no failure
    return static_cast<DWORD>(now);
  }

  DWORD GetFileSize(HANDLE handle, DWORD* sizeHigh) override {
    HostFile* file = Lookup(handle);
    struct stat st;
    if (!file || ::fstat(file->fd, &st) != 0) {
      QelSetLastError(file ? host::ErrorFromErrno(errno) : ERROR_INVALID_HANDLE);
      return INVALID_FILE_SIZE;
    }
    unsigned long long size = static_cast<unsigned long long>(st.st_size);
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
    QelSetLastError(NO_ERROR);
    return static_cast<DWORD>(size);
  }

  BOOL ReadFile(HANDLE handle, void* buffer, DWORD size, DWORD* read) override {
    HostFile* file = Lookup(handle);
    if (read) *read = 0;
    if (!file) return FailBool(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_READ)) return FailBool(ERROR_ACCESS_DENIED);
    size_t total = 0;
    while (total < size) {
      ssize_t got = ::read(file->fd, static_cast<char*>(buffer) + total, size - total);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return FailBool(host::ErrorFromErrno(errno));
      if (got == 0) break;
      total += static_cast<size_t>(got);
    }
    if (read) *read = static_cast<DWORD>(total);
    return TRUE;
  }

  BOOL WriteFile(HANDLE handle, const void* buffer, DWORD size, DWORD* written) override {
    HostFile* file = Lookup(handle);
    if (written) *written = 0;
    if (!file) return FailBool(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_WRITE)) return FailBool(ERROR_ACCESS_DENIED);
    size_t total = 0;
    while (total < size) {
      ssize_t put = ::write(file->fd, static_cast<const char*>(buffer) + total, size - total);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        if (written) *written = static_cast<DWORD>(total);
        return FailBool(host::ErrorFromErrno(put < 0 ? errno : ENOSPC));
      }
      total += static_cast<size_t>(put);
    }
    if (written) *written = static_cast<DWORD>(total);
    MarkWritten(file);
    return TRUE;
  }

  BOOL CloseFile(HANDLE handle) override {
    HostFile* file = static_cast<HostFile*>(handle);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (!files_.erase(file)) return FailBool(ERROR_INVALID_HANDLE);
      ForgetLocked(file);
    }
    int result = ::close(file->fd);
    int saved = errno;
    delete file;
    if (result != 0) return FailBool(host::ErrorFromErrno(saved));
    return TRUE;
  }

  IFileStream* OpenStream(const char* path, const char* mode) override;

  // --- initialisation files -----------------------------------------------

  DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* returned,
                                 DWORD size, const char* fileName) override {
    if (!returned || size == 0) return 0;
    std::string text;
    bool exists = ReadProfile(fileName, &text);
    std::string result;
    bool list = !section || !key;
    bool found = true;
    if (!section) {
      result = host::ProfileSectionNames(text);
    } else if (!key) {
      result = host::ProfileKeyNames(text, section);
    } else {
      found = host::ProfileRead(text, section, key, &result);
    }
    if (!found) {
      result = defaultValue ? defaultValue : "";
      while (!result.empty() && (result.back() == ' ' || result.back() == '\t')) result.pop_back();
    }
    if (list) {
      // Names each ended by NUL, and one more NUL at the end; a list that
      // does not fit is cut and returns size - 2.
      if (result.size() + 1 > size) {
        if (size < 2) {
          returned[0] = 0;
          return 0;
        }
        std::memcpy(returned, result.data(), size - 2);
        returned[size - 2] = 0;
        returned[size - 1] = 0;
        return size - 2;
      }
      std::memcpy(returned, result.data(), result.size());
      returned[result.size()] = 0;
      if (result.empty() && size > 1) returned[1] = 0;
      return static_cast<DWORD>(result.size());
    }
    DWORD length = static_cast<DWORD>(std::min<size_t>(result.size(), size - 1));
    std::memcpy(returned, result.data(), length);
    returned[length] = 0;
    if (!exists || !found) QelSetLastError(ERROR_FILE_NOT_FOUND);
    return length;
  }

  BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                  const char* fileName) override {
    if (!section) {
      if (!key && !value) return TRUE;  // flushes the cache; nothing is cached here
      return FailBool(ERROR_INVALID_PARAMETER);
    }
    if (!fileName) return FailBool(ERROR_INVALID_PARAMETER);
    ResolvedPath resolved;
    DWORD error = Resolve(ProfilePath(fileName).c_str(), &resolved);
    if (error) return FailBool(error);
    std::string text;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (resolved.exists) {
      struct stat st;
      if (::stat(resolved.host.c_str(), &st) != 0) return FailBool(host::ErrorFromErrno(errno));
      if (S_ISDIR(st.st_mode)) return FailBool(ERROR_ACCESS_DENIED);
      attributes = AttributesOf(resolved.host, st);
      if (attributes & FILE_ATTRIBUTE_READONLY) return FailBool(ERROR_ACCESS_DENIED);
      if (!ReadWhole(resolved.host, &text)) return FailBool(host::ErrorFromErrno(errno));
    }
    std::string changed = host::ProfileWrite(text, section, key, value);
    if (changed == text && (resolved.exists || changed.empty())) return TRUE;
    // Replaced at once: a reader never sees half a file.
    std::string temp = resolved.host + ".qeltmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return FailBool(host::ErrorFromErrno(errno));
    bool ok = WriteAll(fd, changed);
    int saved = errno;
    if (::close(fd) != 0 && ok) {
      ok = false;
      saved = errno;
    }
    if (ok && ::rename(temp.c_str(), resolved.host.c_str()) != 0) {
      ok = false;
      saved = errno;
    }
    if (!ok) {
      ::unlink(temp.c_str());
      return FailBool(host::ErrorFromErrno(saved));
    }
    StoreAttributes(resolved.host, (attributes & kStoredAttributes) | FILE_ATTRIBUTE_ARCHIVE);
    return TRUE;
  }

  // --- folders of the process ---------------------------------------------

  DWORD GetTempPathA(DWORD size, char* buffer) override {
    std::string path = config_.tempPath;
    if (path.empty() || path.back() != '\\') path += '\\';
    EnsureFolders(path);
    return CopyOut(path, size, buffer);
  }

  DWORD GetCurrentDirectoryA(DWORD size, char* buffer) override { return CopyOut(config_.currentDir, size, buffer); }

  // --- shared with the streams --------------------------------------------

  HostFile* Open(const char* path, DWORD access, DWORD shareMode, DWORD disposition, DWORD flagsAndAttributes,
                 bool append);

  void MarkWritten(HostFile* file) {
    if (file->archived) return;
    file->archived = true;
    struct stat st;
    if (::stat(file->host.c_str(), &st) == 0) {
      DWORD attributes = AttributesOf(file->host, st);
      if (!(attributes & FILE_ATTRIBUTE_ARCHIVE)) {
        StoreAttributes(file->host, (attributes & kStoredAttributes) | FILE_ATTRIBUTE_ARCHIVE);
      }
    }
  }

  void Release(HostFile* file) {
    std::lock_guard<std::mutex> guard(mutex_);
    ForgetLocked(file);
  }

 private:
  static HANDLE FailHandle(DWORD error) {
    QelSetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  static DWORD FailPointer(DWORD error) {
    QelSetLastError(error);
    return INVALID_SET_FILE_POINTER;
  }

  DWORD Resolve(const char* path, ResolvedPath* resolved) {
    if (!path) return ERROR_INVALID_PARAMETER;
    return host::ResolveWindowsPath(config_, path, host::kParseNone, resolved);
  }

  bool ReadStored(const std::string& hostPath, DWORD* stored) {
    char text[32];
    ssize_t length = ::getxattr(hostPath.c_str(), kAttributesName, text, sizeof text - 1);
    if (length < 0) {
      if (errno != ENOTSUP) return false;
      std::lock_guard<std::mutex> guard(attributesMutex_);
      auto it = memoryAttributes_.find(hostPath);
      if (it == memoryAttributes_.end()) return false;
      *stored = it->second;
      return true;
    }
    text[length] = 0;
    *stored = static_cast<DWORD>(std::strtoul(text, nullptr, 10));
    return true;
  }

  DWORD AttributesOf(const std::string& hostPath, const struct stat& st) {
    DWORD stored = 0;
    bool has = ReadStored(hostPath, &stored);
    stored &= kStoredAttributes;
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY | stored;
    if (!has) return FILE_ATTRIBUTE_ARCHIVE;
    return stored ? stored : FILE_ATTRIBUTE_NORMAL;
  }

  bool StoreAttributes(const std::string& hostPath, DWORD attributes) {
    char text[32];
    int length = std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(attributes));
    if (::setxattr(hostPath.c_str(), kAttributesName, text, static_cast<size_t>(length), 0) == 0) return true;
    if (errno != ENOTSUP) return false;
    // A host file system without user attributes: kept for this process only.
    std::lock_guard<std::mutex> guard(attributesMutex_);
    memoryAttributes_[hostPath] = attributes;
    return true;
  }

  // A deleted file's attributes must not pass to a new file of that name.
  void ForgetAttributes(const std::string& hostPath) {
    std::lock_guard<std::mutex> guard(attributesMutex_);
    memoryAttributes_.erase(hostPath);
  }

  void AddEntry(FindState* state, const std::string& foldedPattern, const std::string& name,
                const std::string& hostPath, const std::string& foldedName) {
    if (!NameMatches(foldedPattern, foldedName)) return;
    struct stat st;
    if (::stat(hostPath.c_str(), &st) != 0) return;
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = AttributesOf(hostPath, st);
    data.ftCreationTime = FileTimeOf(st.st_mtim);
    data.ftLastAccessTime = FileTimeOf(st.st_atim);
    data.ftLastWriteTime = FileTimeOf(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
      unsigned long long size = static_cast<unsigned long long>(st.st_size);
      data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
      data.nFileSizeLow = static_cast<DWORD>(size);
    }
    if (name.size() >= sizeof data.cFileName) return;  // not reachable through the A functions
    std::memcpy(data.cFileName, name.c_str(), name.size() + 1);
    state->entries.push_back(data);
  }

  HostFile* Lookup(HANDLE handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto* file = static_cast<HostFile*>(handle);
    return files_.count(file) ? file : nullptr;
  }

  DWORD CheckShareLocked(const FileId& id, DWORD access, DWORD share) {
    auto range = open_.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) {
      const OpenEntry& other = *it->second;
      if ((access & GENERIC_READ) && !(other.share & FILE_SHARE_READ)) return ERROR_SHARING_VIOLATION;
      if ((access & GENERIC_WRITE) && !(other.share & FILE_SHARE_WRITE)) return ERROR_SHARING_VIOLATION;
      if ((other.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return ERROR_SHARING_VIOLATION;
      if ((other.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return ERROR_SHARING_VIOLATION;
    }
    return 0;
  }

  void ForgetLocked(HostFile* file) {
    auto range = open_.equal_range(file->id);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == file->entry) {
        open_.erase(it);
        break;
      }
    }
    delete file->entry;
    file->entry = nullptr;
  }

  std::string ProfilePath(const char* fileName) const {
    std::string name = fileName ? fileName : "win.ini";
    // A bare file name lives in the Windows folder.
    if (name.find_first_of("\\/:") == std::string::npos) return config_.windowsDir + "\\" + name;
    return name;
  }

  bool ReadProfile(const char* fileName, std::string* text) {
    ResolvedPath resolved;
    if (Resolve(ProfilePath(fileName).c_str(), &resolved) != 0 || !resolved.exists) return false;
    return ReadWhole(resolved.host, text);
  }

  static bool ReadWhole(const std::string& hostPath, std::string* text) {
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[8192];
    text->clear();
    for (;;) {
      ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
      }
      if (got == 0) break;
      text->append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
  }

  static bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t put = ::write(fd, text.data() + done, text.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        if (put == 0) errno = ENOSPC;
        return false;
      }
      done += static_cast<size_t>(put);
    }
    return true;
  }

  // Creates every missing folder of a Windows path (drive folder included).
  void EnsureFolders(const std::string& path) {
    host::WindowsPath parsed;
    if (host::ParseWindowsPath(config_, path, host::kParseNone, &parsed) != 0) return;
    size_t skip = 0;
    std::string current = host::BaseFolder(config_, parsed, &skip);
    if (skip == 0) ::mkdir(config_.root.c_str(), 0755);
    ::mkdir(current.c_str(), 0755);
    for (size_t i = skip; i < parsed.parts.size(); ++i) {
      const std::string& part = parsed.parts[i];
      std::string found = host::FindInFolder(current, part, config_.codePage);
      bool missing = found.empty();
      if (missing && !host::HostNameOf(part, config_.codePage, &found)) return;
      current += "/" + found;
      if (missing) ::mkdir(current.c_str(), 0755);
    }
  }

  // Windows' rule for handing out a path: its length without the NUL when
  // it fits, else the size needed with the NUL (the buffer untouched).
  static DWORD CopyOut(const std::string& text, DWORD size, char* buffer) {
    if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
  }

  HostConfig config_;
  std::mutex mutex_;  // handle tables
  std::set<HostFile*> files_;
  std::set<FindState*> finds_;
  std::multimap<FileId, OpenEntry*> open_;
  std::mutex attributesMutex_;
  std::map<std::string, DWORD> memoryAttributes_;
};

HostFile* HostFileSystem::Open(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                               DWORD flagsAndAttributes, bool append) {
  if (disposition < CREATE_NEW || disposition > kTruncateExisting) {
    QelSetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ResolvedPath resolved;
  DWORD error = Resolve(path, &resolved);
  bool writing = (access & GENERIC_WRITE) != 0;
  bool truncate = disposition == CREATE_ALWAYS || disposition == kTruncateExisting;
  DWORD newAttributes = (flagsAndAttributes & kStoredAttributes) | FILE_ATTRIBUTE_ARCHIVE;
  if (!error && resolved.exists) {
    struct stat st;
    if (::stat(resolved.host.c_str(), &st) != 0) {
      error = host::ErrorFromErrno(errno);
    } else if (S_ISDIR(st.st_mode)) {
      error = ERROR_ACCESS_DENIED;
    } else if (disposition == CREATE_NEW) {
      error = ERROR_FILE_EXISTS;
    } else {
      DWORD attributes = AttributesOf(resolved.host, st);
      if ((writing || truncate) && (attributes & FILE_ATTRIBUTE_READONLY)) error = ERROR_ACCESS_DENIED;
      // Replacing a hidden or system file needs the same attributes again.
      DWORD guarded = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
      if (disposition == CREATE_ALWAYS && (guarded & ~flagsAndAttributes)) error = ERROR_ACCESS_DENIED;
    }
  } else if (!error && (disposition == OPEN_EXISTING || disposition == kTruncateExisting)) {
    error = ERROR_FILE_NOT_FOUND;
  }
  if (error) {
    QelSetLastError(error);
    return nullptr;
  }
  int flags = O_CLOEXEC;
  // Replacing a file truncates it whatever the access asked for.
  if (((access & GENERIC_READ) && writing) || (truncate && !writing)) {
    flags |= O_RDWR;
  } else if (writing) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  if (append) flags |= O_APPEND;
  bool created = !resolved.exists;
  if (created) flags |= O_CREAT | O_EXCL;
  int fd = ::open(resolved.host.c_str(), flags, 0644);
  if (fd < 0) {
    QelSetLastError(host::ErrorFromErrno(errno));
    return nullptr;
  }
  struct stat st;
  ::fstat(fd, &st);
  auto* file = new HostFile;
  file->fd = fd;
  file->host = resolved.host;
  file->id = FileId{st.st_dev, st.st_ino};
  file->access = access;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    error = CheckShareLocked(file->id, access, shareMode);
    if (!error) {
      file->entry = new OpenEntry{access, shareMode};
      open_.emplace(file->id, file->entry);
      files_.insert(file);
    }
  }
  if (error) {
    ::close(fd);
    if (created) ::unlink(resolved.host.c_str());
    delete file;
    QelSetLastError(error);
    return nullptr;
  }
  if (truncate && !created && ::ftruncate(fd, 0) != 0) {
    DWORD code = host::ErrorFromErrno(errno);
    CloseFile(file);
    QelSetLastError(code);
    return nullptr;
  }
  if (created || truncate) {
    StoreAttributes(resolved.host, newAttributes);
    file->archived = true;
  }
  // Opening an existing file with OPEN_ALWAYS or CREATE_ALWAYS succeeds and says so.
  QelSetLastError(!created && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                          : NO_ERROR);
  return file;
}

// fopen's stream over a file of the adapter, buffered as the C runtime
// buffers it: in text mode "\n" is written as "\r\n", "\r\n" reads back as
// "\n" and a Ctrl+Z ends the file.
class HostStream : public IFileStream {
 public:
  HostStream(HostFileSystem* files, HostFile* file, bool text, bool canRead, bool canWrite)
      : files_(files), file_(file), text_(text), canRead_(canRead), canWrite_(canWrite) {}

  size_t Read(void* buffer, size_t size, size_t count) override {
    if (!canRead_) {
      failed_ = true;
      return 0;
    }
    if (size == 0 || count == 0 || !Flush()) return 0;
    size_t wanted = size * count;
    auto* out = static_cast<char*>(buffer);
    size_t produced = 0;
    while (produced < wanted && !atEnd_) {
      int c = Next();
      if (c < 0) break;
      if (text_) {
        if (c == 0x1A) {
          atEnd_ = true;
          break;
        }
        if (c == '\r' && Peek() == '\n') {
          Next();
          c = '\n';
        }
      }
      out[produced++] = static_cast<char>(c);
    }
    return produced / size;
  }

  size_t Write(const void* buffer, size_t size, size_t count) override {
    if (!canWrite_) {
      failed_ = true;
      return 0;
    }
    if (size == 0 || count == 0) return 0;
    DropReadAhead();
    const auto* in = static_cast<const char*>(buffer);
    size_t total = size * count;
    for (size_t i = 0; i < total; ++i) {
      if (text_ && in[i] == '\n') pending_ += '\r';
      pending_ += in[i];
      if (pending_.size() >= kStreamBuffer && !Flush()) return i / size;
    }
    return count;
  }

  int Close() override {
    bool ok = Flush() && !failed_;
    files_->Release(file_);
    if (::close(file_->fd) != 0) ok = false;
    delete file_;
    delete this;
    return ok ? 0 : -1;
  }

 private:
  ~HostStream() override = default;

  bool Flush() {
    if (pending_.empty()) return true;
    size_t done = 0;
    while (done < pending_.size()) {
      ssize_t put = ::write(file_->fd, pending_.data() + done, pending_.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        failed_ = true;
        pending_.clear();
        QelSetLastError(host::ErrorFromErrno(put < 0 ? errno : ENOSPC));
        return false;
      }
      done += static_cast<size_t>(put);
    }
    pending_.clear();
    files_->MarkWritten(file_);
    return true;
  }

  bool Fill() {
    if (readPos_ < readAhead_.size()) return true;
    readAhead_.resize(kStreamBuffer);
    readPos_ = 0;
    for (;;) {
      ssize_t got = ::read(file_->fd, readAhead_.data(), readAhead_.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        if (got < 0) failed_ = true;
        readAhead_.clear();
        return false;
      }
      readAhead_.resize(static_cast<size_t>(got));
      return true;
    }
  }

  int Next() { return Fill() ? static_cast<unsigned char>(readAhead_[readPos_++]) : -1; }
  int Peek() { return Fill() ? static_cast<unsigned char>(readAhead_[readPos_]) : -1; }

  // Switching from reading to writing: the file position goes back to what
  // the reader has consumed.
  void DropReadAhead() {
    if (readPos_ < readAhead_.size()) {
      ::lseek(file_->fd, -static_cast<off_t>(readAhead_.size() - readPos_), SEEK_CUR);
    }
    readAhead_.clear();
    readPos_ = 0;
  }

  HostFileSystem* files_;
  HostFile* file_;
  bool text_;
  bool canRead_;
  bool canWrite_;
  bool failed_ = false;
  bool atEnd_ = false;
  std::string pending_;
  std::vector<char> readAhead_;
  size_t readPos_ = 0;
};

IFileStream* HostFileSystem::OpenStream(const char* path, const char* mode) {
  if (!path || !mode || !*mode) {
    QelSetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool plus = std::strchr(mode + 1, '+') != nullptr;
  bool binary = std::strchr(mode + 1, 'b') != nullptr;
  DWORD access = 0;
  DWORD disposition = 0;
  bool append = false;
  switch (mode[0]) {
    case 'r':
      access = GENERIC_READ | (plus ? GENERIC_WRITE : 0);
      disposition = OPEN_EXISTING;
      break;
    case 'w':
      access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
      disposition = CREATE_ALWAYS;
      break;
    case 'a':
      access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
      disposition = OPEN_ALWAYS;
      append = true;
      break;
    default:
      QelSetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
  // The C runtime shares its files for reading and writing.
  HostFile* file = Open(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition, FILE_ATTRIBUTE_NORMAL, append);
  if (!file) return nullptr;
  {
    // The stream owns the file from here on; it is no longer a handle.
    std::lock_guard<std::mutex> guard(mutex_);
    files_.erase(file);
  }
  QelSetLastError(NO_ERROR);
  return new HostStream(this, file, !binary, (access & GENERIC_READ) != 0, (access & GENERIC_WRITE) != 0);
}

}  // namespace

std::unique_ptr<IFileSystem> MakeHostFileSystem(const HostConfig& config) {
  return std::make_unique<HostFileSystem>(config);
}

}  // namespace qel
