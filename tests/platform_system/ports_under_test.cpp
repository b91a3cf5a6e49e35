#include "tests/platform_system/ports_under_test.h"

#ifdef _WIN32
#include "platform/win32/win32_ports.h"
#else
#include <unistd.h>

#include <filesystem>
#endif

namespace qel::test {

void PortsTest::SetUp() {
  saved_ = std::make_unique<ScopedPorts>();
#ifdef _WIN32
  Ports().system = Win32System();
  Ports().codePage = Win32CodePage();
  Ports().sync = Win32Sync();
  Ports().loader = Win32LibraryLoader();
#else
  env_ = std::make_unique<HostTestEnv>();
#endif
}

void PortsTest::TearDown() {
#ifndef _WIN32
  env_.reset();
#endif
  saved_.reset();
}

std::string PortsTest::ProgramPath(const std::string& name) {
#ifdef _WIN32
  char self[MAX_PATH];
  DWORD length = System().GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, length);
  return path.substr(0, path.rfind('\\') + 1) + name + ".exe";
#else
  // The program is linked into drive C of the test's world.
  std::string built = QEL_MUTEX_HOLDER;
  std::string folder = built.substr(0, built.rfind('/') + 1);
  std::filesystem::create_directories(env_->HostPath("C:\\tools"));
  std::string link = env_->HostPath("C:\\tools\\" + name + ".exe");
  if (access(link.c_str(), F_OK) != 0) std::filesystem::create_symlink(folder + name, link);
  return "C:\\tools\\" + name + ".exe";
#endif
}

std::string PortsTest::MutexFolderArgument() const {
#ifdef _WIN32
  return "-";
#else
  return env_->config().mutexDir;
#endif
}

}  // namespace qel::test
