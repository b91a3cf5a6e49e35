#include "wizard/page3_logic.h"

#include <cstdio>
#include <cstring>

#include "center/search_agent.h"
#include "platform/ports.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "wizard/sys_util.h"

namespace qel {

namespace {

const char kNoAddress[] = "0.0.0.0";
const char kLoopback[] = "127.0.0.1";

std::string ResText(UINT id) {
  char buffer[1024];
  LoadResString(id, buffer, sizeof buffer);
  return buffer;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Upper case of the single-byte letters; double-byte characters stay.
std::string Upper(const std::string& text) {
  std::string result = text;
  for (char* p = &result[0]; *p != '\0';) {
    char* next = MbsInc(p);
    if (next == p + 1 && *p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    p = next;
  }
  return result;
}

// Appends a display name and its pattern to the filter list when both fit
// with the final empty text; a pair never comes half.
bool AppendFilter(Page3OpenFile* dialog, const std::string& name, const std::string& pattern) {
  size_t need = name.size() + 1 + pattern.size() + 1;
  if (dialog->filterLength + need + 1 > sizeof dialog->filter) return false;
  std::memcpy(dialog->filter + dialog->filterLength, name.c_str(), name.size() + 1);
  dialog->filterLength += static_cast<DWORD>(name.size() + 1);
  std::memcpy(dialog->filter + dialog->filterLength, pattern.c_str(), pattern.size() + 1);
  dialog->filterLength += static_cast<DWORD>(pattern.size() + 1);
  return true;
}

}  // namespace

CPage3::CPage3(IPage3View* view, WizardState& state) : CWizardPage(IDD_PAGE3), m_pView(view), m_state(state) {}

void CPage3::Message(UINT stringId, UINT type, const char* argument) {
  std::string text = ResText(stringId);
  if (argument != nullptr) {
    // The argument takes the place of the text's "%s"; it is never read
    // as a format itself.
    size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
  }
  m_pView->ShowMessage(stringId, text, type);
}

BOOL CPage3::OnInitDialog() {
  CWizardPage::OnInitDialog();
  std::string center;
  RegReadString(HKEY_LOCAL_MACHINE, kQelRegistryKey, "CenterIP", center);
  m_pView->SetCenterAddress(center.empty() ? std::string(kNoAddress) : center);

  char folder[MAX_PATH] = {};
  DWORD length = Files().GetCurrentDirectoryA(MAX_PATH, folder);
  // 0 is a failure; a value of MAX_PATH or more is the size the folder
  // would have needed, and the buffer holds nothing usable.
  if (length == 0 || length >= MAX_PATH) return TRUE;
  StripTrailingBackslash(folder);
  char package[MAX_PATH];
  std::string name = ResText(kStrPackageName);
  int written = std::snprintf(package, sizeof package, "%s\\%s", folder, name.c_str());
  // A path cut at the buffer's end could name another file: no default.
  if (written < 0 || written >= static_cast<int>(sizeof package)) return TRUE;
  if (CheckPathKind(package, 1) == 0) m_pView->SetPackagePath(package);
  return TRUE;
}

BOOL CPage3::OnSetActive() {
  if (m_pSheet != nullptr) m_pSheet->PostWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return CWizardPage::OnSetActive();
}

LONG_PTR CPage3::OnWizardNext() {
  std::string address = m_pView->GetCenterAddress();
  if (address.empty() || EqualsIgnoringCase(address, kNoAddress)) {
    Message(kStrBadAddress, MB_ICONEXCLAMATION);
    m_pView->FocusControl(IDC_CENTER_IP);
    return -1;
  }
  std::string package = Trim(m_pView->GetPackagePath());
  if (package.empty()) {
    Message(kStrNoPackage, MB_ICONEXCLAMATION);
    m_pView->FocusControl(IDC_PACKAGE);
    return -1;
  }
  if (CheckPathKind(package.c_str(), 1) != 0) {
    Message(kStrPackageMissing, MB_ICONEXCLAMATION, package.c_str());
    m_pView->FocusControl(IDC_PACKAGE);
    return -1;
  }
  m_state.m_strCenterIP = address;
  m_state.m_strPackagePath = package;
  return 0;
}

Page3OpenFile CPage3::MakeOpenFile(DWORD version) {
  Page3OpenFile dialog;
  std::memset(&dialog, 0, sizeof dialog);
  AppendFilter(&dialog, ResText(kStrAllFiles) + "(*.*)", "*.*");
  AppendFilter(&dialog, ResText(kStrPackageFilter) + "(.exe)", "*.exe");
  // The list ends with an empty text.
  dialog.filter[dialog.filterLength] = '\0';
  dialog.filterLength += 1;
  dialog.filterIndex = 2;
  std::snprintf(dialog.file, sizeof dialog.file, "%s", ResText(kStrPackageName).c_str());
  dialog.maxFile = MAX_PATH;
  std::snprintf(dialog.title, sizeof dialog.title, "%s", ResText(kStrBrowseTitle).c_str());
  dialog.flags = 0x21804;
  BYTE major = static_cast<BYTE>(version & 0xff), minor = static_cast<BYTE>((version >> 8) & 0xff);
  dialog.structSize = (major < 5 && minor == 0) ? 76 : 88;
  return dialog;
}

void CPage3::OnBrowse() {
  Page3OpenFile dialog = MakeOpenFile(System().GetVersion());
  std::string chosen;
  if (m_pView->RunOpenFileDialog(dialog, &chosen)) m_pView->SetPackagePath(chosen);
}

void CPage3::OnTest() {
  std::string address = m_pView->GetCenterAddress();
  if (address.empty() || address == kNoAddress) {
    Message(kStrBadAddress, MB_ICONEXCLAMATION);
    return;
  }
  std::string local = GetLocalAgentAddress();
  bool found;
  {
    CSearchAgent search;
    found = search.Search(local.c_str(), address.c_str(), SEARCH_BIND_LOCAL | SEARCH_UNICAST, false);
  }
  if (found)
    Message(kStrTestSuccess, MB_ICONINFORMATION);
  else
    Message(kStrTestFailure, MB_ICONEXCLAMATION);
}

std::string CPage3::GetLocalAgentAddress() {
  std::string configured;
  RegReadString(HKEY_LOCAL_MACHINE, kQelRegistryKey, "QelAgentIP", configured);
  std::vector<std::string> hosts;
  GetHostAddresses(hosts);
  for (int i; (i = FindStringInArray(hosts, kLoopback, true)) >= 0;) hosts.erase(hosts.begin() + i);
  std::string first = hosts.empty() ? std::string() : hosts.front();
  if (configured.empty()) return first;
  // A configured address wins only when it belongs to this host.
  if (FindStringInArray(hosts, configured, false) < 0) return first;
  return configured;
}

int CPage3::FindStringInArray(const std::vector<std::string>& list, const std::string& text, bool caseSensitive) {
  std::string wanted = caseSensitive ? text : Upper(text);
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string& entry = caseSensitive ? list[i] : Upper(list[i]);
    if (std::strcmp(entry.c_str(), wanted.c_str()) == 0) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace qel
