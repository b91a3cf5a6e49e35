// The tree operations the user page and the check marks need, so that both
// run over a tree-view control on Windows and over an in-memory tree in the
// tests and the terminal front end.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "directory/user_node.h"
#include "platform/win_types.h"

#ifdef _WIN32
#include <commctrl.h>
#else
struct _TREEITEM;
typedef struct _TREEITEM* HTREEITEM;
#define TVI_ROOT ((HTREEITEM)(ULONG_PTR)-0x10000)
#define TVI_FIRST ((HTREEITEM)(ULONG_PTR)-0x0FFFF)
#define TVI_LAST ((HTREEITEM)(ULONG_PTR)-0x0FFFE)
#endif

namespace qel {

// An item without an image (the search placeholders).
constexpr int kNoImage = -1;

class ITreeOps {
 public:
  // Normal image of the item (the selected image always follows it); kNoImage for none.
  virtual int GetItemImage(HTREEITEM item) = 0;
  virtual void SetItemImage(HTREEITEM item, int image, int selectedImage) = 0;
  // Null for a top-level item.
  virtual HTREEITEM GetParentItem(HTREEITEM item) = 0;
  // First child; GetChildItem(TVI_ROOT) is the first top-level item. Null when none.
  virtual HTREEITEM GetChildItem(HTREEITEM item) = 0;
  virtual HTREEITEM GetNextSiblingItem(HTREEITEM item) = 0;
  virtual USER_NODE* GetItemNode(HTREEITEM item) = 0;
  // Inserted under parent (or TVI_ROOT) after its last child.
  virtual HTREEITEM InsertItem(const char* text, int image, int children, USER_NODE* node, HTREEITEM parent) = 0;
  virtual BOOL DeleteItem(HTREEITEM item) = 0;  // TVI_ROOT: every item
  virtual int GetItemChildren(HTREEITEM item) = 0;
  virtual void SetItemChildren(HTREEITEM item, int children) = 0;
  virtual std::string GetItemText(HTREEITEM item) = 0;
  virtual void SetItemText(HTREEITEM item, const char* text) = 0;
  virtual HTREEITEM GetCaretItem() = 0;
  virtual HTREEITEM GetRootItem() = 0;  // the first top-level item

  // The image and the node of an item in one read (a control answers both
  // with one request); kNoImage and null for an unknown item.
  virtual int GetItemImageAndNode(HTREEITEM item, USER_NODE** node) {
    *node = GetItemNode(item);
    return GetItemImage(item);
  }
  // Around a change of many items: a control may stop drawing at BeginUpdate
  // and draw once at the matching EndUpdate. Pairs may nest.
  virtual void BeginUpdate() {}
  virtual void EndUpdate() {}

 protected:
  ~ITreeOps() = default;
};

// The tree without a control. Every operation takes the tree's own lock, so
// a reader on another thread sees whole items.
class MemoryTree : public ITreeOps {
 public:
  MemoryTree();
  ~MemoryTree();

  int GetItemImage(HTREEITEM item) override;
  void SetItemImage(HTREEITEM item, int image, int selectedImage) override;
  HTREEITEM GetParentItem(HTREEITEM item) override;
  HTREEITEM GetChildItem(HTREEITEM item) override;
  HTREEITEM GetNextSiblingItem(HTREEITEM item) override;
  USER_NODE* GetItemNode(HTREEITEM item) override;
  HTREEITEM InsertItem(const char* text, int image, int children, USER_NODE* node, HTREEITEM parent) override;
  BOOL DeleteItem(HTREEITEM item) override;
  int GetItemChildren(HTREEITEM item) override;
  void SetItemChildren(HTREEITEM item, int children) override;
  std::string GetItemText(HTREEITEM item) override;
  void SetItemText(HTREEITEM item, const char* text) override;
  HTREEITEM GetCaretItem() override;
  HTREEITEM GetRootItem() override;
  int GetItemImageAndNode(HTREEITEM item, USER_NODE** node) override;

  void SetCaretItem(HTREEITEM item);
  int GetSelectedImage(HTREEITEM item);
  // Visible items in display order (children only below expanded items,
  // or every item when `all`), with their depth.
  std::vector<std::pair<HTREEITEM, int>> Items(bool all = true);
  void SetExpanded(HTREEITEM item, bool expanded);
  bool IsExpanded(HTREEITEM item);
  size_t Count();

 private:
  struct Item;
  Item* Find(HTREEITEM item);
  void Remove(Item* item);
  std::recursive_mutex mutex_;
  std::unique_ptr<Item> root_;
  Item* caret_ = nullptr;
  std::unordered_set<Item*> live_;
};

}  // namespace qel
