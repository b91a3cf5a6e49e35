#include <algorithm>
#include <unordered_set>

#include "directory/tree_ops.h"

namespace qel {

struct MemoryTree::Item {
  std::string text;
  int image = kNoImage;
  int selectedImage = kNoImage;
  int children = 0;
  bool expanded = false;
  USER_NODE* node = nullptr;
  Item* parent = nullptr;
  Item* next = nullptr;  // next sibling
  Item* prev = nullptr;
  std::vector<std::unique_ptr<Item>> kids;
};

MemoryTree::MemoryTree() : root_(std::make_unique<Item>()) {}
MemoryTree::~MemoryTree() = default;

MemoryTree::Item* MemoryTree::Find(HTREEITEM item) {
  if (item == TVI_ROOT) return root_.get();
  // Only handles of items still in the tree are followed.
  Item* at = reinterpret_cast<Item*>(item);
  return live_.count(at) != 0 ? at : nullptr;
}

int MemoryTree::GetItemImage(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  return at != nullptr && at != root_.get() ? at->image : kNoImage;
}

int MemoryTree::GetSelectedImage(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  return at != nullptr && at != root_.get() ? at->selectedImage : kNoImage;
}

void MemoryTree::SetItemImage(HTREEITEM item, int image, int selectedImage) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  if (at == nullptr || at == root_.get()) return;
  at->image = image;
  at->selectedImage = selectedImage;
}

HTREEITEM MemoryTree::GetParentItem(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  if (at == nullptr || at->parent == nullptr || at->parent == root_.get()) return nullptr;
  return reinterpret_cast<HTREEITEM>(at->parent);
}

HTREEITEM MemoryTree::GetChildItem(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  if (at == nullptr || at->kids.empty()) return nullptr;
  return reinterpret_cast<HTREEITEM>(at->kids.front().get());
}

HTREEITEM MemoryTree::GetNextSiblingItem(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  return at != nullptr ? reinterpret_cast<HTREEITEM>(at->next) : nullptr;
}

USER_NODE* MemoryTree::GetItemNode(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  return at != nullptr ? at->node : nullptr;
}

int MemoryTree::GetItemImageAndNode(HTREEITEM item, USER_NODE** node) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  *node = at != nullptr ? at->node : nullptr;
  return at != nullptr && at != root_.get() ? at->image : kNoImage;
}

HTREEITEM MemoryTree::InsertItem(const char* text, int image, int children, USER_NODE* node, HTREEITEM parent) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* under = Find(parent == nullptr ? TVI_ROOT : parent);
  if (under == nullptr) return nullptr;
  auto item = std::make_unique<Item>();
  item->text = text != nullptr ? text : "";
  item->image = image;
  item->selectedImage = image;
  item->children = children;
  item->node = node;
  item->parent = under;
  Item* made = item.get();
  if (!under->kids.empty()) {
    made->prev = under->kids.back().get();
    made->prev->next = made;
  }
  under->kids.push_back(std::move(item));
  live_.insert(made);
  return reinterpret_cast<HTREEITEM>(made);
}

void MemoryTree::Remove(Item* item) {
  for (auto& kid : item->kids) Remove(kid.get());
  if (caret_ == item) caret_ = nullptr;
  for (auto& kid : item->kids) live_.erase(kid.get());
  item->kids.clear();
}

BOOL MemoryTree::DeleteItem(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  if (at == nullptr) return FALSE;
  Remove(at);
  if (at == root_.get()) return TRUE;
  if (caret_ == at) caret_ = nullptr;
  auto& kids = at->parent->kids;
  live_.erase(at);
  if (at->prev != nullptr) at->prev->next = at->next;
  if (at->next != nullptr) at->next->prev = at->prev;
  kids.erase(std::find_if(kids.begin(), kids.end(), [at](const std::unique_ptr<Item>& kid) { return kid.get() == at; }));
  return TRUE;
}

int MemoryTree::GetItemChildren(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  return at != nullptr ? at->children : 0;
}

void MemoryTree::SetItemChildren(HTREEITEM item, int children) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Item* at = Find(item)) at->children = children;
}

std::string MemoryTree::GetItemText(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  return at != nullptr ? at->text : std::string();
}

void MemoryTree::SetItemText(HTREEITEM item, const char* text) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Item* at = Find(item)) at->text = text != nullptr ? text : "";
}

HTREEITEM MemoryTree::GetCaretItem() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return reinterpret_cast<HTREEITEM>(caret_);
}

void MemoryTree::SetCaretItem(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  caret_ = at != root_.get() ? at : nullptr;
}

HTREEITEM MemoryTree::GetRootItem() { return GetChildItem(TVI_ROOT); }

std::vector<std::pair<HTREEITEM, int>> MemoryTree::Items(bool all) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<std::pair<HTREEITEM, int>> items;
  struct Walker {
    static void Walk(Item* at, int depth, bool all, std::vector<std::pair<HTREEITEM, int>>& out) {
      for (auto& kid : at->kids) {
        out.emplace_back(reinterpret_cast<HTREEITEM>(kid.get()), depth);
        if (all || kid->expanded) Walk(kid.get(), depth + 1, all, out);
      }
    }
  };
  Walker::Walk(root_.get(), 0, all, items);
  return items;
}

void MemoryTree::SetExpanded(HTREEITEM item, bool expanded) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Item* at = Find(item)) at->expanded = expanded;
}

bool MemoryTree::IsExpanded(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Item* at = Find(item);
  return at != nullptr && at->expanded;
}

size_t MemoryTree::Count() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return live_.size();
}

}  // namespace qel
