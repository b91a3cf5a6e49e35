// Timing harness (not a test): the user page's first listing, the expansion
// of a unit and prefix searches over a generated domain.
//   bench_user_page [accounts] [units]     (default 100000 accounts in 1000 units)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "directory/directory_backend.h"
#include "directory/page2.h"
#include "platform/domain/domain_generator.h"
#include "tests/directory/directory_world.h"

namespace qel::test {
namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The page's tree and node list, without a window.
class NullView : public IUserPageView {
 public:
  ITreeOps& Tree() override { return tree; }
  void SetExistCheckText(const char*) override {}
  void HideExistCheck() override {}
  BOOL IsExistChecked() override { return FALSE; }
  std::string GetEditText(int id) override { return id == 1002 ? account : std::string(); }
  void EnableButton(int, BOOL) override {}
  void PlayAnimation(BOOL) override {}
  BOOL RunOnUiThread(const std::function<void()>& work) override {
    work();
    return TRUE;
  }
  MemoryTree tree;
  std::string account;
};

int Main(int argc, char** argv) {
  GeneratedDomain shape;
  shape.accounts = argc > 1 ? std::atoi(argv[1]) : 100000;
  shape.organizationalUnits = argc > 2 ? std::atoi(argv[2]) : 1000;
  auto begin = std::chrono::steady_clock::now();
  DirectoryWorld world(GenerateDomainLdif(shape));
  std::printf("domain: %d accounts in %d units, loaded in %.2f s\n", shape.accounts, shape.organizationalUnits,
              Seconds(begin));
  std::printf("%-44s %9s %9s %9s\n", "operation", "wall s", "entries", "rows");

  auto report = [&](const char* what, double seconds, size_t entries, uint64_t rowsBefore) {
    std::printf("%-44s %9.3f %9zu %9llu\n", what, seconds, entries,
                static_cast<unsigned long long>(world.directory().RowsServed() - rowsBefore));
  };

  for (int operation : {OP_INSTALL, OP_UNINSTALL}) {
    world.state().m_nOperation = operation;
    NullView view;
    CPage2 page(world.state());
    page.SetView(&view);
    ClearUserNodes();
    uint64_t rows = world.directory().RowsServed();
    begin = std::chrono::steady_clock::now();
    page.OnSetActive();
    report(operation == OP_INSTALL ? "first listing (add)" : "first listing (remove)", Seconds(begin),
           view.tree.Count(), rows);

    // Expanding the first unit: its sub-units and its accounts.
    HTREEITEM unit = view.tree.GetRootItem();
    while (unit != nullptr && view.tree.GetItemText(unit) == "Users") unit = view.tree.GetNextSiblingItem(unit);
    if (unit != nullptr) {
      size_t before = view.tree.Count();
      rows = world.directory().RowsServed();
      begin = std::chrono::steady_clock::now();
      page.OnItemexpandingTree(unit, TRUE);
      report(operation == OP_INSTALL ? "expand first unit (add)" : "expand first unit (remove)", Seconds(begin),
             view.tree.Count() - before, rows);
    }
  }

  RecordingSink sink;
  world.state().m_nOperation = OP_INSTALL;
  CDirectoryBackend backend(world.state(), &sink);
  for (const char* prefix : {"user0123", "user01", "user"}) {
    sink.entries.clear();
    uint64_t rows = world.directory().RowsServed();
    begin = std::chrono::steady_clock::now();
    backend.SearchDirectoryUsers(L"DC=test,DC=lan", nullptr, prefix, FALSE);
    std::string what = std::string("search account \"") + prefix + "*\"";
    report(what.c_str(), Seconds(begin), sink.entries.size(), rows);
  }

  // Where the time goes: one emptiness test per unit row, one account
  // lookup per account row.
  int units = 0;
  uint64_t rows = world.directory().RowsServed();
  begin = std::chrono::steady_clock::now();
  for (int i = 1; i <= 20; ++i) {
    wchar_t path[64];
    std::swprintf(path, 64, L"OU=Unit%04d,DC=test,DC=lan", i);
    ContainerHasUsers(path);
    ++units;
  }
  double perUnit = Seconds(begin) / units;
  std::printf("ContainerHasUsers per unit row: %.1f us (%llu rows over %d units)\n", perUnit * 1e6,
              static_cast<unsigned long long>(world.directory().RowsServed() - rows), units);
  begin = std::chrono::steady_clock::now();
  int accounts = 0;
  for (int i = 1; i <= 10000; ++i) {
    wchar_t name[32];
    std::swprintf(name, 32, L"user%06d", i);
    HasDeploymentScript(name);
    ++accounts;
  }
  std::printf("HasDeploymentScript (NetUserGetInfo) per account: %.1f us\n", Seconds(begin) / accounts * 1e6);
  ClearUserNodes();
  return 0;
}

}  // namespace
}  // namespace qel::test

int main(int argc, char** argv) { return qel::test::Main(argc, argv); }
