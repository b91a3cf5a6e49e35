// One full set of host adapters, installed in Ports() for its lifetime.
#include "platform/host/host_ports.h"

namespace qel {

HostPlatform::HostPlatform(const HostConfig& config)
    : config_(config),
      previous_(Ports()),
      registry_(MakeHostRegistry(config_)),
      files_(MakeHostFileSystem(config_)),
      system_(MakeHostSystem(config_)),
      codePage_(MakeHostCodePage(config_)),
      sync_(MakeHostSync(config_)),
      loader_(MakeHostLibraryLoader(config_)) {
  PlatformPorts& ports = Ports();
  ports.registry = registry_.get();
  ports.files = files_.get();
  ports.system = system_.get();
  ports.codePage = codePage_.get();
  ports.sync = sync_.get();
  ports.loader = loader_.get();
}

HostPlatform::~HostPlatform() { Ports() = previous_; }

}  // namespace qel
