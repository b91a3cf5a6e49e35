// Cost of a log line over the host adapters: a written line (one size query
// and one write on a file kept open), a line filtered out by the level, and
// lines that roll the file at the smallest limit.
//
//   build-*/host/tests/log/log_bench [--benchmark_filter=...]
#include <string>

#include <benchmark/benchmark.h>

#include "log/log_utility.h"
#include "platform/ports.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/sys_util.h"

namespace qel::test {
namespace {

void SetDword(const char* name, DWORD value) {
  HKEY key = nullptr;
  if (Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, kQelRegistryKey, &key) != ERROR_SUCCESS) return;
  Registry().RegSetValueExA(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  Registry().RegCloseKey(key);
}

void RunLines(benchmark::State& state, DWORD level, DWORD maxSize) {
  HostTestEnv env;
  SetDword("NLogLevel", level);
  SetDword("NLogMaxSize", maxSize);
  _NCOvLogUtility::DestroyInstance();
  if (_NCOvLogUtility::GetInstance() == nullptr) {
    state.SkipWithError("no log instance");
    return;
  }
  const std::string user(20, 'u');
  for (auto _ : state) {
    _NCOvLogUtility::Warning("[ChangeScript]  UserName %s  bHasScript=%d", user.c_str(), 1);
  }
  state.SetItemsProcessed(state.iterations());
  _NCOvLogUtility::DestroyInstance();
}

void BM_LineWritten(benchmark::State& state) { RunLines(state, 2, 10485760); }
void BM_LineFilteredByLevel(benchmark::State& state) { RunLines(state, 1, 10485760); }
void BM_LineWithRolls(benchmark::State& state) { RunLines(state, 2, 0); }

BENCHMARK(BM_LineWritten);
BENCHMARK(BM_LineFilteredByLevel);
BENCHMARK(BM_LineWithRolls);

}  // namespace
}  // namespace qel::test

BENCHMARK_MAIN();
