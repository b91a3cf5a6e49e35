// A fresh Windows world on the host for one test.
//
// Makes a temporary root folder (removed again at the end) holding drive C
// with "C:\WINDOWS" and "C:\TEMP", the registry file and the named-mutex
// folder, and installs a HostPlatform over it in Ports(); the previous ports
// come back when the environment ends.
//
//   qel::test::HostTestEnv env;                       // code page 1252, "DC01", 6.1
//   env.WriteFile("C:\\WINDOWS\\x.ini", "[a]\r\nb=1\r\n");
//   EXPECT_EQ(env.ReadFile("C:\\WINDOWS\\x.ini"), ...);
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/host/host_ports.h"

namespace qel::test {

struct HostTestOptions {
  unsigned codePage = 1252;            // 1252 or 936
  std::string computerName = "DC01";
  DWORD version = 0x1DB10106;          // 6.1 build 7601; 5.2 is 0x0ECE0205
  // Last word on the configuration (shares, module path ...), called after
  // the root, registry file, mutex folder and the options above are set.
  std::function<void(HostConfig&)> adjust;
};

class HostTestEnv {
 public:
  explicit HostTestEnv(const HostTestOptions& options = HostTestOptions());
  ~HostTestEnv();
  HostTestEnv(const HostTestEnv&) = delete;
  HostTestEnv& operator=(const HostTestEnv&) = delete;

  const HostConfig& config() const { return platform_->config(); }
  const std::string& root() const { return root_; }

  // Changes the configuration and installs a new HostPlatform with it (the
  // files and the registry file stay).
  void Reconfigure(const std::function<void(HostConfig&)>& change);

  // The host path of a Windows path of this world; empty when it has none.
  std::string HostPath(const std::string& windowsPath) const;
  // Writes the bytes as they stand, making the missing folders; false on failure.
  bool WriteFile(const std::string& windowsPath, const std::string& bytes) const;
  // The file's bytes; empty when it cannot be read (see FileExists).
  std::string ReadFile(const std::string& windowsPath) const;
  bool FileExists(const std::string& windowsPath) const;
  bool DirectoryExists(const std::string& windowsPath) const;
  bool MakeDirectory(const std::string& windowsPath) const;

 private:
  std::string root_;
  std::unique_ptr<HostPlatform> platform_;
};

}  // namespace qel::test
