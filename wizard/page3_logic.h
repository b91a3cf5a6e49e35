// The install-parameters page (dialog 109): the system center address, its
// Test button, and the install package with its Browse button.
//
// CPage3 holds the page's behaviour; the controls live behind IPage3View,
// which the Win32 page and the terminal page each implement:
//
//   class MyView : public IPage3View { ... };          // the controls
//   MyView view;
//   CPage3 page(&view);                                 // writes TheWizardState()
//   flow.AddPage(&page);                                // OnInitDialog/OnSetActive/OnWizardNext
//   on click of 1015: page.OnBrowse();  on click of 1016: page.OnTest();
//
// Messages are string-table texts (113, 117 to 120), already formatted;
// the view shows them as modal boxes with the given icon. The Test button
// runs the center probe on the calling thread and blocks it for up to about
// ten seconds.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"
#include "wizard/wizard_page.h"
#include "wizard/wizard_state.h"

namespace qel {

// String ids of the page.
constexpr UINT kStrPackageName = 112;     // "QelSetup.exe"
constexpr UINT kStrPackageMissing = 113;  // "Cann't find file "%s",please make sure it is exist."
constexpr UINT kStrAllFiles = 114;        // "All file"
constexpr UINT kStrPackageFilter = 115;   // "QEL install package"
constexpr UINT kStrBrowseTitle = 116;     // "Please select Qel install package"
constexpr UINT kStrBadAddress = 117;      // "The IP address you input is incorrect. ..."
constexpr UINT kStrTestSuccess = 118;     // "Success! ..."
constexpr UINT kStrTestFailure = 119;     // "Fail! ..."
constexpr UINT kStrNoPackage = 120;       // "Please input the full path name of Qel install package."

// What Browse hands to the open-file dialog (GetOpenFileNameA's
// OPENFILENAMEA fields of the same meaning).
struct Page3OpenFile {
  // lpstrFilter: "All file(*.*)\0*.*\0QEL install package(.exe)\0*.exe\0\0".
  char filter[100];
  DWORD filterLength;  // bytes of filter in use, the final empty text included
  DWORD filterIndex;   // nFilterIndex: 2, the package filter
  // lpstrFile: the initial name "QelSetup.exe"; nMaxFile 260.
  char file[MAX_PATH];
  DWORD maxFile;
  char title[MAX_PATH];  // lpstrTitle: string 116
  DWORD flags;           // 0x21804: OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON
  // lStructSize: 76 (the layout before Windows 2000) or 88. No initial
  // folder, no file-title buffer; the owner is the page.
  DWORD structSize;
};

// The controls of dialog 109 as the page's logic uses them.
class IPage3View {
 public:
  // Control 1012, the IP address control, as dotted text ("" when the view
  // has no address at all).
  virtual std::string GetCenterAddress() = 0;
  virtual void SetCenterAddress(const std::string& address) = 0;
  // Edit 1000, the package path, as typed.
  virtual std::string GetPackagePath() = 0;
  virtual void SetPackagePath(const std::string& path) = 0;
  // Moves the focus to control 1012 or 1000.
  virtual void FocusControl(int controlId) = 0;
  // A modal box over the wizard: `text` is string `stringId` (formatted);
  // `type` is MB_ICONEXCLAMATION or MB_ICONINFORMATION.
  virtual void ShowMessage(UINT stringId, const std::string& text, UINT type) = 0;
  // Runs the open-file dialog. True with the chosen full path when the
  // dialog returned 1; false on cancel or failure.
  virtual bool RunOpenFileDialog(const Page3OpenFile& dialog, std::string* chosen) = 0;

 protected:
  ~IPage3View() = default;
};

class CPage3 : public CWizardPage {
 public:
  explicit CPage3(IPage3View* view, WizardState& state = TheWizardState());

  // Address from "CenterIP" (else "0.0.0.0"); the package defaults to
  // "QelSetup.exe" in the current folder when that file exists. TRUE.
  BOOL OnInitDialog() override;
  // Back and Next. TRUE.
  BOOL OnSetActive() override;
  // 0 with the address and the trimmed package path stored in the wizard
  // state; -1 (stay, after a message) for no address or "0.0.0.0", an
  // empty package path, or a package that is missing or a folder.
  LONG_PTR OnWizardNext() override;

  // Click on 1015: the open-file dialog; the chosen path replaces edit 1000.
  void OnBrowse();
  // Click on 1016: probes the typed address and says whether a center
  // answered (118) or not (119). Changes neither the page nor the state.
  void OnTest();

  // The dialog parameters OnBrowse uses, for the given GetVersion value.
  static Page3OpenFile MakeOpenFile(DWORD version);

  // The local address the Test probe binds to: "QelAgentIP" when it is an
  // address of this host other than 127.0.0.1, else this host's first
  // address other than 127.0.0.1, else "".
  static std::string GetLocalAgentAddress();

  // Index of the first entry equal to `text`, or -1. Without caseSensitive
  // both are compared in upper case (ASCII letters, whole characters).
  static int FindStringInArray(const std::vector<std::string>& list, const std::string& text, bool caseSensitive);

 private:
  void Message(UINT stringId, UINT type, const char* argument = nullptr);

  IPage3View* m_pView;
  WizardState& m_state;
};

}  // namespace qel
