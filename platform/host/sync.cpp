// Events, threads and mutexes on the host, with the waits of Windows.
//
// Every handle of one sync port lives in its handle table; a handle that is
// not there (null included) makes a wait fail with ERROR_INVALID_HANDLE. All
// state changes happen under one lock, and every waiter sleeps on one
// condition variable: the objects are few and waits are rare.
//
// Named mutexes must be seen by other processes. Each name is a lock file in
// the mutex folder; a process that holds a handle to the mutex keeps an
// open-file-description read lock on byte 0 (so the mutex "exists" while any
// process has it open), and its owner holds a write lock on byte 1. Both
// kinds of lock die with the process, as a Windows handle does. A waiter for
// a mutex owned elsewhere polls, since the kernel cannot wake it.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <atomic>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/host_ports.h"

namespace qel {
namespace {

constexpr auto kCrossProcessPoll = std::chrono::milliseconds(10);

DWORD CurrentThread() {
  thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
  return id;
}

std::string MutexFolder(const HostConfig& config) {
  if (!config.mutexDir.empty()) return config.mutexDir;
  if (const char* dir = getenv("QEL_MUTEX_DIR"); dir != nullptr && *dir != 0) return dir;
  if (const char* dir = getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir != 0) return std::string(dir) + "/qel-mutex";
  return "/tmp/qel-mutex";
}

// "Local\X" is "X" in the session's namespace, as on Windows.
std::string SessionName(const char* name) {
  std::string n = name;
  if (n.compare(0, 6, "Local\\") == 0) n.erase(0, 6);
  return n;
}

bool SetLock(int fd, short type, off_t start) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = 1;
  while (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// True when some other open file description holds a lock on byte `start`.
bool IsLockedElsewhere(int fd, off_t start) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

// One name's lock file as this process has it open; shared by all handles of
// this process to that name.
struct NamedMutexFile {
  std::string name;
  int fd = -1;
  int handles = 0;
};

struct SyncObject {
  enum Kind { kEvent, kThread, kMutex } kind;
  bool signalled = false;  // events and threads
  bool manualReset = false;
  DWORD owner = 0;  // mutexes: owning thread, 0 when free in this process
  int recursion = 0;
  std::shared_ptr<NamedMutexFile> file;  // named mutexes
  std::string eventName;                 // named events
  explicit SyncObject(Kind k) : kind(k) {}
};

// What the adapter's threads share with it; kept alive by running threads.
struct SyncCore {
  std::mutex lock;
  std::condition_variable changed;
  std::map<HANDLE, std::shared_ptr<SyncObject>> handles;
  std::map<std::string, std::shared_ptr<NamedMutexFile>> mutexFiles;
  std::map<std::string, std::weak_ptr<SyncObject>> namedEvents;
  std::map<std::string, std::weak_ptr<SyncObject>> namedMutexes;
};

class HostSync : public ISync {
 public:
  explicit HostSync(const HostConfig& config) : config_(config), core_(std::make_shared<SyncCore>()) {}

  ~HostSync() override {
    std::lock_guard<std::mutex> guard(core_->lock);
    for (auto& entry : core_->mutexFiles) {
      if (entry.second->fd >= 0) close(entry.second->fd);
      entry.second->fd = -1;
    }
  }

  HANDLE CreateEventA(BOOL manualReset, BOOL initialState, const char* name) override {
    std::lock_guard<std::mutex> guard(core_->lock);
    if (name != nullptr && *name != 0) {
      auto it = core_->namedEvents.find(name);
      if (it != core_->namedEvents.end()) {
        if (auto existing = it->second.lock()) {
          if (existing->kind != SyncObject::kEvent) return Fail(ERROR_INVALID_HANDLE);
          QelSetLastError(ERROR_ALREADY_EXISTS);
          return AddHandle(existing);
        }
      }
    }
    auto event = std::make_shared<SyncObject>(SyncObject::kEvent);
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    if (name != nullptr && *name != 0) {
      event->eventName = name;
      core_->namedEvents[name] = event;
    }
    QelSetLastError(ERROR_SUCCESS);
    return AddHandle(event);
  }

  BOOL SetEvent(HANDLE event) override { return ChangeEvent(event, true); }
  BOOL ResetEvent(HANDLE event) override { return ChangeEvent(event, false); }

  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
  }

  DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) override {
    if (count == 0 || count > 64 || handles == nullptr) {
      QelSetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    const DWORD self = CurrentThread();
    std::unique_lock<std::mutex> guard(core_->lock);
    std::vector<std::shared_ptr<SyncObject>> objects;
    bool crossProcess = false;
    for (DWORD i = 0; i < count; ++i) {
      auto it = core_->handles.find(handles[i]);
      if (it == core_->handles.end()) {
        QelSetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
      }
      objects.push_back(it->second);
      if (it->second->file) crossProcess = true;
    }
    for (;;) {
      if (waitAll) {
        DWORD abandonedIndex = count;
        if (TakeAll(objects, self, &abandonedIndex))
          return abandonedIndex < count ? WAIT_ABANDONED + abandonedIndex : WAIT_OBJECT_0;
      } else {
        for (DWORD i = 0; i < count; ++i) {
          bool abandoned = false;
          if (TryTake(*objects[i], self, &abandoned)) return (abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0) + i;
        }
      }
      if (milliseconds == 0) return WAIT_TIMEOUT;
      if (milliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
      if (crossProcess) {
        auto until = std::chrono::steady_clock::now() + kCrossProcessPoll;
        if (milliseconds != INFINITE && deadline < until) until = deadline;
        core_->changed.wait_until(guard, until);
      } else if (milliseconds == INFINITE) {
        core_->changed.wait(guard);
      } else {
        core_->changed.wait_until(guard, deadline);
      }
    }
  }

  HANDLE CreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD* threadId) override {
    if (start == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    auto thread = std::make_shared<SyncObject>(SyncObject::kThread);
    HANDLE handle;
    {
      std::lock_guard<std::mutex> guard(core_->lock);
      handle = AddHandle(thread);
    }
    std::shared_ptr<SyncCore> core = core_;
    auto started = std::make_shared<std::promise<DWORD>>();
    std::future<DWORD> id = started->get_future();
    try {
      std::thread([core, thread, start, parameter, started] {
        started->set_value(CurrentThread());
        start(parameter);
        std::lock_guard<std::mutex> guard(core->lock);
        thread->signalled = true;
        core->changed.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> guard(core_->lock);
      core_->handles.erase(handle);
      return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    DWORD tid = id.get();
    if (threadId != nullptr) *threadId = tid;
    QelSetLastError(ERROR_SUCCESS);
    return handle;
  }

  HANDLE CreateMutexA(BOOL initialOwner, const char* name) override {
    std::lock_guard<std::mutex> guard(core_->lock);
    if (name == nullptr || *name == 0) {
      auto mutex = std::make_shared<SyncObject>(SyncObject::kMutex);
      if (initialOwner) Own(*mutex, CurrentThread());
      QelSetLastError(ERROR_SUCCESS);
      return AddHandle(mutex);
    }
    bool existed = false;
    auto mutex = OpenNamed(SessionName(name), true, &existed);
    if (!mutex) return nullptr;
    // For a mutex that existed already the initial owner is ignored, as on Windows.
    if (!existed && initialOwner) TryTake(*mutex, CurrentThread());
    QelSetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return AddHandle(mutex);
  }

  HANDLE OpenMutexA(DWORD /*desiredAccess*/, BOOL /*inheritHandle*/, const char* name) override {
    if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> guard(core_->lock);
    bool existed = false;
    auto mutex = OpenNamed(SessionName(name), false, &existed);
    if (!mutex) return nullptr;
    QelSetLastError(ERROR_SUCCESS);
    return AddHandle(mutex);
  }

  BOOL ReleaseMutex(HANDLE handle) override {
    std::lock_guard<std::mutex> guard(core_->lock);
    auto it = core_->handles.find(handle);
    if (it == core_->handles.end() || it->second->kind != SyncObject::kMutex) return FailBool(ERROR_INVALID_HANDLE);
    SyncObject& mutex = *it->second;
    if (mutex.owner != CurrentThread() || mutex.recursion == 0) return FailBool(ERROR_NOT_OWNER);
    if (--mutex.recursion == 0) Disown(mutex);
    core_->changed.notify_all();
    return TRUE;
  }

  BOOL CloseHandle(HANDLE handle) override {
    std::lock_guard<std::mutex> guard(core_->lock);
    auto it = core_->handles.find(handle);
    if (it == core_->handles.end()) return FailBool(ERROR_INVALID_HANDLE);
    std::shared_ptr<SyncObject> object = it->second;
    core_->handles.erase(it);
    if (object->file && --object->file->handles == 0) {
      // The last handle of this process: whatever it owned is given up, and
      // the mutex no longer exists for this process.
      if (object->owner != 0) Disown(*object);
      close(object->file->fd);
      object->file->fd = -1;
      core_->mutexFiles.erase(object->file->name);
      core_->namedMutexes.erase(object->file->name);
      core_->changed.notify_all();
    }
    return TRUE;
  }

 private:
  HANDLE AddHandle(const std::shared_ptr<SyncObject>& object) {
    // Handle values are never reused, and two handles to one object differ.
    static std::atomic<uintptr_t> next{0x1000};
    HANDLE handle = reinterpret_cast<HANDLE>(next.fetch_add(4));
    core_->handles[handle] = object;
    if (object->file) ++object->file->handles;
    return handle;
  }

  static HANDLE Fail(DWORD error) {
    QelSetLastError(error);
    return nullptr;
  }
  static std::shared_ptr<SyncObject> Missing(DWORD error) {
    QelSetLastError(error);
    return nullptr;
  }
  static BOOL FailBool(DWORD error) {
    QelSetLastError(error);
    return FALSE;
  }

  BOOL ChangeEvent(HANDLE handle, bool signalled) {
    std::lock_guard<std::mutex> guard(core_->lock);
    auto it = core_->handles.find(handle);
    if (it == core_->handles.end() || it->second->kind != SyncObject::kEvent) return FailBool(ERROR_INVALID_HANDLE);
    it->second->signalled = signalled;
    if (signalled) core_->changed.notify_all();
    return TRUE;
  }

  void Own(SyncObject& mutex, DWORD self) {
    mutex.owner = self;
    mutex.recursion = 1;
  }

  void Disown(SyncObject& mutex) {
    mutex.owner = 0;
    mutex.recursion = 0;
    if (mutex.file && mutex.file->fd >= 0) {
      MarkOwned(mutex.file->fd, false);
      SetLock(mutex.file->fd, F_UNLCK, 1);
    }
  }

  // Byte 1 of the lock file says whether an owner holds the mutex; found set
  // by a new owner, it means the last owner died holding it (abandoned).
  static bool MarkOwned(int fd, bool owned) {
    char previous = '0';
    bool abandoned = pread(fd, &previous, 1, 1) == 1 && previous == '1';
    char mark = owned ? '1' : '0';
    ssize_t written = pwrite(fd, &mark, 1, 1);
    (void)written;
    return abandoned;
  }

  // Whether the object is signalled for this thread, without changing it.
  bool IsReady(SyncObject& object, DWORD self) {
    switch (object.kind) {
      case SyncObject::kEvent:
      case SyncObject::kThread:
        return object.signalled;
      case SyncObject::kMutex:
        if (object.owner == self) return true;
        if (object.owner != 0) return false;
        return !object.file || !IsLockedElsewhere(object.file->fd, 1);
    }
    return false;
  }

  // Takes a signalled object as a satisfied wait does: an auto-reset event
  // is reset, a mutex becomes owned. *abandoned tells that the mutex came
  // from an owner that ended without releasing it.
  bool TryTake(SyncObject& object, DWORD self, bool* abandoned = nullptr) {
    switch (object.kind) {
      case SyncObject::kEvent:
        if (!object.signalled) return false;
        if (!object.manualReset) object.signalled = false;
        return true;
      case SyncObject::kThread:
        return object.signalled;
      case SyncObject::kMutex:
        if (object.owner == self) {
          ++object.recursion;
          return true;
        }
        if (object.owner != 0) return false;
        if (object.file) {
          if (!SetLock(object.file->fd, F_WRLCK, 1)) return false;
          bool lost = MarkOwned(object.file->fd, true);
          if (abandoned != nullptr) *abandoned = lost;
        }
        Own(object, self);
        return true;
    }
    return false;
  }

  bool TakeAll(std::vector<std::shared_ptr<SyncObject>>& objects, DWORD self, DWORD* abandonedIndex) {
    for (auto& object : objects) {
      if (!IsReady(*object, self)) return false;
    }
    // A mutex of another process may be taken between the check and here;
    // then give back what was taken and wait on.
    std::vector<SyncObject*> taken;
    for (size_t i = 0; i < objects.size(); ++i) {
      SyncObject* object = objects[i].get();
      if (object->kind == SyncObject::kMutex) {
        bool abandoned = false;
        if (!TryTake(*object, self, &abandoned)) {
          for (SyncObject* back : taken) {
            if (--back->recursion == 0) Disown(*back);
          }
          return false;
        }
        if (abandoned && *abandonedIndex == objects.size()) *abandonedIndex = static_cast<DWORD>(i);
        taken.push_back(object);
      }
    }
    for (auto& object : objects) {
      if (object->kind != SyncObject::kMutex) TryTake(*object, self);
    }
    return true;
  }

  // The named mutex `name`, opened or created. Called with the lock held.
  std::shared_ptr<SyncObject> OpenNamed(const std::string& name, bool create, bool* existed) {
    auto known = core_->namedMutexes.find(name);
    if (known != core_->namedMutexes.end()) {
      if (auto mutex = known->second.lock()) {
        *existed = true;
        return mutex;
      }
    }
    std::string path = HostMutexLockPath(config_, name);
    struct stat info;
    if (stat((path + ".denied").c_str(), &info) == 0) return Missing(ERROR_ACCESS_DENIED);
    if (create) {
      std::string folder = MutexFolder(config_);
      if (mkdir(folder.c_str(), 0777) == 0) chmod(folder.c_str(), 01777);
    }
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0) {
      if (errno == EACCES || errno == EPERM) return Missing(ERROR_ACCESS_DENIED);
      if (errno == ENOENT && !create) return Missing(ERROR_FILE_NOT_FOUND);
      return Missing(create ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    }
    fchmod(fd, 0666);
    *existed = IsLockedElsewhere(fd, 0);
    if (!create && !*existed) {
      close(fd);
      return Missing(ERROR_FILE_NOT_FOUND);
    }
    if (!SetLock(fd, F_RDLCK, 0)) {
      close(fd);
      return Missing(ERROR_ACCESS_DENIED);
    }
    auto file = std::make_shared<NamedMutexFile>();
    file->name = name;
    file->fd = fd;
    core_->mutexFiles[name] = file;
    auto mutex = std::make_shared<SyncObject>(SyncObject::kMutex);
    mutex->file = file;
    core_->namedMutexes[name] = mutex;
    return mutex;
  }

  HostConfig config_;
  std::shared_ptr<SyncCore> core_;
};

}  // namespace

std::string HostMutexLockPath(const HostConfig& config, const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string file;
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == ' ') {
      file += static_cast<char>(c);
    } else {
      file += '%';
      file += kHex[c >> 4];
      file += kHex[c & 15];
    }
  }
  return MutexFolder(config) + "/" + file + ".lock";
}

std::unique_ptr<ISync> MakeHostSync(const HostConfig& config) { return std::make_unique<HostSync>(config); }

}  // namespace qel
