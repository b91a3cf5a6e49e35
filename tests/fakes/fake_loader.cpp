#include "tests/fakes/fake_loader.h"

#include <cctype>
#include <cstdint>

namespace qel::test {

FakeLoader::FakeLoader(ILibraryLoader* inner) : inner_(inner) {}

std::string FakeLoader::Key(const std::string& module) {
  std::string name = module;
  std::string::size_type slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0) name.resize(name.size() - 4);
  return name;
}

void FakeLoader::AddModule(const std::string& module) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = Key(module);
  removedModules_.erase(key);
  auto& slot = modules_[key];
  if (!slot) {
    slot = std::make_unique<Module>();
    slot->key = key;
  }
}

void FakeLoader::AddProc(const std::string& module, const std::string& proc, FARPROC address) {
  AddModule(module);
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = Key(module);
  modules_[key]->procs[proc] = address;
  removedProcs_.erase({key, proc});
}

void FakeLoader::RemoveModule(const std::string& module) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Handles given out earlier stay valid (their memory is kept); only new
  // loads fail.
  removedModules_.insert(Key(module));
}

void FakeLoader::RemoveProc(const std::string& module, const std::string& proc) {
  std::lock_guard<std::mutex> lock(mutex_);
  removedProcs_.insert({Key(module), proc});
}

int FakeLoader::OpenCount(const std::string& module) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = openCounts_.find(Key(module));
  return it == openCounts_.end() ? 0 : it->second;
}

std::string FakeLoader::KeyOf(HMODULE module) const {
  for (const auto& entry : modules_) {
    if (reinterpret_cast<HMODULE>(entry.second.get()) == module) return entry.first;
  }
  auto it = innerHandles_.find(module);
  return it == innerHandles_.end() ? std::string() : it->second;
}

HMODULE FakeLoader::LoadLibraryA(const char* fileName) {
  DWORD error = 0;
  if (plan_.ShouldFail("LoadLibraryA", &error)) {
    QelSetLastError(error);
    return nullptr;
  }
  if (fileName == nullptr || *fileName == 0) {
    QelSetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string key = Key(fileName);
  std::unique_lock<std::mutex> lock(mutex_);
  if (removedModules_.count(key) != 0) {
    QelSetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  auto it = modules_.find(key);
  if (it != modules_.end()) {
    ++openCounts_[key];
    return reinterpret_cast<HMODULE>(it->second.get());
  }
  if (inner_ == nullptr) {
    QelSetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  lock.unlock();
  HMODULE module = inner_->LoadLibraryA(fileName);
  if (module == nullptr) return nullptr;
  lock.lock();
  innerHandles_[module] = key;
  ++openCounts_[key];
  return module;
}

FARPROC FakeLoader::GetProcAddress(HMODULE module, const char* procName) {
  DWORD error = 0;
  if (plan_.ShouldFail("GetProcAddress", &error)) {
    QelSetLastError(error);
    return nullptr;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  std::string key = KeyOf(module);
  if (key.empty()) {
    QelSetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  bool byName = reinterpret_cast<uintptr_t>(procName) >= 0x10000;
  if (byName && removedProcs_.count({key, procName}) != 0) {
    QelSetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto it = modules_.find(key);
  if (it != modules_.end() && reinterpret_cast<HMODULE>(it->second.get()) == module) {
    auto proc = byName ? it->second->procs.find(procName) : it->second->procs.end();
    if (proc == it->second->procs.end()) {
      QelSetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    return proc->second;
  }
  lock.unlock();
  return inner_->GetProcAddress(module, procName);
}

BOOL FakeLoader::FreeLibrary(HMODULE module) {
  DWORD error = 0;
  if (plan_.ShouldFail("FreeLibrary", &error)) {
    QelSetLastError(error);
    return FALSE;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  std::string key = KeyOf(module);
  if (key.empty()) {
    QelSetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto it = modules_.find(key);
  bool own = it != modules_.end() && reinterpret_cast<HMODULE>(it->second.get()) == module;
  if (!own) {
    lock.unlock();
    if (!inner_->FreeLibrary(module)) return FALSE;
    lock.lock();
  }
  --openCounts_[key];
  return TRUE;
}

}  // namespace qel::test
