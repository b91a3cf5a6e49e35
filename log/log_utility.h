// The process-wide log of QelScript.
//
// One text file per channel in a machine-wide folder, QelScript.log for the
// program's channel 0, with a size limit and one backup (QelScript.wtx).
// Lines of three severities:
//
//   [1234]2008-03-05 06:30:12:045: [WAR][ChangeScript]...\r\n
//
// Writing never fails towards the caller: a line that cannot be written is
// dropped and the next line tries again.
//
// Life cycle: the program installs its ports, then makes the instance
// (a _NCOvLogHolder at the top of main, or GetInstance()), and shuts it down
// after its last line (the holder's end, or Shutdown()); lines written after
// that are dropped. A line written before the instance is made makes it, so
// that nothing is lost when a program forgets; without ports it is dropped.
#pragma once

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <vector>

#include "platform/win_types.h"

#if defined(__clang__)
#define QEL_LOG_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#elif defined(__GNUC__)
#define QEL_LOG_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define QEL_LOG_FORMAT(fmt, first)
#endif

// GetInstance is the program's one export: another module loaded into the
// process reaches the same log through it.
#if defined(_WIN32)
#define QEL_LOG_EXPORT __declspec(dllexport)
#else
#define QEL_LOG_EXPORT
#endif

namespace qel {

// Recursive, like the critical section it stands for: the log may be written
// from inside the log (directory creation while a channel is being made).
class _NCOvCriticalSection {
 public:
  _NCOvCriticalSection() = default;
  virtual ~_NCOvCriticalSection() = default;
  _NCOvCriticalSection(const _NCOvCriticalSection&) = delete;
  _NCOvCriticalSection& operator=(const _NCOvCriticalSection&) = delete;

  void Lock() { m_csLock.lock(); }
  void Unlock() { m_csLock.unlock(); }

 private:
  std::recursive_mutex m_csLock;
};

class _NCOvAutoLock {
 public:
  explicit _NCOvAutoLock(_NCOvCriticalSection* lock) : m_pLock(lock) { m_pLock->Lock(); }
  ~_NCOvAutoLock() { m_pLock->Unlock(); }
  _NCOvAutoLock(const _NCOvAutoLock&) = delete;
  _NCOvAutoLock& operator=(const _NCOvAutoLock&) = delete;

 private:
  _NCOvCriticalSection* m_pLock;
};

// Message types; a channel writes a type when its level is at least the type.
enum : DWORD {
  LOG_TYPE_ERROR = 1,    // "ERR"
  LOG_TYPE_WARNING = 2,  // "WAR"
  LOG_TYPE_INFO = 3,     // "INF"
  LOG_TYPE_DEBUG = 4,    // "DUG"
};

// Settings and their bounds.
constexpr DWORD kLogDefaultLevel = 2;
constexpr DWORD kLogMaxLevel = 9;
constexpr DWORD kLogDefaultMaxSize = 204800;
constexpr DWORD kLogMinMaxSize = 102400;
constexpr DWORD kLogMaxMaxSize = 10485760;

// Longest formatted message and longest line (before the forced CR LF).
constexpr int kLogMaxMessage = 983;
constexpr int kLogMaxLine = 1021;

// One log channel: one file, opened at its first line and kept open.
class _NCOvLogFile : public _NCOvCriticalSection {
 public:
  // Names the file: <log directory>\<program name>.log.
  _NCOvLogFile(DWORD id, DWORD level, DWORD maxSize);
  ~_NCOvLogFile() override;

  // Writes one line of `type` (no level check here). Rolls the file to the
  // backup first when it has grown past the size limit.
  void WriteLine(DWORD type, const char* format, va_list args);
  void Close();

  DWORD GetId() const { return m_dwId; }
  DWORD GetLevel() const { return m_dwLevel.load(std::memory_order_relaxed); }
  void SetLevel(DWORD level) { m_dwLevel.store(level, std::memory_order_relaxed); }
  DWORD GetMaxSize() const { return m_dwMaxSize.load(std::memory_order_relaxed); }
  void SetMaxSize(DWORD maxSize) { m_dwMaxSize.store(maxSize, std::memory_order_relaxed); }
  // Full path of the .log file; empty when no path of this length fits.
  const char* GetPath() const { return m_szPath; }

 private:
  BOOL OpenFile();
  void CloseHandleLocked();

  HANDLE m_hFile;
  DWORD m_dwId;
  std::atomic<DWORD> m_dwLevel;
  std::atomic<DWORD> m_dwMaxSize;
  char m_szPath[MAX_PATH];
  char m_szTag[4];
};

class _NCOvLogUtility : public _NCOvCriticalSection {
 public:
  // Makes the instance at the first call (then reads the settings from the
  // registry) and returns it. Null when the platform ports are not installed
  // yet, when the instance is being made (a line written from inside its own
  // making is dropped), or when it could not be allocated.
  QEL_LOG_EXPORT static _NCOvLogUtility* GetInstance();
  // Destroys the instance: every channel is closed. The next line or
  // GetInstance() makes a fresh one with the settings of that moment.
  static void DestroyInstance();
  // Destroys the instance for the program's exit: lines written afterwards
  // are dropped, until GetInstance() is called again.
  static void Shutdown();

  // printf-style writers on channel 0, as GetInstance()->Error(...): they
  // write to the instance, making it if need be, and drop the line when
  // there is none (no ports, shut down). Static, so that a call through a
  // null instance pointer is harmless too.
  static void Error(const char* format, ...) QEL_LOG_FORMAT(1, 2);
  static void Warning(const char* format, ...) QEL_LOG_FORMAT(1, 2);
  static void Info(const char* format, ...) QEL_LOG_FORMAT(1, 2);

  // The channel `id`, made with the current level and size limit if it does
  // not exist yet; null if it cannot be made.
  _NCOvLogFile* GetChannel(DWORD id);
  // Reads "NLogLevel" and "NLogMaxSize" into the utility and channel 0.
  void LoadSettings();

  DWORD GetLevel() const { return m_dwLevel; }
  DWORD GetMaxSize() const { return m_dwMaxSize; }

  ~_NCOvLogUtility() override;

 private:
  _NCOvLogUtility();
  static void Write(DWORD type, const char* format, va_list args);

  std::vector<_NCOvLogFile*> m_lstChannels;
  DWORD m_dwLevel;
  DWORD m_dwMaxSize;
};

// Makes the log when constructed and destroys it when it goes out of scope;
// placed at the top of main, right after the platform ports are installed.
class _NCOvLogHolder {
 public:
  _NCOvLogHolder() { _NCOvLogUtility::GetInstance(); }
  ~_NCOvLogHolder() { _NCOvLogUtility::Shutdown(); }
  _NCOvLogHolder(const _NCOvLogHolder&) = delete;
  _NCOvLogHolder& operator=(const _NCOvLogHolder&) = delete;
};

// The folder of the log files (at most MAX_PATH - 1 characters), created if
// missing. `directory` receives MAX_PATH bytes.
void GetLogDirectory(char* directory);

}  // namespace qel
