#include "platform/ports.h"

namespace qel {

PlatformPorts& Ports() {
  static PlatformPorts ports;
  return ports;
}

}  // namespace qel
