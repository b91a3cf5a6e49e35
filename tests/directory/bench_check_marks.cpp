// Timing harness (not a test): one click on an expanded unit of N accounts
// checks it, a second click unchecks it, over the in-memory tree, with the
// one-pass propagation and the quadratic one it replaced.
//   bench_check_marks [N ...] [--quadratic-max M] [--repeat R]
// (default N: 1000 10000 50000; the quadratic propagation only up to M
// accounts, default 10000, since it grows with N²). Each click is made R
// times (default 5; once for the quadratic one) and the median is shown.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "directory/tree_check.h"
#include "tests/directory/quadratic_check_marks.h"

namespace qel::test {
namespace {

using Toggle = void (*)(ITreeOps&, HTREEITEM);

struct Clicks {
  double check = 0, uncheck = 0;
  bool right = false;  // the marks came out as a click should leave them
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A domain with three units, the middle one holding N accounts; R clicks
// checking it, each followed by one unchecking it.
Clicks Measure(int accounts, Toggle toggle, int repeat) {
  MemoryTree tree;
  USER_NODE domain, units[3];
  domain.nType = OUType;
  std::vector<USER_NODE> users(static_cast<size_t>(accounts));
  HTREEITEM top = tree.InsertItem("test.lan", IMG_CONTAINER, 1, &domain, TVI_ROOT);
  HTREEITEM unit = nullptr;
  for (int i = 0; i < 3; ++i) {
    units[i].nType = OUType;
    HTREEITEM made = tree.InsertItem("Unit", IMG_CONTAINER, 1, &units[i], top);
    if (i == 1) unit = made;
  }
  for (USER_NODE& user : users) {
    user.nType = UserType;
    tree.InsertItem("Some User (someuser)", IMG_USER, 0, &user, unit);
  }
  tree.SetExpanded(top, true);
  tree.SetExpanded(unit, true);

  Clicks clicks;
  clicks.right = true;
  std::vector<double> checks, unchecks;
  auto seconds = [](std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  };
  for (int i = 0; i < repeat; ++i) {
    auto begin = std::chrono::steady_clock::now();
    toggle(tree, unit);
    checks.push_back(seconds(begin));
    bool checked = tree.GetItemImage(unit) == IMG_CONTAINER_CHECKED && users.back().bSelected &&
                   tree.GetItemImage(top) == IMG_CONTAINER_PARTIAL;
    begin = std::chrono::steady_clock::now();
    toggle(tree, unit);
    unchecks.push_back(seconds(begin));
    clicks.right = clicks.right && checked && tree.GetItemImage(unit) == IMG_CONTAINER &&
                   !users.front().bSelected && tree.GetItemImage(top) == IMG_CONTAINER;
  }
  clicks.check = Median(checks);
  clicks.uncheck = Median(unchecks);
  return clicks;
}

int Main(int argc, char** argv) {
  std::vector<int> sizes;
  int quadraticMax = 10000, repeat = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quadratic-max") == 0 && i + 1 < argc)
      quadraticMax = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
      repeat = std::max(1, std::atoi(argv[++i]));
    else if (std::atoi(argv[i]) > 0)
      sizes.push_back(std::atoi(argv[i]));
  }
  if (sizes.empty()) sizes = {1000, 10000, 50000};

  std::printf("%-10s %-10s %12s %12s %14s\n", "accounts", "algorithm", "check ms", "uncheck ms", "ns per account");
  bool allRight = true;
  for (int accounts : sizes) {
    for (int quadratic = 1; quadratic >= 0; --quadratic) {
      const char* name = quadratic ? "quadratic" : "one pass";
      if (quadratic && accounts > quadraticMax) {
        std::printf("%-10d %-10s %12s %12s %14s\n", accounts, name, "skipped", "skipped", "-");
        continue;
      }
      Clicks clicks = Measure(accounts, quadratic ? &quadratic::ToggleItemCheck : &ToggleItemCheck, quadratic ? 1 : repeat);
      allRight = allRight && clicks.right;
      std::printf("%-10d %-10s %12.2f %12.2f %14.1f%s\n", accounts, name, clicks.check * 1e3, clicks.uncheck * 1e3,
                  (clicks.check + clicks.uncheck) / 2 / accounts * 1e9, clicks.right ? "" : "  WRONG MARKS");
    }
  }
  return allRight ? 0 : 1;
}

}  // namespace
}  // namespace qel::test

int main(int argc, char** argv) { return qel::test::Main(argc, argv); }
