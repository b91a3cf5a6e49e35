#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "platform/host/host_ports.h"
#include "tests/platform_files/contract_world.h"

namespace qel::test {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

class HostWorld : public ContractWorld {
 public:
  HostWorld() {
    char pattern[] = "/tmp/qel-platform-files-XXXXXX";
    root_ = ::mkdtemp(pattern);
    ::mkdir((root_ + "/C").c_str(), 0755);
    ::mkdir((root_ + "/C/scratch").c_str(), 0755);
    config_.root = root_;
    config_.registryFile = root_ + "/registry.reg";
    config_.tempPath = "C:\\TEMP\\";
    config_.currentDir = "C:\\";
    files_ = MakeHostFileSystem(config_);
    registry_ = MakeHostRegistry(config_);
  }
  ~HostWorld() override {
    files_.reset();
    registry_.reset();
    ::nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }

  IFileSystem& files() override { return *files_; }
  IRegistry& registry() override { return *registry_; }
  std::string folder() const override { return "C:\\scratch"; }
  std::string key() const override { return "Software\\QelTest\\Case"; }
  bool underWine() const override { return false; }

 private:
  std::string root_;
  HostConfig config_;
  std::unique_ptr<IFileSystem> files_;
  std::unique_ptr<IRegistry> registry_;
};

}  // namespace

std::unique_ptr<ContractWorld> ContractWorld::Make() { return std::make_unique<HostWorld>(); }

}  // namespace qel::test
