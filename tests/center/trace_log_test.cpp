// Trace lines reach the log only when asked; the probe's own never do.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "center/search_agent.h"
#include "log/log_utility.h"
#include "tests/fakes/fake_net.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/sys_util.h"

namespace qel {
namespace {

TEST(TraceLogTest, OnlyAlsoLogLinesAreWritten) {
  test::ScopedPorts saved;
  test::HostTestEnv env;
  test::FakeSockets sockets;
  Ports().sockets = &sockets;
  HKEY key = nullptr;
  ASSERT_EQ(Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, kQelRegistryKey, &key), ERROR_SUCCESS);
  DWORD level = 3;  // informational lines too
  Registry().RegSetValueExA(key, "NLogLevel", REG_DWORD, reinterpret_cast<const BYTE*>(&level), sizeof level);
  Registry().RegCloseKey(key);
  {
    _NCOvLogHolder log;
    SetSearchTimingForTest(0, 0);
    CSearchAgent search;
    search.Trace(true, "[Test] probe of %s", "10.0.0.9");
    search.Trace(false, "[Test] not in the log");
    search.Search("10.0.0.2", "10.0.0.9", SEARCH_BIND_LOCAL | SEARCH_UNICAST, false);
    ResetSearchTiming();
  }
  char folder[MAX_PATH] = {};
  GetLogDirectory(folder);
  std::string text = env.ReadFile(std::string(folder) + "\\QelScript.log");
  EXPECT_NE(text.find("[INF][Test] probe of 10.0.0.9\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("not in the log"), std::string::npos);
  EXPECT_EQ(text.find("Send UDP"), std::string::npos);
}

}  // namespace
}  // namespace qel
