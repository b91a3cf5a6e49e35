// The one-pass check-mark propagation against the quadratic one it replaced,
// on generated trees, and the tree traffic of one click on a big container.
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "directory/tree_check.h"
#include "tests/directory/quadratic_check_marks.h"

namespace qel::test {
namespace {

// One generated tree, built twice: items with every image (none, 0 to 6 and
// an unknown one), accounts, containers and imageless items without a node,
// containers loaded or not, and selections that need not match the images.
struct TreePair {
  struct Shape {
    int parent;  // index into shapes, -1 for the top level
    int image;
    bool hasNode;
    int type;
    BOOL selected;
  };

  explicit TreePair(std::mt19937& random) {
    std::uniform_int_distribution<int> imageOf(-1, 7);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> fanout(0, 5);
    // Breadth first: a level's items, then theirs below, to depth 4.
    std::vector<int> level{-1};
    for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
      std::vector<int> next;
      for (int parent : level) {
        int count = depth == 0 ? 1 + fanout(random) : fanout(random);
        // A container often stays unloaded, an account mostly has nothing below.
        if (parent >= 0 && (percent(random) < 30 || (shapes[parent].type == UserType && percent(random) < 90))) count = 0;
        for (int i = 0; i < count; ++i) {
          Shape shape;
          shape.parent = parent;
          shape.image = percent(random) < 70 ? std::uniform_int_distribution<int>(0, 6)(random) : imageOf(random);
          shape.hasNode = percent(random) < 95;
          shape.type = percent(random) < 55 ? UserType : OUType;
          shape.selected = percent(random) < 50 ? TRUE : FALSE;
          next.push_back(static_cast<int>(shapes.size()));
          shapes.push_back(shape);
        }
      }
      level = next;
    }
    Build(reference, referenceNodes, referenceItems);
    Build(tree, nodes, items);
  }

  void Build(MemoryTree& into, std::vector<std::unique_ptr<USER_NODE>>& made, std::vector<HTREEITEM>& handles) {
    for (const Shape& shape : shapes) {
      USER_NODE* node = nullptr;
      if (shape.hasNode) {
        made.push_back(std::make_unique<USER_NODE>());
        node = made.back().get();
        node->nType = shape.type;
        node->bSelected = shape.selected;
      }
      HTREEITEM parent = shape.parent < 0 ? TVI_ROOT : handles[static_cast<size_t>(shape.parent)];
      handles.push_back(into.InsertItem("item", shape.image, shape.type == OUType ? 1 : 0, node, parent));
    }
  }

  // Differences between the two trees, as text.
  std::string Differences() {
    std::string out;
    for (size_t i = 0; i < shapes.size(); ++i) {
      int want = reference.GetItemImage(referenceItems[i]);
      int got = tree.GetItemImage(items[i]);
      if (want != got || reference.GetSelectedImage(referenceItems[i]) != tree.GetSelectedImage(items[i]))
        out += "item " + std::to_string(i) + ": image " + std::to_string(got) + ", wanted " + std::to_string(want) + "\n";
      USER_NODE* wantNode = reference.GetItemNode(referenceItems[i]);
      USER_NODE* gotNode = tree.GetItemNode(items[i]);
      if (wantNode != nullptr && wantNode->bSelected != gotNode->bSelected)
        out += "item " + std::to_string(i) + ": selected " + std::to_string(gotNode->bSelected) + "\n";
    }
    return out;
  }

  std::vector<Shape> shapes;
  MemoryTree reference, tree;
  std::vector<std::unique_ptr<USER_NODE>> referenceNodes, nodes;
  std::vector<HTREEITEM> referenceItems, items;
};

TEST(CheckMarks, OnePassGivesTheImagesAndSelectionsOfTheQuadraticPropagation) {
  std::mt19937 random(20261207);
  int clicks = 0;
  for (int round = 0; round < 400; ++round) {
    TreePair pair(random);
    std::uniform_int_distribution<size_t> pick(0, pair.shapes.size());  // one past the end: no item
    for (int step = 0; step < 25; ++step) {
      size_t at = pick(random);
      HTREEITEM want = at < pair.shapes.size() ? pair.referenceItems[at] : nullptr;
      HTREEITEM got = at < pair.shapes.size() ? pair.items[at] : nullptr;
      int operation = std::uniform_int_distribution<int>(0, 9)(random);
      std::string what;
      if (operation < 6) {  // mostly clicks
        what = "toggle";
        quadratic::ToggleItemCheck(pair.reference, want);
        ToggleItemCheck(pair.tree, got);
      } else if (operation < 8) {
        int state = std::uniform_int_distribution<int>(0, 2)(random);
        what = "set " + std::to_string(state);
        quadratic::SetItemCheck(pair.reference, want, state);
        SetItemCheck(pair.tree, got, state);
      } else if (operation == 8) {
        int state = std::uniform_int_distribution<int>(0, 1)(random);
        bool root = want == nullptr;
        what = std::string("children ") + (root ? "of the root " : "") + std::to_string(state);
        quadratic::SetChildrenCheck(pair.reference, root ? TVI_ROOT : want, state);
        SetChildrenCheck(pair.tree, root ? TVI_ROOT : got, state);
      } else {
        what = "parent";
        quadratic::UpdateParentCheck(pair.reference, want);
        UpdateParentCheck(pair.tree, got);
      }
      ++clicks;
      std::string differences = pair.Differences();
      ASSERT_EQ(differences, "") << "round " << round << ", step " << step << ": " << what << " of item " << at;
    }
  }
  EXPECT_EQ(clicks, 400 * 25);
}

// The tree with every call that reaches the control counted.
class CountingTree : public MemoryTree {
 public:
  int GetItemImage(HTREEITEM item) override {
    ++reads;
    return MemoryTree::GetItemImage(item);
  }
  int GetItemImageAndNode(HTREEITEM item, USER_NODE** node) override {
    ++reads;
    return MemoryTree::GetItemImageAndNode(item, node);
  }
  USER_NODE* GetItemNode(HTREEITEM item) override {
    ++reads;
    return MemoryTree::GetItemNode(item);
  }
  void SetItemImage(HTREEITEM item, int image, int selectedImage) override {
    ++writes;
    MemoryTree::SetItemImage(item, image, selectedImage);
  }
  void BeginUpdate() override {
    if (depth++ == 0) ++suspensions;
  }
  void EndUpdate() override { --depth; }
  void Reset() { reads = writes = suspensions = 0; }
  int reads = 0, writes = 0, suspensions = 0, depth = 0;
};

TEST(CheckMarks, ClickOnABigContainerReadsEachItemOnceAndWritesOnlyChanges) {
  const int accounts = 2000;
  CountingTree tree;
  USER_NODE top, unit, sibling;
  top.nType = unit.nType = sibling.nType = OUType;
  std::vector<USER_NODE> users(accounts);
  HTREEITEM domain = tree.InsertItem("domain", IMG_CONTAINER, 1, &top, TVI_ROOT);
  HTREEITEM big = tree.InsertItem("unit", IMG_CONTAINER, 1, &unit, domain);
  tree.InsertItem("other", IMG_CONTAINER, 1, &sibling, domain);
  std::vector<HTREEITEM> items;
  for (USER_NODE& user : users) {
    user.nType = UserType;
    items.push_back(tree.InsertItem("user", IMG_USER, 0, &user, big));
  }
  // Every other account already checked: the unit is partly checked.
  for (int i = 0; i < accounts; i += 2) ToggleItemCheck(tree, items[static_cast<size_t>(i)]);
  ASSERT_EQ(tree.GetItemImage(big), IMG_CONTAINER_PARTIAL);

  // What one click costs the tree, counted before the checks read it.
  struct Traffic {
    int reads, writes, suspensions;
  };
  auto click = [&tree](HTREEITEM item) {
    tree.Reset();
    ToggleItemCheck(tree, item);
    EXPECT_EQ(tree.depth, 0) << "every suspension ended";
    return Traffic{tree.reads, tree.writes, tree.suspensions};
  };

  Traffic traffic = click(big);
  EXPECT_EQ(tree.GetItemImage(big), IMG_CONTAINER_CHECKED);
  EXPECT_EQ(tree.GetItemImage(domain), IMG_CONTAINER_PARTIAL);
  EXPECT_TRUE(users.back().bSelected);
  // The toggle's two reads of the unit, each account once, the unit again,
  // and the level above: the other unit and the domain.
  EXPECT_EQ(traffic.reads, accounts + 5);
  // Only the accounts that were unchecked and the unit change; the domain
  // stays partly checked.
  EXPECT_EQ(traffic.writes, accounts / 2 + 1);
  EXPECT_EQ(traffic.suspensions, 1);

  traffic = click(big);
  EXPECT_EQ(tree.GetItemImage(items.front()), IMG_USER);
  EXPECT_EQ(tree.GetItemImage(domain), IMG_CONTAINER);
  EXPECT_EQ(traffic.reads, accounts + 4);
  EXPECT_EQ(traffic.writes, accounts + 2);

  // One account: its siblings are counted once, nothing is suspended.
  traffic = click(items[7]);
  EXPECT_EQ(tree.GetItemImage(big), IMG_CONTAINER_PARTIAL);
  EXPECT_EQ(traffic.reads, accounts + 4);
  EXPECT_EQ(traffic.writes, 3);
  EXPECT_EQ(traffic.suspensions, 0);
}

}  // namespace
}  // namespace qel::test
