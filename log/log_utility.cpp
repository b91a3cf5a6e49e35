// The log singleton: its making and destruction, settings and writers.
#include <new>

#include "log/log_utility.h"
#include "platform/ports.h"
#include "wizard/sys_util.h"

namespace qel {

namespace {

std::atomic<_NCOvLogUtility*> g_pInstance{nullptr};
std::mutex g_makeLock;               // serialises making and destroying
thread_local bool t_bMaking = false;  // this thread is inside the making
std::atomic<bool> g_bShutDown{false};  // the program has shut the log down

// The log reads the registry and the system, and names, makes and writes
// files: without these ports it cannot exist.
bool PortsInstalled() {
  const PlatformPorts& ports = Ports();
  return ports.registry != nullptr && ports.files != nullptr && ports.system != nullptr &&
         ports.codePage != nullptr && ports.loader != nullptr;
}

}  // namespace

_NCOvLogUtility::_NCOvLogUtility() : m_dwLevel(kLogDefaultLevel), m_dwMaxSize(kLogDefaultMaxSize) {
  m_lstChannels.reserve(1);
  _NCOvLogFile* channel = new (std::nothrow) _NCOvLogFile(0, m_dwLevel, m_dwMaxSize);
  if (channel != nullptr) m_lstChannels.push_back(channel);
}

_NCOvLogUtility::~_NCOvLogUtility() {
  _NCOvAutoLock lock(this);
  for (_NCOvLogFile* channel : m_lstChannels) {
    channel->Close();
    delete channel;
  }
  m_lstChannels.clear();
}

_NCOvLogUtility* _NCOvLogUtility::GetInstance() {
  _NCOvLogUtility* instance = g_pInstance.load(std::memory_order_acquire);
  if (instance != nullptr) return instance;
  // Making the first channel creates the log folder, which may itself want
  // to log; that line has nowhere to go yet.
  if (t_bMaking || !PortsInstalled()) return nullptr;

  std::lock_guard<std::mutex> lock(g_makeLock);
  g_bShutDown.store(false, std::memory_order_release);
  instance = g_pInstance.load(std::memory_order_acquire);
  if (instance != nullptr) return instance;
  t_bMaking = true;
  try {
    instance = new _NCOvLogUtility();
    instance->LoadSettings();
  } catch (const std::bad_alloc&) {
    delete instance;
    instance = nullptr;
  }
  t_bMaking = false;
  // Published only once its settings are read, so that no thread writes
  // with the defaults.
  g_pInstance.store(instance, std::memory_order_release);
  return instance;
}

void _NCOvLogUtility::DestroyInstance() {
  std::lock_guard<std::mutex> lock(g_makeLock);
  delete g_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

void _NCOvLogUtility::Shutdown() {
  std::lock_guard<std::mutex> lock(g_makeLock);
  g_bShutDown.store(true, std::memory_order_release);
  delete g_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

_NCOvLogFile* _NCOvLogUtility::GetChannel(DWORD id) {
  _NCOvAutoLock lock(this);
  for (_NCOvLogFile* channel : m_lstChannels) {
    if (channel->GetId() == id) return channel;
  }
  _NCOvLogFile* channel = new (std::nothrow) _NCOvLogFile(id, m_dwLevel, m_dwMaxSize);
  if (channel == nullptr) return nullptr;
  try {
    m_lstChannels.push_back(channel);
  } catch (const std::bad_alloc&) {
    delete channel;
    return nullptr;
  }
  return channel;
}

void _NCOvLogUtility::LoadSettings() {
  _NCOvAutoLock lock(this);
  DWORD value = 0;
  if (RegReadDword(HKEY_LOCAL_MACHINE, kQelRegistryKey, "NLogLevel", &value)) {
    m_dwLevel = value > kLogMaxLevel ? kLogMaxLevel : value;
  }
  if (RegReadDword(HKEY_LOCAL_MACHINE, kQelRegistryKey, "NLogMaxSize", &value)) {
    if (value <= kLogMinMaxSize) {
      m_dwMaxSize = kLogMinMaxSize;
    } else if (value >= kLogMaxMaxSize) {
      m_dwMaxSize = kLogMaxMaxSize;
    } else {
      m_dwMaxSize = value;
    }
  }
  _NCOvLogFile* channel = GetChannel(0);
  if (channel != nullptr) {
    channel->SetLevel(m_dwLevel);
    channel->SetMaxSize(m_dwMaxSize);
  }
}

void _NCOvLogUtility::Write(DWORD type, const char* format, va_list args) {
  _NCOvLogUtility* instance = g_pInstance.load(std::memory_order_acquire);
  if (instance == nullptr) {
    if (g_bShutDown.load(std::memory_order_acquire)) return;
    instance = GetInstance();
    if (instance == nullptr) return;
  }
  _NCOvLogFile* channel = instance->GetChannel(0);
  if (channel == nullptr || channel->GetLevel() < type) return;
  channel->WriteLine(type, format, args);
}

void _NCOvLogUtility::Error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(LOG_TYPE_ERROR, format, args);
  va_end(args);
}

void _NCOvLogUtility::Warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(LOG_TYPE_WARNING, format, args);
  va_end(args);
}

void _NCOvLogUtility::Info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(LOG_TYPE_INFO, format, args);
  va_end(args);
}

}  // namespace qel
