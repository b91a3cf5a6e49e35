// The wrapper batch reader. The input is a wrapper file as it may lie in
// the NETLOGON folder (edited by hand, cut, with odd line ends).
//
// Properties: a value the reader gives back is one record's value, whole:
// it follows its key word in the file, its line ends right after it, and it
// holds no control character; a refused file stays where it is. And what
// the writer accepts (the input's first line as the profile, the rest as
// the script), the reader gives back unchanged.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "deploy/script_deployer.h"
#include "log/log_utility.h"
#include "tests/fakes/host/host_test_env.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const char kFolder[] = "C:\\scripts";
const char kWrapper[] = "C:\\scripts\\Qelfuzz.bat";

bool IsRecordValue(const std::string& file, const char* key, const std::string& value) {
  for (const char* end : {"\n", "\r\n"})
    if (file.find(key + value + end) != std::string::npos) return true;
  return false;
}

bool HasControl(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qel;
  static test::HostTestEnv* env = [] {
    auto* made = new test::HostTestEnv();
    made->MakeDirectory(kFolder);
    return made;
  }();
  static _NCOvLogHolder log;
  const std::string input(reinterpret_cast<const char*>(data), size);
  CScriptDeployer engine;
  std::strcpy(engine.m_szComputerName, "DC01");
  std::strcpy(engine.m_szShareName, "NetLogon");
  std::strcpy(engine.m_szScriptsDir, kFolder);
  std::strcpy(engine.m_szBatchName, "QelInstall.bat");

  FUZZ_CHECK(env->WriteFile(kWrapper, input), "cannot write the wrapper");
  char profile[MAX_PATH] = "current profile";
  char script[MAX_PATH] = "Qelfuzz.bat";
  BOOL found = FALSE;
  if (engine.ReadUserBatch("fuzz", profile, script, &found)) {
    if (found) {
      FUZZ_CHECK(IsRecordValue(input, "szScriptPath = ", script), std::string("not a record's value: ") + script);
      FUZZ_CHECK(!HasControl(script), "a control character restored");
    } else {
      FUZZ_CHECK(std::strcmp(script, "Qelfuzz.bat") == 0, "a missing record changed the script");
    }
    if (std::strcmp(profile, "current profile") != 0) {
      FUZZ_CHECK(IsRecordValue(input, "szProfile = ", profile), std::string("not a record's value: ") + profile);
      FUZZ_CHECK(!HasControl(profile), "a control character restored");
    }
  } else {
    FUZZ_CHECK(std::strcmp(script, "Qelfuzz.bat") == 0 && std::strcmp(profile, "current profile") == 0,
               "a refused file changed the buffers");
    FUZZ_CHECK(env->FileExists(kWrapper), "a refused wrapper is gone");
  }

  // Written by the engine and read back.
  const size_t line = input.find('\n');
  const std::string wantProfile = input.substr(0, line);
  const std::string wantScript = line == std::string::npos ? std::string("s.bat") : input.substr(line + 1);
  if (wantProfile.find('\0') != std::string::npos || wantScript.find('\0') != std::string::npos) return 0;
  if (!engine.WriteUserBatch("fuzz", wantProfile.c_str(), wantScript.c_str())) return 0;
  char readProfile[MAX_PATH] = "";
  char readScript[MAX_PATH] = "";
  FUZZ_CHECK(engine.ReadUserBatch("fuzz", readProfile, readScript, &found) && found,
             "a wrapper the engine wrote does not read back");
  FUZZ_CHECK(wantProfile == readProfile && wantScript == readScript, "a wrapper reads back other values");
  return 0;
}
