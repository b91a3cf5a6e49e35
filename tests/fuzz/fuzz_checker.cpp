// The checker's decisions and its settings file. The input's first byte
// says which of the checker's stop conditions hold (bit 0: "QelSetup" in
// RunOnce, 1: "Qel" in RunOnce, 2: the product's "type", 3: the installer's
// mutex, 4: no SetupSet.ini on the share); the rest is SetupSet.ini.
//
// Properties: the installer is started exactly when none of the conditions
// holds, always from the share's command line; the registry's "CenterIP" is
// written only then, and holds the file's center address cut to 19
// characters; the exit code is 0.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "check/qelcheck.h"
#include "platform/host/host_ports.h"
#include "tests/fakes/faulty_system.h"
#include "tests/fakes/host/host_test_env.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const char kPackage[] = "\\\\DC1\\NetLogon\\QelSetup.exe";
const char kShareSettings[] = "C:\\netlogon\\SetupSet.ini";

void SetString(const char* key, const char* name, const std::string& text) {
  HKEY handle = nullptr;
  FUZZ_CHECK(qel::Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &handle) == ERROR_SUCCESS, key);
  qel::Registry().RegSetValueExA(handle, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1));
  qel::Registry().RegCloseKey(handle);
}

// The value's bytes; false when it is not there.
bool GetValue(const char* key, const char* name, std::string* bytes) {
  HKEY handle = nullptr;
  if (qel::Registry().RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
    return false;
  BYTE data[1024];
  DWORD size = sizeof data;
  DWORD type = 0;
  LONG result = qel::Registry().RegQueryValueExA(handle, name, &type, data, &size);
  qel::Registry().RegCloseKey(handle);
  if (result != ERROR_SUCCESS) return false;
  bytes->assign(reinterpret_cast<const char*>(data), size);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qel;
  if (size == 0) return 0;
  const unsigned flags = data[0];
  const std::string settings(reinterpret_cast<const char*>(data) + 1, size - 1);

  // One world for the process, emptied before each input: a fresh
  // registry, no mutex, no settings file on the share.
  static test::HostTestEnv* world = [] {
    test::HostTestOptions options;
    options.adjust = [](HostConfig& config) {
      config.shares["\\\\DC1\\NetLogon"] = "C:\\netlogon";
      config.tempPath = "C:\\Users\\u\\Temp\\";
    };
    auto* made = new test::HostTestEnv(options);
    made->MakeDirectory("C:\\netlogon");
    return made;
  }();
  test::HostTestEnv& env = *world;
  const std::string denied = HostMutexLockPath(env.config(), kCheckSetupMutex) + ".denied";
  std::remove(denied.c_str());
  std::remove(env.HostPath(kShareSettings).c_str());
  std::FILE* registry = std::fopen(env.config().registryFile.c_str(), "wb");
  FUZZ_CHECK(registry != nullptr, "cannot empty the registry");
  std::fclose(registry);
  if (flags & 1) SetString(kCheckRunOnceKey, "QelSetup", "C:\\x\\QelSetup.exe /resume");
  if (flags & 2) SetString(kCheckRunOnceKey, "Qel", "C:\\x\\Qel.exe /continue");
  if (flags & 4) SetString(kCheckProductKey, "type", "3");
  if (flags & 8) {
    std::FILE* held = std::fopen(denied.c_str(), "wb");
    FUZZ_CHECK(held != nullptr, "cannot hold the mutex");
    std::fclose(held);
  }
  const bool hasSettings = (flags & 16) == 0;
  if (hasSettings) FUZZ_CHECK(env.WriteFile(kShareSettings, settings), "cannot write SetupSet.ini");
  // What the file says, read straight from the share.
  char address[kCheckCenterIpSize] = "";
  if (hasSettings)
    Files().GetPrivateProfileStringA("DEFAULT", "CENTERIP", "", address, sizeof address, kShareSettings);

  test::FaultySystem system(Ports().system);
  system.RecordWinExec();
  ISystem* previous = Ports().system;
  Ports().system = &system;
  const int code = QelCheckMain(kPackage);
  Ports().system = previous;

  FUZZ_CHECK(code == 0, "the exit code is not 0");
  const bool stop = (flags & 15) != 0;
  const std::vector<std::string> started = system.WinExecCalls();
  FUZZ_CHECK(stop ? started.empty() : started == std::vector<std::string>{kPackage},
             stop ? "started although a condition holds" : "not started although nothing stops it");
  std::string written;
  const bool hasCenter = GetValue(kCheckProductKey, "CenterIP", &written);
  if (stop || address[0] == '\0') {
    FUZZ_CHECK(!hasCenter, "CenterIP written when it should not be");
  } else {
    FUZZ_CHECK(hasCenter && written == std::string(address) + '\0', "CenterIP is not the file's address");
  }
  return 0;
}
