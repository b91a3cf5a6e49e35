// The terminal wizard between the terminal's UTF-8 and the program's code
// page, and the page texts it takes from the dialog templates.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "res/dialog_texts.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/ui/terminal_wizard.h"

namespace qel {
namespace {

class TerminalTextTest : public ::testing::Test {
 protected:
  TerminalTextTest() : env_(Options936()) {}
  ~TerminalTextTest() override {
    SetStringLanguage(1033);
    std::fclose(out_);
  }
  static test::HostTestOptions Options936() {
    test::HostTestOptions options;
    options.codePage = 936;
    return options;
  }
  std::string Printed() {
    std::fflush(out_);
    std::rewind(out_);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out_)) > 0) text.append(buffer, n);
    return text;
  }

  test::HostTestEnv env_;
  std::FILE* out_ = std::tmpfile();
};

TEST_F(TerminalTextTest, TypedUtf8ReachesTheProgramInItsCodePage) {
  std::istringstream in("\xe7\x8e\x8b\xe8\x8a\xb3\n\xe0\xb8\x81;\xe7\x8e\x8b\n  swalker \n\xcd\xf5\n");
  TerminalConsole console(in, out_);
  std::string line;
  ASSERT_TRUE(console.ReadLine("users> ", &line));
  EXPECT_EQ(line, "\xcd\xf5\xb7\xbc");  // 王芳 in GBK
  // A Thai letter has no place in 936: said, with the answer as typed, and asked again.
  ASSERT_TRUE(console.ReadLine("users> ", &line));
  EXPECT_EQ(line, "swalker");
  EXPECT_NE(Printed().find("The answer \"\xe0\xb8\x81;\xe7\x8e\x8b\" cannot be written in code page 936: the characters "
                           "\"\xe0\xb8\x81\" are not in it."),
            std::string::npos)
      << Printed();
  // Bytes that are not UTF-8 are taken as the program's own text.
  ASSERT_TRUE(console.ReadLine("users> ", &line));
  EXPECT_EQ(line, "\xcd\xf5");
  EXPECT_FALSE(console.ReadLine("users> ", &line));
}

TEST_F(TerminalTextTest, PageTextsComeFromTheTemplatesOfTheLanguage) {
  EXPECT_EQ(PageText(IDD_PAGE1, "Please select operate type:"), "Please select operate type:");
  EXPECT_EQ(PageText(IDD_PAGE1, "&Add logon scripts"), "Add logon scripts");
  EXPECT_EQ(PageLabel(IDD_PAGE3, "Qel install package:"), "Qel install package");
  SetStringLanguage(2052);
  EXPECT_EQ(PageText(IDD_PAGE1, "Please select operate type:"), "请选择操作类型：");
  EXPECT_EQ(PageText(IDD_PAGE1, "&Add logon scripts"), "添加登录脚本");
  EXPECT_EQ(PageText(IDD_PAGE1, "    Remove logon script for users."), "删除用户的登录脚本。");
  EXPECT_EQ(PageLabel(IDD_PAGE3, "Qel System Center IP:"), "Qel 系统中心 IP");
  SetStringLanguage(3076);  // Hong Kong: the Traditional templates
  EXPECT_EQ(PageText(IDD_PAGE2, "Please select users to setting logon script:"), "請選擇要設定登入指令碼的使用者：");
  // A text the template does not have stays as given.
  EXPECT_EQ(PageText(IDD_PAGE2, "no such text"), "no such text");
  EXPECT_EQ(PlainPageText("Fish && &Chips"), "Fish & Chips");
}

}  // namespace
}  // namespace qel
