#include "directory/ui/terminal_user_page.h"

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "directory/tree_check.h"
#include "res/resource.h"

namespace qel {

namespace {

const char* Mark(int image) {
  switch (image) {
    case IMG_CONTAINER_CHECKED:
    case IMG_USER_CHECKED:
    case IMG_TICK:
      return "[x]";
    case IMG_CONTAINER_PARTIAL:
      return "[~]";
    case IMG_CONTAINER:
    case IMG_USER:
    case IMG_CROSS:
      return "[ ]";
    default:
      return "   ";
  }
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The item numbered `number` in the listing, or null.
HTREEITEM ItemAt(TerminalUserPageView& view, const std::string& number, bool all) {
  char* end = nullptr;
  long index = std::strtol(number.c_str(), &end, 10);
  if (end == number.c_str() || *end != '\0' || index < 1) return nullptr;
  auto items = view.Memory().Items(all);
  return static_cast<size_t>(index) <= items.size() ? items[static_cast<size_t>(index) - 1].first : nullptr;
}

}  // namespace

std::string TerminalUserPageView::GetEditText(int controlId) {
  return controlId == IDC_ACCOUNT ? m_strAccount : m_strDisplay;
}

void TerminalUserPageView::EnableButton(int controlId, BOOL enable) {
  (controlId == IDC_SEARCH ? m_bSearchEnabled : m_bStopEnabled) = enable != FALSE;
}

BOOL TerminalUserPageView::RunOnUiThread(const std::function<void()>& work) {
  std::lock_guard<std::recursive_mutex> lock(m_ui);
  work();
  return TRUE;
}

std::string FormatUserTree(TerminalUserPageView& view, bool all) {
  std::lock_guard<std::recursive_mutex> lock(view.UiLock());
  MemoryTree& tree = view.Memory();
  std::string text;
  int number = 0;
  for (const auto& item : tree.Items(all)) {
    ++number;
    std::string line = (number < 10 ? "   " : number < 100 ? "  " : number < 1000 ? " " : "") + std::to_string(number);
    line += " " + std::string(static_cast<size_t>(item.second) * 2, ' ');
    bool expandable = tree.GetItemChildren(item.first) != 0 && !tree.IsExpanded(item.first);
    line += expandable ? "+" : " ";
    line += Mark(tree.GetItemImage(item.first));
    line += " " + tree.GetItemText(item.first) + "\n";
    text += line;
  }
  return text;
}

bool RunTerminalUserPage(TerminalIo& io, CPage2& page, TerminalUserPageView& view) {
  io.print(FormatUserTree(view, false));
  if (!view.m_bExistHidden) io.print("check box: " + view.m_strExistText + (view.m_bExistChecked ? " [x]" : " [ ]"));
  std::string line;
  for (;;) {
    if (!io.readLine(page.IsSearching() ? "users (searching)> " : "users> ", &line)) return false;
    line = Trim(line);
    if (line.empty() || line == "done") {
      if (page.IsSearching()) {
        io.print("(a search is running: \"stop\" or \"wait\" first)");
        continue;
      }
      return true;
    }
    std::unique_lock<std::recursive_mutex> ui(view.UiLock());
    if (line == "list" || line == "list all") {
      ui.unlock();
      io.print(FormatUserTree(view, line == "list all"));
    } else if (line.compare(0, 7, "expand ") == 0) {
      HTREEITEM item = ItemAt(view, Trim(line.substr(7)), false);
      if (item == nullptr) {
        io.print("(no such item)");
        continue;
      }
      page.OnItemexpandingTree(item, TRUE);
      view.Memory().SetExpanded(item, true);
      ui.unlock();
      io.print(FormatUserTree(view, false));
    } else if (line.compare(0, 9, "collapse ") == 0) {
      if (HTREEITEM item = ItemAt(view, Trim(line.substr(9)), false)) view.Memory().SetExpanded(item, false);
      ui.unlock();
      io.print(FormatUserTree(view, false));
    } else if (line.compare(0, 6, "search") == 0 && (line.size() == 6 || line[6] == ' ')) {
      if (!view.m_bSearchEnabled) {
        io.print("(a search is running)");
        continue;
      }
      std::string criteria = line.size() > 7 ? line.substr(7) : std::string();
      size_t split = criteria.find(';');
      view.m_strAccount = criteria.substr(0, split);
      view.m_strDisplay = split == std::string::npos ? std::string() : criteria.substr(split + 1);
      page.OnSearch();
      ui.unlock();
      io.print("(searching: \"stop\" stops it, \"wait\" waits for the result)");
    } else if (line == "stop") {
      page.OnStop();
    } else if (line == "wait") {
      ui.unlock();
      while (page.IsSearching()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      io.print(FormatUserTree(view, false));
    } else if (line == "check y" || line == "check n") {
      view.m_bExistChecked = line == "check y";
    } else if (HTREEITEM item = ItemAt(view, line, false)) {
      page.OnClickTree(item, FALSE);
      ui.unlock();
      io.print(FormatUserTree(view, false));
    } else if (line.find_first_of(" ") == std::string::npos || line.find(';') != std::string::npos ||
               line.find('=') != std::string::npos) {
      // Names to check, then the page is left.
      std::string name;
      for (char c : line + ";") {
        if (c != ';') {
          name += c;
          continue;
        }
        name = Trim(name);
        if (!name.empty() && !page.SelectByName(name)) io.print("(not offered: " + name + ")");
        name.clear();
      }
      return true;
    } else {
      io.print("(list, N, expand N, collapse N, search ACCOUNT[;DISPLAY], stop, wait, check y|n, NAME[;NAME...], done)");
    }
  }
}

}  // namespace qel
