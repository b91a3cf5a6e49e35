#include "tests/fakes/host/host_test_env.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qel::test {

namespace fs = std::filesystem;

namespace {

std::string MakeRoot() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/qel-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("cannot make a temporary folder: " + pattern);
  return pattern;
}

// Removes the tree even where a test made folders or files read-only.
void RemoveTree(const std::string& root) {
  std::error_code error;
  if (!fs::exists(root, error)) return;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(root, error);
}

}  // namespace

HostTestEnv::HostTestEnv(const HostTestOptions& options) : root_(MakeRoot()) {
  HostConfig config;
  config.root = root_;
  config.registryFile = root_ + "/registry.reg";
  config.mutexDir = root_ + "/mutex";
  config.codePage = options.codePage;
  config.computerName = options.computerName;
  config.version = options.version;
  config.windowsDir = "C:\\WINDOWS";
  config.tempPath = "C:\\TEMP\\";
  config.currentDir = "C:\\";
  if (options.adjust) options.adjust(config);
  fs::create_directories(root_ + "/C/WINDOWS");
  fs::create_directories(root_ + "/C/TEMP");
  fs::create_directories(config.mutexDir);
  platform_ = std::make_unique<HostPlatform>(config);
}

HostTestEnv::~HostTestEnv() {
  platform_.reset();
  RemoveTree(root_);
}

void HostTestEnv::Reconfigure(const std::function<void(HostConfig&)>& change) {
  HostConfig config = platform_->config();
  if (change) change(config);
  platform_.reset();
  platform_ = std::make_unique<HostPlatform>(config);
}

std::string HostTestEnv::HostPath(const std::string& windowsPath) const {
  return HostPathOf(platform_->config(), windowsPath);
}

bool HostTestEnv::WriteFile(const std::string& windowsPath, const std::string& bytes) const {
  std::string path = HostPath(windowsPath);
  if (path.empty()) return false;
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::string HostTestEnv::ReadFile(const std::string& windowsPath) const {
  std::string path = HostPath(windowsPath);
  if (path.empty()) return std::string();
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool HostTestEnv::FileExists(const std::string& windowsPath) const {
  std::string path = HostPath(windowsPath);
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool HostTestEnv::DirectoryExists(const std::string& windowsPath) const {
  std::string path = HostPath(windowsPath);
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool HostTestEnv::MakeDirectory(const std::string& windowsPath) const {
  std::string path = HostPath(windowsPath);
  std::error_code error;
  return !path.empty() && (fs::create_directories(path, error) || fs::is_directory(path, error));
}

}  // namespace qel::test
