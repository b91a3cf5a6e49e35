#include "tools/standins/standin_settings.h"

#include <gtest/gtest.h>

namespace qel {
namespace standin {
namespace {

TEST(FindFault, CallsSubjectsAndCodes) {
  const char* setting = "NetUserSetInfo:jdoe=5,ADsGetObject:GC=0x8007203A,NetGroupGetUsers=2220";
  EXPECT_EQ(FindFault(setting, "NetUserSetInfo", L"jdoe"), 5u);
  // Names without regard to case, but as a whole.
  EXPECT_EQ(FindFault(setting, "netusersetinfo", L"JDOE"), 5u);
  EXPECT_EQ(FindFault(setting, "NetUserSetInfo", L"jdoe2"), 0u);
  EXPECT_EQ(FindFault(setting, "NetUserSetInfo", L"jdo"), 0u);
  EXPECT_EQ(FindFault(setting, "NetUserSetInfo", nullptr), 0u);
  EXPECT_EQ(FindFault(setting, "NetUserGetInfo", L"jdoe"), 0u);
  // Paths by their beginning.
  EXPECT_EQ(FindFault(setting, "ADsGetObject", L"GC://OU=Sales,DC=test,DC=lan"), 0x8007203Au);
  EXPECT_EQ(FindFault(setting, "ADsGetObject", L"gc://DC=test,DC=lan"), 0x8007203Au);
  EXPECT_EQ(FindFault(setting, "ADsGetObject", L"LDAP://DC=test,DC=lan"), 0u);
  // No subject: every call.
  EXPECT_EQ(FindFault(setting, "NetGroupGetUsers", L"Domain Users"), 2220u);
  EXPECT_EQ(FindFault(setting, "NetGroupGetUsers", nullptr), 2220u);
}

TEST(FindFault, SubjectsThatHoldSeparators) {
  // A distinguished name holds "=" and ","; only "=<number>" ends an entry.
  const char* setting = "ExecuteSearch:LDAP://OU=East,OU=Sales=0x80005014;NetUserGetInfo:cwhite=2221";
  EXPECT_EQ(FindFault(setting, "ExecuteSearch", L"LDAP://OU=East,OU=Sales,DC=test,DC=lan"), 0x80005014u);
  EXPECT_EQ(FindFault(setting, "ExecuteSearch", L"LDAP://OU=West,OU=Sales,DC=test,DC=lan"), 0u);
  EXPECT_EQ(FindFault(setting, "NetUserGetInfo", L"cwhite"), 2221u);
}

TEST(FindFault, FirstMatchDecidesAndUnreadableTextIsIgnored) {
  EXPECT_EQ(FindFault("NetUserSetInfo:a=5,NetUserSetInfo=6", "NetUserSetInfo", L"a"), 5u);
  EXPECT_EQ(FindFault("NetUserSetInfo:a=5,NetUserSetInfo=6", "NetUserSetInfo", L"b"), 6u);
  EXPECT_EQ(FindFault("", "NetUserSetInfo", L"a"), 0u);
  EXPECT_EQ(FindFault(nullptr, "NetUserSetInfo", L"a"), 0u);
  EXPECT_EQ(FindFault("NetUserSetInfo=five", "NetUserSetInfo", L"a"), 0u);
  EXPECT_EQ(FindFault("NetUserSetInfo=0x1FFFFFFFF", "NetUserSetInfo", L"a"), 0u);
  EXPECT_EQ(FindFault(" NetUserSetInfo=5 ,", "NetUserSetInfo", L"a"), 0u);  // a blank before "," is not a code's end
  EXPECT_EQ(FindFault(", ;NetUserSetInfo=5;", "NetUserSetInfo", L"a"), 5u);
}

TEST(WindowsPath, UnixPathsGoThroughDriveZ) {
  EXPECT_EQ(WindowsPath("/work/main/samples/d.ldif"), "Z:\\work\\main\\samples\\d.ldif");
  EXPECT_EQ(WindowsPath("C:\\d.ldif"), "C:\\d.ldif");
  EXPECT_EQ(WindowsPath(""), "");
}

}  // namespace
}  // namespace standin
}  // namespace qel
