#include "res/program_info.h"

#include <cstdio>
#include <cstring>

#include "res/qel_version.h"

namespace qel {

const char* ReleaseVersion() { return QEL_VERSION_TEXT; }

bool AnswerHelpOrVersion(int argc, char** argv, const char* program, const char* usage, int* status) {
  if (argc != 2) return false;
  const char* arg = argv[1];
  if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
    std::fputs(usage, stdout);
    *status = std::fflush(stdout) == 0 ? 0 : 1;
    return true;
  }
  if (std::strcmp(arg, "--version") == 0) {
    std::printf("%s %s\n", program, ReleaseVersion());
    *status = std::fflush(stdout) == 0 ? 0 : 1;
    return true;
  }
  return false;
}

}  // namespace qel
