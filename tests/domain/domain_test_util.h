// Shared pieces of the domain tests: the sample domain and scratch folders.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/domain/domain_store.h"

namespace qel::test {

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline std::string SampleText() { return ReadText(QEL_SAMPLE_DOMAIN); }

// A folder of its own for one test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("qel-domain-") + (info ? info->name() : "test") + "-" +
                       std::to_string(counter++);
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// One account as NetUserGetInfo level 3 gives it; the copy outlives the buffer.
struct Account {
  NET_API_STATUS status = 0;
  std::wstring name, script, fullName, profile, comment, homeDir, homeDrive, workstations;
  DWORD flags = 0, rid = 0, primaryGroup = 0;
};

inline Account GetAccount(IAccountStore& accounts, const wchar_t* name) {
  Account a;
  LPBYTE buffer = nullptr;
  a.status = accounts.NetUserGetInfo(nullptr, name, 3, &buffer);
  if (a.status != NERR_Success) {
    EXPECT_EQ(buffer, nullptr);
    return a;
  }
  const USER_INFO_3* info = reinterpret_cast<const USER_INFO_3*>(buffer);
  a.name = info->usri3_name;
  a.script = info->usri3_script_path;
  a.fullName = info->usri3_full_name;
  a.profile = info->usri3_profile;
  a.comment = info->usri3_comment;
  a.homeDir = info->usri3_home_dir;
  a.homeDrive = info->usri3_home_dir_drive;
  a.workstations = info->usri3_workstations;
  a.flags = info->usri3_flags;
  a.rid = info->usri3_user_id;
  a.primaryGroup = info->usri3_primary_group_id;
  EXPECT_EQ(info->usri3_password, nullptr);
  accounts.NetApiBufferFree(buffer);
  return a;
}

// The values of one attribute of the object named `dn`, copied.
inline std::vector<std::wstring> ValuesOf(const DomainStore& store, const std::wstring& dn, uint32_t id) {
  uint32_t index = store.FindObject(dn);
  EXPECT_NE(index, kNoObject) << std::string(dn.begin(), dn.end());
  if (index == kNoObject) return {};
  DirValues values = store.Values(store.Object(index), id);
  return std::vector<std::wstring>(values.begin(), values.end());
}

// The sample domain loaded in memory.
inline void LoadSample(DomainStore* store) {
  DomainError error;
  ASSERT_TRUE(store->LoadText(SampleText(), "sample-domain.ldif", &error)) << error.ToString();
}

}  // namespace qel::test
