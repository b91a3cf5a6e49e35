#include "platform/host/path_map.h"

#include <dirent.h>
#include <errno.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace qel::host {

namespace {

bool IsLeadByte936(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Upper case of one byte of code page 1252, as NTFS folds the Unicode
// character it stands for.
unsigned char Upper1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // s caron
    case 0x9C: return 0x8C;  // oe
    case 0x9E: return 0x8E;  // z caron
    case 0xFF: return 0x9F;  // y diaeresis
    default: return c;
  }
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Characters Windows refuses in a file name.
bool IsInvalidNameChar(unsigned char c, bool allowWildcards) {
  if (c < 32) return true;
  if (c == '*' || c == '?') return !allowWildcards;
  return c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

std::vector<std::string> SplitComponents(const std::string& text) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : text) {
    if (IsSeparator(c)) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

// Applies "." and ".." and Windows' removal of trailing dots and blanks.
void AppendComponents(const std::vector<std::string>& in, std::vector<std::string>* out) {
  for (std::string part : in) {
    if (part == ".") continue;
    if (part == "..") {
      if (!out->empty()) out->pop_back();
      continue;
    }
    size_t end = part.size();
    while (end > 0 && (part[end - 1] == '.' || part[end - 1] == ' ')) --end;
    if (end > 0) part.resize(end);
    out->push_back(part);
  }
}

DWORD ParseDepth(const HostConfig& config, const std::string& path, unsigned flags, WindowsPath* out, int depth) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (path.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  WindowsPath result;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // UNC: \\SERVER\SHARE\rest through the share map.
    std::vector<std::string> unc = SplitComponents(path.substr(2));
    if (unc.size() < 2) return ERROR_BAD_NETPATH;
    const std::string* target = nullptr;
    bool serverKnown = false;
    for (const auto& share : config.shares) {
      std::vector<std::string> known = SplitComponents(share.first);
      if (known.size() == 2 && SameName(known[0], unc[0], config.codePage)) {
        serverKnown = true;
        if (SameName(known[1], unc[1], config.codePage)) target = &share.second;
      }
    }
    if (!target) return serverKnown ? ERROR_BAD_NET_NAME : ERROR_BAD_NETPATH;
    if (depth > 4) return ERROR_BAD_NETPATH;
    DWORD error = ParseDepth(config, *target, kParseNone, &result, depth + 1);
    if (error) return error;
    std::vector<std::string> tail(unc.begin() + 2, unc.end());
    AppendComponents(tail, &result.parts);
  } else if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    result.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    std::string rest = path.substr(2);
    if (!rest.empty() && !IsSeparator(rest[0])) {
      // "C:name" is relative to the drive's current folder; only the
      // current drive has one here, other drives use their root.
      WindowsPath current;
      if (depth == 0 && ParseDepth(config, config.currentDir, kParseNone, &current, depth + 1) == 0 &&
          current.drive == result.drive) {
        result.parts = current.parts;
      }
    }
    AppendComponents(SplitComponents(rest), &result.parts);
  } else if (IsSeparator(path[0])) {
    // "\x": the root of the current drive.
    WindowsPath current;
    DWORD error = ParseDepth(config, config.currentDir, kParseNone, &current, depth + 1);
    if (error) return error;
    result.drive = current.drive;
    AppendComponents(SplitComponents(path), &result.parts);
  } else {
    // Relative to the current folder.
    if (depth > 0) return ERROR_PATH_NOT_FOUND;
    DWORD error = ParseDepth(config, config.currentDir, kParseNone, &result, depth + 1);
    if (error) return error;
    AppendComponents(SplitComponents(path), &result.parts);
  }
  std::string stored;
  for (size_t i = 0; i < result.parts.size(); ++i) {
    bool last = i + 1 == result.parts.size();
    for (unsigned char c : result.parts[i]) {
      if (IsInvalidNameChar(c, last && (flags & kAllowWildcardsInLast))) return ERROR_INVALID_NAME;
    }
    if (!HostNameOf(result.parts[i], config.codePage, &stored)) return ERROR_INVALID_NAME;
  }
  *out = result;
  return 0;
}

bool IsDirectory(const std::string& hostPath) {
  struct stat st;
  return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& hostPath) {
  struct stat st;
  return ::lstat(hostPath.c_str(), &st) == 0;
}

// The case-insensitive scan: reads the whole folder.
std::string ScanFolder(const std::string& folder, const std::string& name, unsigned codePage) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::string();
  std::string wanted = FoldCase(name, codePage);
  std::string match;
  std::string ansi;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (!AnsiOfStoredName(candidate, codePage, &ansi)) continue;
    if (ansi.size() == name.size() && FoldCase(ansi, codePage) == wanted) {
      // Several host names can fold to one Windows name; take the smallest
      // so that every call picks the same one.
      if (match.empty() || candidate < match) match = candidate;
    }
  }
  ::closedir(dir);
  return match;
}

// Folded name -> stored names of the folders looked into lately, so that a
// name missing from a big folder costs a table lookup, not a read of the
// folder. Every indexed folder is watched through inotify, which reports
// each entry made, removed or renamed in it, by this process or any other,
// before the call that made the change returns; the index applies those
// reports before it answers, so it never lags behind the folder. (A
// folder's modification time cannot serve: it moves in clock ticks of
// several milliseconds, and changes within one tick leave it as it was.)
// Folders that cannot be watched are scanned as before.
class NameIndex {
 public:
  static NameIndex& Instance() {
    static NameIndex* index = new NameIndex;  // kept to the end: lookups may come from static destructors
    return *index;
  }

  // False when the folder has no index and cannot get one (the caller
  // scans); else *found is the stored name, or empty when none matches.
  bool Find(const std::string& folder, const std::string& name, unsigned codePage, std::string* found) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (notify_ < 0) return false;
    Drain();
    struct stat st;
    auto it = folders_.find(folder);
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      if (it != folders_.end()) Drop(it);
      found->clear();
      return true;
    }
    // Another folder now at this path (a parent renamed or replaced), or
    // another code page: a fresh index.
    if (it != folders_.end() &&
        (it->second.device != st.st_dev || it->second.inode != st.st_ino || it->second.codePage != codePage)) {
      Drop(it);
      it = folders_.end();
    }
    if (it == folders_.end()) {
      it = Build(folder, codePage, st);
      if (it == folders_.end()) return false;
    }
    it->second.lastUse = ++clock_;
    auto hit = it->second.names.find(FoldCase(name, codePage));
    if (hit == it->second.names.end()) {
      found->clear();
    } else {
      *found = hit->second.front();
    }
    return true;
  }

  size_t FolderCount() {
    std::lock_guard<std::mutex> guard(mutex_);
    Drain();
    return folders_.size();
  }

 private:
  // Bounds of the memory the index holds; the folders used longest ago go first.
  static const size_t kMaxFolders = 64;
  static const size_t kMaxNames = 300000;
  static const uint32_t kWatchMask =
      IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

  struct Folder {
    int watch = -1;
    dev_t device = 0;
    ino_t inode = 0;
    unsigned codePage = 0;
    std::unordered_map<std::string, std::vector<std::string>> names;  // folded -> stored, smallest first
    size_t count = 0;
    unsigned long long lastUse = 0;
  };
  using FolderMap = std::unordered_map<std::string, Folder>;

  NameIndex() : notify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

  FolderMap::iterator Build(const std::string& folder, unsigned codePage, const struct stat& st) {
    // Watched before it is read: a change while reading is reported, and
    // the reports apply to the index whatever the reading saw.
    int watch = ::inotify_add_watch(notify_, folder.c_str(), kWatchMask);
    if (watch < 0) return folders_.end();
    if (watches_.count(watch)) return folders_.end();  // the same folder under another spelling
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
      ::inotify_rm_watch(notify_, watch);
      return folders_.end();
    }
    Folder index;
    index.watch = watch;
    index.device = st.st_dev;
    index.inode = st.st_ino;
    index.codePage = codePage;
    while (struct dirent* entry = ::readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      Add(&index, entry->d_name);
    }
    ::closedir(dir);
    totalNames_ += index.count;
    watches_[watch] = folder;
    auto it = folders_.emplace(folder, std::move(index)).first;
    it->second.lastUse = ++clock_;
    while (folders_.size() > kMaxFolders || totalNames_ > kMaxNames) {
      auto oldest = folders_.end();
      for (auto other = folders_.begin(); other != folders_.end(); ++other) {
        if (other != it && (oldest == folders_.end() || other->second.lastUse < oldest->second.lastUse)) oldest = other;
      }
      if (oldest == folders_.end()) break;
      Drop(oldest);
    }
    return it;
  }

  void Drop(FolderMap::iterator it) {
    ::inotify_rm_watch(notify_, it->second.watch);
    watches_.erase(it->second.watch);
    totalNames_ -= it->second.count;
    folders_.erase(it);
  }

  void DropAll() {
    while (!folders_.empty()) Drop(folders_.begin());
  }

  // Host names the program cannot name are not indexed: no lookup can reach them.
  static void Add(Folder* index, const std::string& stored) {
    std::string ansi;
    if (!AnsiOfStoredName(stored, index->codePage, &ansi)) return;
    std::vector<std::string>& same = index->names[FoldCase(ansi, index->codePage)];
    auto at = std::lower_bound(same.begin(), same.end(), stored);
    if (at != same.end() && *at == stored) return;
    same.insert(at, stored);
    ++index->count;
  }

  static void Remove(Folder* index, const std::string& stored) {
    std::string ansi;
    if (!AnsiOfStoredName(stored, index->codePage, &ansi)) return;
    auto hit = index->names.find(FoldCase(ansi, index->codePage));
    if (hit == index->names.end()) return;
    auto at = std::find(hit->second.begin(), hit->second.end(), stored);
    if (at == hit->second.end()) return;
    hit->second.erase(at);
    --index->count;
    if (hit->second.empty()) index->names.erase(hit);
  }

  // Applies every change reported since the last call.
  void Drain() {
    alignas(struct inotify_event) char buffer[64 * 1024];
    for (;;) {
      ssize_t got = ::read(notify_, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return;  // EAGAIN: nothing more
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        Apply(*event);
      }
    }
  }

  void Apply(const struct inotify_event& event) {
    if (event.mask & IN_Q_OVERFLOW) {
      DropAll();  // reports were lost: nothing indexed can be trusted
      return;
    }
    auto watch = watches_.find(event.wd);
    if (watch == watches_.end()) return;  // a folder dropped already
    auto it = folders_.find(watch->second);
    if (it == folders_.end()) return;
    if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
      Drop(it);
      return;
    }
    if (event.len == 0) return;
    std::string stored(event.name);  // padded with NULs
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
      size_t before = it->second.count;
      Add(&it->second, stored);
      totalNames_ += it->second.count - before;
    } else if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
      size_t before = it->second.count;
      Remove(&it->second, stored);
      totalNames_ -= before - it->second.count;
    }
  }

  std::mutex mutex_;
  int notify_;
  FolderMap folders_;
  std::unordered_map<int, std::string> watches_;  // watch -> folder
  unsigned long long clock_ = 0;
  size_t totalNames_ = 0;
};

}  // namespace

std::string FoldCase(const std::string& text, unsigned codePage) {
  std::string folded = text;
  for (size_t i = 0; i < folded.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(folded[i]);
    if (codePage == 936) {
      if (IsLeadByte936(c)) {
        ++i;  // the trail byte is part of one character
        continue;
      }
      if (c >= 'a' && c <= 'z') folded[i] = static_cast<char>(c - 'a' + 'A');
    } else {
      folded[i] = static_cast<char>(Upper1252(c));
    }
  }
  return folded;
}

bool SameName(const std::string& a, const std::string& b, unsigned codePage) {
  return a.size() == b.size() && FoldCase(a, codePage) == FoldCase(b, codePage);
}

bool AnsiOfStoredName(const std::string& stored, unsigned codePage, std::string* ansi) {
  switch (Utf8ToAnsi(stored, codePage, ansi)) {
    case NameConversion::kExact: return true;
    case NameConversion::kSubstituted: return false;
    case NameConversion::kNotUtf8: break;
  }
  *ansi = stored;
  return true;
}

bool HostNameOf(const std::string& ansi, unsigned codePage, std::string* stored) {
  return AnsiToUtf8(ansi, codePage, stored);
}

DWORD ParseWindowsPath(const HostConfig& config, const std::string& path, unsigned flags, WindowsPath* out) {
  return ParseDepth(config, path, flags, out, 0);
}

std::string DriveFolder(const HostConfig& config, char drive) {
  std::string letter(1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive))));
  std::string found = FindInFolder(config.root, letter, config.codePage);
  return config.root + "/" + (found.empty() ? letter : found);
}

namespace {

// A name not found under its own spelling, without regard to case.
std::string FindFolded(const std::string& folder, const std::string& name, unsigned codePage) {
  std::string found;
  if (NameIndex::Instance().Find(folder, name, codePage, &found)) return found;
  return ScanFolder(folder, name, codePage);
}

}  // namespace

std::string FindInFolder(const std::string& folder, const std::string& name, unsigned codePage) {
  std::string stored;
  if (!HostNameOf(name, codePage, &stored)) return std::string();
  if (Exists(folder + "/" + stored)) return stored;
  return FindFolded(folder, name, codePage);
}

size_t IndexedFolderCount() { return NameIndex::Instance().FolderCount(); }

std::string BaseFolder(const HostConfig& config, const WindowsPath& parsed, size_t* skip) {
  *skip = 0;
  std::string base = DriveFolder(config, parsed.drive);
  for (const auto& mount : config.mounts) {
    WindowsPath at;
    if (ParseWindowsPath(config, mount.first, kParseNone, &at) != 0 || at.drive != parsed.drive) continue;
    // A whole drive kept elsewhere; a mounted folder on it still wins.
    if (at.parts.empty()) {
      if (*skip == 0) base = mount.second;
      continue;
    }
    if (at.parts.size() > parsed.parts.size() || at.parts.size() <= *skip) continue;
    bool below = true;
    for (size_t i = 0; below && i < at.parts.size(); ++i) below = SameName(at.parts[i], parsed.parts[i], config.codePage);
    if (!below) continue;
    *skip = at.parts.size();
    base = mount.second;
  }
  return base;
}

DWORD ResolveParsed(const HostConfig& config, const WindowsPath& parsed, ResolvedPath* out) {
  ResolvedPath result;
  size_t skip = 0;
  result.host = BaseFolder(config, parsed, &skip);
  if (!IsDirectory(result.host)) {
    // No such drive; or a mounted folder that is missing: the folder itself
    // does not exist, and nothing below it can.
    if (skip == 0 || skip < parsed.parts.size()) return ERROR_PATH_NOT_FOUND;
    result.name = parsed.parts.back();
    *out = result;
    return 0;
  }
  if (parsed.parts.empty()) {
    result.exists = true;
    result.isRoot = true;
    result.name = std::string(1, parsed.drive) + ":";
    *out = result;
    return 0;
  }
  if (skip == parsed.parts.size()) {
    result.exists = true;
    result.name = parsed.parts.back();
    *out = result;
    return 0;
  }
  for (size_t i = skip; i < parsed.parts.size(); ++i) {
    bool last = i + 1 == parsed.parts.size();
    std::string stored;
    if (!HostNameOf(parsed.parts[i], config.codePage, &stored)) return ERROR_INVALID_NAME;
    // The exact spelling's stat also tells whether a folder on the way is one.
    std::string found;
    struct stat st;
    bool folderKnown = false;
    if (::lstat((result.host + "/" + stored).c_str(), &st) == 0) {
      found = stored;
      folderKnown = !S_ISLNK(st.st_mode);
    } else {
      found = FindFolded(result.host, parsed.parts[i], config.codePage);
    }
    if (found.empty()) {
      if (!last) return ERROR_PATH_NOT_FOUND;
      result.host += "/" + stored;
      result.name = parsed.parts[i];
      result.exists = false;
      *out = result;
      return 0;
    }
    result.host += "/" + found;
    if (!last && !(folderKnown ? S_ISDIR(st.st_mode) : IsDirectory(result.host))) return ERROR_PATH_NOT_FOUND;
    if (!AnsiOfStoredName(found, config.codePage, &result.name)) result.name = parsed.parts[i];
  }
  result.exists = true;
  *out = result;
  return 0;
}

DWORD ResolveWindowsPath(const HostConfig& config, const std::string& path, unsigned flags, ResolvedPath* out) {
  WindowsPath parsed;
  DWORD error = ParseWindowsPath(config, path, flags, &parsed);
  if (error) return error;
  return ResolveParsed(config, parsed, out);
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0: return 0;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace qel::host

namespace qel {

std::string HostPathOf(const HostConfig& config, const std::string& windowsPath) {
  host::WindowsPath parsed;
  if (host::ParseWindowsPath(config, windowsPath, host::kParseNone, &parsed) != 0) return std::string();
  size_t skip = 0;
  std::string result = host::BaseFolder(config, parsed, &skip);
  // A drive of the root (not one mounted whole) by its letter as written.
  if (skip == 0 && result == host::DriveFolder(config, parsed.drive))
    result = config.root + "/" + std::string(1, parsed.drive);
  std::string stored;
  for (size_t i = skip; i < parsed.parts.size(); ++i) {
    if (!host::HostNameOf(parsed.parts[i], config.codePage, &stored)) return std::string();
    result += "/" + stored;
  }
  return result;
}

}  // namespace qel
