#include "directory/page2.h"

#include <cstring>
#include <deque>
#include <string>

#include "deploy/script_deployer.h"
#include "deploy/text_util.h"
#include "directory/tree_check.h"
#include "directory/user_node.h"
#include "log/log_utility.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "wizard/startup.h"

#ifndef VK_SPACE
#define VK_SPACE 0x20
#endif

namespace qel {

namespace {

constexpr size_t kLabelBytes = 50;  // label buffer with its terminator

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n\v\f";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// The first 49 bytes of the label, never ending in half a double-byte character.
std::string ClipLabel(const std::string& label) {
  if (label.size() < kLabelBytes) return label;
  size_t end = 0;
  while (end < label.size()) {
    size_t step = CodePage().IsDBCSLeadByte(static_cast<BYTE>(label[end])) && end + 1 < label.size() ? 2 : 1;
    if (end + step > kLabelBytes - 1) break;
    end += step;
  }
  return label.substr(0, end);
}

std::string ResText(UINT id) {
  char buffer[512];
  int length = LoadResString(id, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

bool SameNoCase(const std::string& left, const std::string& right) {
  if (left.size() != right.size()) return false;
  for (size_t i = 0; i < left.size(); ++i) {
    char a = left[i], b = right[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

// The search thread's sink: every entry is inserted on the user-interface
// thread, so the tree and the node list have one writer.
class CPage2::SearchSink final : public IUserEntrySink {
 public:
  explicit SearchSink(CPage2& page) : m_page(page) {}
  HTREEITEM InsertUserItem(const char* name, const wchar_t* path, const wchar_t* account, int type,
                           HTREEITEM parent) override {
    HTREEITEM item = nullptr;
    if (m_page.m_pView == nullptr) return nullptr;
    m_page.m_pView->RunOnUiThread([&] { item = m_page.InsertUserItem(name, path, account, type, parent); });
    return item;
  }

 private:
  CPage2& m_page;
};

CPage2::CPage2(WizardState& state)
    : CWizardPage(IDD_PAGE2),
      m_state(state),
      m_backend(state, this),
      m_pSearchSink(new SearchSink(*this)),
      m_searchBackend(state, m_pSearchSink) {}

CPage2::~CPage2() {
  // A search still running is told to stop and given time to end; it only
  // touches the page through the view, which is gone by now or still pumping.
  if (m_bSearching.load()) {
    if (m_hStopEvent != nullptr) Sync().SetEvent(m_hStopEvent);
    for (int waited = 0; m_bSearching.load() && waited < 3000; ++waited) System().Sleep(10);
  }
  if (!m_bSearching.load()) {
    if (m_hStopEvent != nullptr) Sync().CloseHandle(m_hStopEvent);
    delete m_pSearchSink;
  }
}

HTREEITEM CPage2::InsertUserItem(const char* name, const wchar_t* path, const wchar_t* account, int type,
                                 HTREEITEM parent) {
  if (m_pView == nullptr) return nullptr;
  ITreeOps& tree = m_pView->Tree();
  USER_NODE* node = NewUserNode(name, path, account, type);
  node->pNext = g_pLastUserNode->pNext;

  int parentImage = 0;
  USER_NODE* parentNode = nullptr;
  if (parent != TVI_ROOT && parent != nullptr) {
    parentImage = tree.GetItemImage(parent);
    parentNode = tree.GetItemNode(parent);
  }
  if (parentNode != nullptr) {
    node->pParent = parentNode;
    if (parentNode->pChild == nullptr) parentNode->pChild = node;
    if (g_pLastUserNode->pParent == parentNode) g_pLastUserNode->pNext = node;  // siblings are chained
    g_pLastUserNode = node;
  } else {
    g_pLastUserNode->pNext = node;
    g_pLastUserNode = node;
  }

  std::string label;
  int image;
  int children;
  if (type == OUType) {
    label = name != nullptr ? name : "";
    image = parentImage;
    children = 1;
  } else {
    std::string accountText = AnsiString(account);
    if (name != nullptr && *name != '\0')
      label = accountText.empty() ? std::string(name) : std::string(name) + " (" + accountText + ")";
    else
      label = accountText;
    label = ClipLabel(label);
    image = parentImage < 5 ? parentImage + 5 : parentImage;
    children = 0;
  }
  if (image == 1 || image == 6) node->bSelected = TRUE;
  return tree.InsertItem(label.c_str(), image, children, node, parent == nullptr ? TVI_ROOT : parent);
}

BOOL CPage2::OnSetActive() {
  if (m_pSheet != nullptr) m_pSheet->PostWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  if (m_pView == nullptr) return TRUE;
  m_pView->SetExistCheckText(ResText(m_state.m_nOperation == OP_INSTALL ? 136 : 137).c_str());
  // While a search runs the list is being filled by it. A list emptied since
  // the tree was built (the first page does so when the operation changes)
  // leaves items whose nodes are gone: the page is loaded afresh, whatever
  // the list holds now.
  if ((g_UserNodeHead.pNext == nullptr || UserNodeGeneration() != m_dwBuiltOn) && !m_bSearching.load()) {
    m_pView->Tree().DeleteItem(TVI_ROOT);
    if (g_UserNodeHead.pNext != nullptr) ClearUserNodes();
    m_dwBuiltOn = UserNodeGeneration();
    _NCOvLogUtility::GetInstance()->Warning("+++++++++Begin a phase to Retrive UserList From ADS!");
    if (m_state.m_dwMajorVersion < 5)
      m_backend.ListDomainUsers(nullptr, nullptr);
    else
      LoadInitialUsers();
    _NCOvLogUtility::GetInstance()->Warning("---------End Phase [ Retrive UserList From ADS].");
  }
  if (!m_bExistHidden && !IsInstallBatchPresent()) {
    m_pView->HideExistCheck();
    m_bExistHidden = TRUE;
  }
  return TRUE;
}

void CPage2::LoadInitialUsers() {
  DWORD capacity = 260;
  GetDefaultNamingContext(m_szNamingContext, &capacity);
  m_backend.BrowseDirectory(m_szNamingContext, TVI_ROOT);
}

BOOL CPage2::IsInstallBatchPresent() {
  char windowsDir[MAX_PATH] = {};
  if (System().GetWindowsDirectoryA(windowsDir, MAX_PATH) == 0) return FALSE;
  char folder[MAX_PATH] = {};
  if (!FindScriptsFolder(windowsDir, folder, sizeof folder)) return FALSE;
  std::string pattern = std::string(folder) + "\\QelInstall.bat";
  WIN32_FIND_DATAA found;
  HANDLE find = Files().FindFirstFileA(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return FALSE;
  Files().FindClose(find);
  return TRUE;
}

LONG_PTR CPage2::OnWizardNext() {
  // A run must not read a list that a search is still filling.
  if (m_bSearching.load()) return -1;
  BOOL checked = m_pView != nullptr && !m_bExistHidden && m_pView->IsExistChecked();
  if (checked) {
    if (m_state.m_nOperation == OP_INSTALL) {
      m_state.NoCopyWhenExist = TRUE;
      return IDD_PAGE2 + 2;  // the progress page; the install parameters are skipped
    }
    m_state.RemoveWhenExist = TRUE;
  } else {
    m_state.NoCopyWhenExist = FALSE;
    m_state.RemoveWhenExist = FALSE;
  }
  if (m_state.m_nOperation == OP_UNINSTALL) return IDD_PAGE2 + 2;
  return 0;
}

LONG_PTR CPage2::OnWizardBack() {
  // The first page may empty the node list that a search is still filling
  // and its tree items point into: a search is stopped first, and Back works
  // once it has ended.
  if (m_bSearching.load()) {
    OnStop();
    return -1;
  }
  return 0;
}

void CPage2::OnClickTree(HTREEITEM hit, BOOL onButton) {
  if (onButton || m_pView == nullptr) return;
  ToggleItemCheck(m_pView->Tree(), hit);
}

void CPage2::OnKeydownTree(UINT key) {
  if (key != VK_SPACE || m_pView == nullptr) return;
  ToggleItemCheck(m_pView->Tree(), m_pView->Tree().GetCaretItem());
}

LONG_PTR CPage2::OnItemexpandingTree(HTREEITEM item, BOOL expand) {
  // While a search fills the tree a container is not read: it keeps its
  // expand button and is read when it is expanded after the search.
  if (!expand || m_pView == nullptr || m_bSearching.load()) return 0;
  ITreeOps& tree = m_pView->Tree();
  if (tree.GetItemChildren(item) != 1 || tree.GetChildItem(item) != nullptr) return 0;
  USER_NODE* node = tree.GetItemNode(item);
  if (node == nullptr || node->pwszPath == nullptr || *node->pwszPath == L'\0') return 0;
  _NCOvLogUtility::GetInstance()->Warning("+++++++++Expand TreeItem Begin Retrive UserList From ADS!");
  m_backend.BrowseDirectory(node->pwszPath, item);
  _NCOvLogUtility::GetInstance()->Warning("---------End Expand End  [ Retrive UserList From ADS].");
  if (tree.GetChildItem(item) == nullptr) tree.SetItemChildren(item, 0);
  return 0;
}

BOOL CPage2::SelectByName(const std::string& name) {
  if (m_pView == nullptr || name.empty() || m_bSearching.load()) return FALSE;
  ITreeOps& tree = m_pView->Tree();
  bool container = name.find('=') != std::string::npos;
  std::deque<HTREEITEM> pending;
  for (HTREEITEM item = tree.GetRootItem(); item != nullptr; item = tree.GetNextSiblingItem(item))
    pending.push_back(item);
  while (!pending.empty()) {
    HTREEITEM item = pending.front();
    pending.pop_front();
    USER_NODE* node = tree.GetItemNode(item);
    if (node != nullptr) {
      std::string key = AnsiString(container ? node->pwszPath : node->pwszAccount);
      if (!key.empty() && SameNoCase(key, name)) {
        if (tree.GetItemImage(item) != IMG_CONTAINER_CHECKED && tree.GetItemImage(item) != IMG_USER_CHECKED)
          ToggleItemCheck(tree, item);
        return TRUE;
      }
    }
    OnItemexpandingTree(item, TRUE);
    for (HTREEITEM child = tree.GetChildItem(item); child != nullptr; child = tree.GetNextSiblingItem(child))
      pending.push_back(child);
  }
  return FALSE;
}

void CPage2::OnSearch() {
  if (m_pView == nullptr || m_bSearching.load()) return;
  ITreeOps& tree = m_pView->Tree();
  m_pView->PlayAnimation(TRUE);
  tree.DeleteItem(TVI_ROOT);
  ClearUserNodes();
  m_dwBuiltOn = UserNodeGeneration();
  HTREEITEM placeholder = tree.InsertItem(ResText(125).c_str(), kNoImage, 0, nullptr, TVI_ROOT);
  tree.SetItemImage(placeholder, kNoImage, kNoImage);
  m_pView->EnableButton(IDC_SEARCH, FALSE);
  m_pView->EnableButton(IDC_STOP, TRUE);
  m_hStopEvent = Sync().CreateEventA(FALSE, FALSE, nullptr);
  m_searchBackend.SetStopEvent(m_hStopEvent);
  m_bSearching.store(TRUE);
  DWORD threadId = 0;
  HANDLE thread = Sync().CreateThread(&CPage2::SearchThreadProc, this, &threadId);
  if (thread == nullptr) {
    // No thread: nothing was found, and the page goes back to idle.
    BackToIdle();
    return;
  }
  Sync().CloseHandle(thread);
}

DWORD WINAPI CPage2::SearchThreadProc(LPVOID parameter) {
  static_cast<CPage2*>(parameter)->RunSearch();
  return 0;
}

void CPage2::RunSearch() {
  std::string account, display;
  m_pView->RunOnUiThread([&] {
    account = m_pView->GetEditText(IDC_ACCOUNT);
    display = m_pView->GetEditText(IDC_DISPLAY_NAME);
  });
  account = Trim(account);
  display = Trim(display);
  if (account.empty() && display.empty()) {
    if (m_state.m_dwMajorVersion >= 5)
      m_searchBackend.BrowseDirectory(m_szNamingContext, TVI_ROOT);
    else
      m_searchBackend.ListDomainUsers(nullptr, nullptr);
  } else if (m_state.m_dwMajorVersion >= 5) {
    m_searchBackend.SearchDirectoryUsers(m_szNamingContext, display.c_str(), account.c_str(), FALSE);
  } else {
    m_searchBackend.ListDomainUsers(display.c_str(), account.c_str());
  }
  OnSearchFinished();
}

void CPage2::OnStop() {
  if (m_hStopEvent != nullptr) Sync().SetEvent(m_hStopEvent);
}

void CPage2::OnSearchFinished() {
  if (!m_pView->RunOnUiThread([this] { BackToIdle(); })) {
    // The window is gone: the page is left idle without touching it.
    m_searchBackend.SetStopEvent(nullptr);
    if (m_hStopEvent != nullptr) Sync().CloseHandle(m_hStopEvent);
    m_hStopEvent = nullptr;
    m_bSearching.store(FALSE);
  }
}

void CPage2::BackToIdle() {
  ITreeOps& tree = m_pView->Tree();
  m_pView->PlayAnimation(FALSE);
  HTREEITEM placeholder = tree.GetRootItem();
  if (placeholder != nullptr) {
    if (tree.GetNextSiblingItem(placeholder) == nullptr)
      tree.SetItemText(placeholder, ResText(126).c_str());
    else
      tree.DeleteItem(placeholder);
  }
  m_searchBackend.SetStopEvent(nullptr);
  if (m_hStopEvent != nullptr) Sync().CloseHandle(m_hStopEvent);
  m_hStopEvent = nullptr;
  m_pView->EnableButton(IDC_SEARCH, TRUE);
  m_pView->EnableButton(IDC_STOP, FALSE);
  m_bSearching.store(FALSE);
}

}  // namespace qel
