// Where the contract cases run: the file and registry ports of one platform,
// an empty scratch folder and a registry key of their own.
//
// On the host the world is a temporary root folder with drive C and a .reg
// file; on Windows (and under Wine) it is the real API, a fresh folder under
// GetTempPath and a key under HKEY_CURRENT_USER\Software\QelTest. Both are
// removed again when the world ends, so the cases can run in any order.
#pragma once

#include <memory>
#include <string>

#include "platform/ports.h"

namespace qel::test {

class ContractWorld {
 public:
  static std::unique_ptr<ContractWorld> Make();
  virtual ~ContractWorld() = default;

  virtual IFileSystem& files() = 0;
  virtual IRegistry& registry() = 0;
  // Windows path of the scratch folder, without trailing backslash.
  virtual std::string folder() const = 0;
  // HKEY_CURRENT_USER subkey reserved for the case (it does not exist yet).
  virtual std::string key() const = 0;
  // Wine implements some calls only in part (CopyFileExA never calls its
  // progress routine); cases that need the missing part say so and skip.
  virtual bool underWine() const = 0;

  std::string Path(const std::string& name) const { return folder() + "\\" + name; }
};

}  // namespace qel::test
