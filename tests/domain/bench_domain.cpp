// Benchmarks of the embedded domain over a generated domain of 100,000
// accounts in 1,000 units, a third of them with logon scripts of their own.
// Run by hand: bench_domain [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/domain/domain_directory.h"
#include "platform/domain/domain_generator.h"
#include "platform/domain/domain_store.h"

namespace qel {
namespace {

constexpr int kAccounts = 100000;

const std::string& DomainFile() {
  static const std::string path = [] {
    GeneratedDomain shape;
    shape.accounts = kAccounts;
    shape.organizationalUnits = 1000;
    shape.ownScriptEvery = 3;
    std::string file = (std::filesystem::temp_directory_path() / "qel-bench-domain.ldif").string();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << GenerateDomainLdif(shape);
    return file;
  }();
  return path;
}

// Resident memory of the process in KiB (Linux), 0 elsewhere.
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

std::wstring Name(int i) {
  wchar_t name[16];
  std::swprintf(name, 16, L"user%06d", i + 1);
  return name;
}

void BM_Load(benchmark::State& state) {
  const std::string& file = DomainFile();
  long before = ResidentKiB();
  for (auto _ : state) {
    DomainStore store;
    DomainError error;
    if (!store.Load(file, &error)) state.SkipWithError(error.ToString().c_str());
    state.counters["resident_MiB"] = static_cast<double>(ResidentKiB() - before) / 1024.0;
  }
  state.counters["accounts"] = kAccounts;
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(3);

// The load alone: the store of the round before is dropped outside the time.
void BM_LoadWithoutDrop(benchmark::State& state) {
  const std::string& file = DomainFile();
  for (auto _ : state) {
    std::unique_ptr<DomainStore> store(new DomainStore);
    DomainError error;
    if (!store->Load(file, &error)) state.SkipWithError(error.ToString().c_str());
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  state.counters["accounts"] = kAccounts;
}
BENCHMARK(BM_LoadWithoutDrop)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SubtreeSearch(benchmark::State& state) {
  DomainStore store;
  DomainError error;
  if (!store.Load(DomainFile(), &error)) state.SkipWithError(error.ToString().c_str());
  DomainDirectory directory(store);
  ADS_SEARCHPREF_INFO prefs[2];
  std::memset(prefs, 0, sizeof(prefs));
  prefs[0].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
  prefs[0].vValue.dwType = ADSTYPE_INTEGER;
  prefs[0].vValue.Integer = ADS_SCOPE_SUBTREE;
  prefs[1].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
  prefs[1].vValue.dwType = ADSTYPE_INTEGER;
  prefs[1].vValue.Integer = 100;
  const wchar_t* attributes[] = {L"cn", L"distinguishedName", L"sAMAccountName"};
  size_t rows = 0;
  for (auto _ : state) {
    IDirectorySearchPort* search = nullptr;
    directory.BindSearch(L"GC://DC=test,DC=lan", &search);
    search->SetSearchPreference(prefs, 2);
    ADS_SEARCH_HANDLE handle;
    search->ExecuteSearch(L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE)))", attributes, 3,
                          &handle);
    rows = 0;
    for (HRESULT hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle)) {
      ADS_SEARCH_COLUMN column;
      if (search->GetColumn(handle, L"sAMAccountName", &column) == S_OK) {
        ++rows;
        search->FreeColumn(&column);
      }
    }
    search->CloseSearchHandle(handle);
    search->Release();
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_SubtreeSearch)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_GetInfo(benchmark::State& state) {
  DomainStore store;
  DomainError error;
  if (!store.Load(DomainFile(), &error)) state.SkipWithError(error.ToString().c_str());
  std::vector<std::wstring> names;
  for (int i = 0; i < kAccounts; ++i) names.push_back(Name(i));
  for (auto _ : state) {
    for (const std::wstring& name : names) {
      LPBYTE buffer = nullptr;
      if (store.NetUserGetInfo(nullptr, name.c_str(), 3, &buffer) != NERR_Success) state.SkipWithError("get");
      store.NetApiBufferFree(buffer);
    }
  }
  state.counters["calls"] = kAccounts;
}
BENCHMARK(BM_GetInfo)->Unit(benchmark::kMillisecond)->Iterations(3);

// 33,000 accounts set to the product's batch, as a deployment run does,
// each durable on return; then one flush of the whole file.
void BM_SetInfoAndFlush(benchmark::State& state) {
  const std::string work = (std::filesystem::temp_directory_path() / "qel-bench-work.ldif").string();
  std::vector<std::wstring> names;
  for (int i = 0; i < 33000; ++i) names.push_back(Name(i * 3 % kAccounts));
  double flushMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy_file(DomainFile(), work, std::filesystem::copy_options::overwrite_existing);
    DomainStore::Options options;
    options.syncToDisk = state.range(0) != 0;
    DomainStore store(options);
    DomainError error;
    if (!store.Load(work, &error)) state.SkipWithError(error.ToString().c_str());
    state.ResumeTiming();
    for (const std::wstring& name : names) {
      LPBYTE buffer = nullptr;
      store.NetUserGetInfo(nullptr, name.c_str(), 3, &buffer);
      USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
      LPWSTR own = info->usri3_script_path;
      info->usri3_script_path = const_cast<LPWSTR>(L"QelInstall.bat");
      info->usri3_flags |= UF_SCRIPT | UF_PASSWD_NOTREQD;
      if (store.NetUserSetInfo(nullptr, name.c_str(), 3, buffer, nullptr) != NERR_Success) state.SkipWithError("set");
      info->usri3_script_path = own;
      store.NetApiBufferFree(buffer);
    }
    auto start = std::chrono::steady_clock::now();
    if (!store.Flush(&error)) state.SkipWithError(error.ToString().c_str());
    flushMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.counters["file_writes"] = static_cast<double>(store.FileWrites());
  }
  state.counters["flush_ms"] = flushMs;
  std::filesystem::remove(work);
}
BENCHMARK(BM_SetInfoAndFlush)->Arg(0)->Arg(1)->ArgName("syncToDisk")->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace qel

BENCHMARK_MAIN();
