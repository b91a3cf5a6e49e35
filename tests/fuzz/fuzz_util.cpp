#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/fuzz/fuzz_check.h"

namespace qel::fuzz {

std::string ScratchFolder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "qel-fuzz.XXXXXX").string();
    const char* made = ::mkdtemp(&pattern[0]);
    FUZZ_CHECK(made != nullptr, "cannot make a scratch folder");
    return std::string(made);
  }();
  return folder;
}

}  // namespace qel::fuzz
