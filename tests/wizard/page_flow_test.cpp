#include <gtest/gtest.h>

#include "directory/user_node.h"
#include "res/resource.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/page1.h"
#include "wizard/page_finish.h"
#include "wizard/wizard_page.h"

namespace qel {
namespace {

class RadioView : public IPage1View {
 public:
  void SetAddChecked(BOOL add) override { add_ = add; }
  BOOL IsAddChecked() override { return add_; }
  BOOL add_ = FALSE;
};

class NullProgressView : public IProgressPageView {
 public:
  void InitList() override {}
  void SetHeading(const char*) override {}
  void SetAction(const char*) override {}
  void SetRange(WORD) override {}
  void SetPos(int) override {}
  void StepIt() override {}
  int GetRangeUpper() override { return 100; }
  void ClearList() override {}
  void AppendLine(const char*) override {}
};

void SelectOneAccount() {
  USER_NODE* node = NewUserNode("Backup Operator", L"CN=backupop,DC=test,DC=lan", L"backupop", UserType);
  node->bSelected = TRUE;
  g_UserNodeHead.pNext = node;
  g_pLastUserNode = node;
}

// The four pages as start-up builds them; the user page and the
// install-parameters page with the jump rules of their Next only.
struct Wizard {
  Wizard()
      : page1(&radio, state),
        page2(IDD_PAGE2, PSWIZB_BACK | PSWIZB_NEXT,
              [this]() -> LONG_PTR {
                if (existChecked && state.m_nOperation == OP_INSTALL) return IDD_PAGE_FINISH;
                return state.m_nOperation == OP_UNINSTALL ? IDD_PAGE_FINISH : 0;
              }),
        page3(IDD_PAGE3, PSWIZB_BACK | PSWIZB_NEXT),
        finish(&progress, nullptr, state) {
    flow.AddPage(&page1);
    flow.AddPage(&page2);
    flow.AddPage(&page3);
    flow.AddPage(&finish);
    ClearUserNodes();
  }
  ~Wizard() { ClearUserNodes(); }
  UINT CurrentDialog() const { return flow.Current()->DialogId(); }

  test::HostTestEnv env;
  WizardState state;
  RadioView radio;
  NullProgressView progress;
  bool existChecked = false;
  CPage1 page1;
  CPassThroughPage page2;
  CPassThroughPage page3;
  CPageFinish finish;
  CWizardFlow flow;
};

TEST(PageFlow, FirstPageOffersNextOnlyAndChoosesAddUntouched) {
  Wizard w;
  w.flow.Start();
  EXPECT_EQ(w.CurrentDialog(), 107u);
  EXPECT_TRUE(w.radio.add_);  // 1005 ticked by OnInitDialog
  EXPECT_EQ(w.flow.Buttons(), PSWIZB_NEXT);
  EXPECT_FALSE(w.flow.Back());
  ASSERT_TRUE(w.flow.Next());
  EXPECT_EQ(w.state.m_nOperation, OP_INSTALL);
  EXPECT_EQ(w.CurrentDialog(), 108u);
  EXPECT_EQ(w.flow.Buttons(), PSWIZB_BACK | PSWIZB_NEXT);
}

TEST(PageFlow, ChangingTheOperationEmptiesTheSelectionAndKeepingItKeepsIt) {
  Wizard w;
  w.flow.Start();
  ASSERT_TRUE(w.flow.Next());  // add
  SelectOneAccount();
  ASSERT_TRUE(w.flow.Back());
  EXPECT_EQ(w.CurrentDialog(), 107u);
  EXPECT_TRUE(w.radio.add_);   // the page kept its choice
  ASSERT_TRUE(w.flow.Next());  // same operation
  EXPECT_NE(g_UserNodeHead.pNext, nullptr);

  ASSERT_TRUE(w.flow.Back());
  w.radio.add_ = FALSE;  // remove
  ASSERT_TRUE(w.flow.Next());
  EXPECT_EQ(w.state.m_nOperation, OP_UNINSTALL);
  EXPECT_EQ(g_UserNodeHead.pNext, nullptr);
  EXPECT_EQ(g_pLastUserNode, &g_UserNodeHead);
}

TEST(PageFlow, RemoveJumpsFromTheUserPageToTheProgressPage) {
  Wizard w;
  w.flow.Start();
  w.radio.add_ = FALSE;  // the administrator picks Remove
  ASSERT_TRUE(w.flow.Next());
  ASSERT_TRUE(w.flow.Next());
  EXPECT_EQ(w.CurrentDialog(), 110u);
  EXPECT_TRUE(w.state.m_strCenterIP.empty());
  EXPECT_TRUE(w.state.m_strPackagePath.empty());
  // The progress page: Finish shown disabled until the run ends, no Cancel.
  EXPECT_TRUE(w.flow.IsCancelHidden());
  EXPECT_EQ(w.flow.WaitButtonsChange(PSWIZB_DISABLEDFINISH, 5000), PSWIZB_FINISH);
  EXPECT_FALSE(w.flow.Back());
  EXPECT_TRUE(w.flow.Finish());
  EXPECT_TRUE(w.flow.IsClosed());
}

TEST(PageFlow, AddGoesThroughTheInstallParametersUnlessTheBoxIsTicked) {
  Wizard w;
  w.flow.Start();
  ASSERT_TRUE(w.flow.Next());
  ASSERT_TRUE(w.flow.Next());
  EXPECT_EQ(w.CurrentDialog(), 109u);
  ASSERT_TRUE(w.flow.Back());
  EXPECT_EQ(w.CurrentDialog(), 108u);
  w.existChecked = true;
  ASSERT_TRUE(w.flow.Next());
  EXPECT_EQ(w.CurrentDialog(), 110u);
  EXPECT_EQ(w.flow.WaitButtonsChange(PSWIZB_DISABLEDFINISH, 5000), PSWIZB_FINISH);
}

TEST(PageFlow, CancelOnTheFirstThreePagesClosesAtOnce) {
  for (int page = 0; page < 3; ++page) {
    Wizard w;
    int questions = 0;
    CWizardFlow flow([&](const char*, UINT) {
      ++questions;
      return IDNO;
    });
    flow.AddPage(&w.page1);
    flow.AddPage(&w.page2);
    flow.AddPage(&w.page3);
    flow.AddPage(&w.finish);
    flow.Start();
    for (int i = 0; i < page; ++i) ASSERT_TRUE(flow.Next());
    EXPECT_EQ(flow.CurrentIndex(), page);
    EXPECT_TRUE(flow.Cancel());
    EXPECT_TRUE(flow.IsClosed());
    EXPECT_EQ(questions, 0);
    EXPECT_FALSE(flow.Next());
  }
}

TEST(PageFlow, NextThatStaysKeepsThePage) {
  Wizard w;
  CPassThroughPage refusing(IDD_PAGE3, PSWIZB_BACK | PSWIZB_NEXT, [] { return static_cast<LONG_PTR>(-1); });
  CWizardFlow flow;
  flow.AddPage(&w.page1);
  flow.AddPage(&refusing);
  flow.Start();
  ASSERT_TRUE(flow.Next());
  EXPECT_FALSE(flow.Next());
  EXPECT_EQ(flow.Current()->DialogId(), 109u);
}

}  // namespace
}  // namespace qel
