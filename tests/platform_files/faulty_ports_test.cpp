// The fault-injecting decorators over the real host adapters.
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/host/host_ports.h"
#include "tests/fakes/faulty_files.h"
#include "tests/fakes/faulty_registry.h"

namespace qel::test {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

class FaultyPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qel-faulty-ports-XXXXXX";
    root_ = ::mkdtemp(pattern);
    ::mkdir((root_ + "/C").c_str(), 0755);
    config_.root = root_;
    config_.registryFile = root_ + "/registry.reg";
    files_ = MakeHostFileSystem(config_);
    registry_ = MakeHostRegistry(config_);
  }
  void TearDown() override { ::nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

  bool Write(IFileSystem& fs, const char* path, const char* text) {
    IFileStream* stream = fs.OpenStream(path, "w");
    if (!stream) return false;
    stream->Write(text, std::strlen(text), 1);
    return stream->Close() == 0;
  }

  std::string root_;
  HostConfig config_;
  std::unique_ptr<IFileSystem> files_;
  std::unique_ptr<IRegistry> registry_;
};

TEST_F(FaultyPortsTest, PlannedFailuresComeWithTheirCodeAndThenPass) {
  FaultyFileSystem fs(files_.get());
  ASSERT_TRUE(Write(fs, "C:\\a.txt", "a"));
  fs.plan().Fail("DeleteFileA", ERROR_SHARING_VIOLATION, 1, 1);  // the second call fails once
  ASSERT_TRUE(Write(fs, "C:\\b.txt", "b"));
  EXPECT_TRUE(fs.DeleteFileA("C:\\b.txt"));
  EXPECT_FALSE(fs.DeleteFileA("C:\\a.txt"));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_NE(files_->GetFileAttributesA("C:\\a.txt"), INVALID_FILE_ATTRIBUTES);  // never reached
  EXPECT_TRUE(fs.DeleteFileA("C:\\a.txt"));
  EXPECT_EQ(fs.plan().Calls("DeleteFileA"), 3);

  fs.plan().Fail("GetFileAttributesA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(fs.GetFileAttributesA("C:\\"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  fs.plan().Fail("CreateFileA", ERROR_DISK_FULL);
  EXPECT_EQ(fs.CreateFileA("C:\\c.txt", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  fs.plan().Fail("GetTempPathA", ERROR_ACCESS_DENIED);
  char buffer[MAX_PATH];
  EXPECT_EQ(fs.GetTempPathA(sizeof buffer, buffer), 0u);
}

TEST_F(FaultyPortsTest, StreamsFailTheirCloseButAreReleased) {
  FaultyFileSystem fs(files_.get());
  fs.plan().Fail("StreamClose", ERROR_DISK_FULL);
  IFileStream* stream = fs.OpenStream("C:\\batch.bat", "w+");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Write("@ECHO OFF\n", 10, 1), 1u);
  EXPECT_EQ(stream->Close(), -1);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  // Released: the file can be deleted, it is not held open.
  EXPECT_TRUE(files_->DeleteFileA("C:\\batch.bat"));

  fs.plan().Fail("OpenStream", ERROR_ACCESS_DENIED);
  EXPECT_EQ(fs.OpenStream("C:\\batch.bat", "w+"), nullptr);
  fs.plan().Fail("StreamWrite", ERROR_DISK_FULL);
  stream = fs.OpenStream("C:\\batch.bat", "w+");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Write("x", 1, 1), 0u);
  EXPECT_EQ(stream->Close(), 0);
}

TEST_F(FaultyPortsTest, FailedProfileReadGivesTheDefault) {
  FaultyFileSystem fs(files_.get());
  ASSERT_TRUE(fs.WritePrivateProfileStringA("DEFAULT", "CENTERIP", "1.2.3.4", "C:\\SetupSet.ini"));
  fs.plan().Fail("GetPrivateProfileStringA", ERROR_ACCESS_DENIED);
  char value[8];
  EXPECT_EQ(fs.GetPrivateProfileStringA("DEFAULT", "CENTERIP", "default", value, sizeof value, "C:\\SetupSet.ini"),
            7u);
  EXPECT_STREQ(value, "default");
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  fs.plan().Fail("WritePrivateProfileStringA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(fs.WritePrivateProfileStringA("DEFAULT", "CENTERIP", "9.9.9.9", "C:\\SetupSet.ini"));
  EXPECT_EQ(fs.GetPrivateProfileStringA("DEFAULT", "CENTERIP", "", value, sizeof value, "C:\\SetupSet.ini"), 7u);
  EXPECT_STREQ(value, "1.2.3.4");
}

TEST_F(FaultyPortsTest, RegistryCallsReturnThePlannedCode) {
  FaultyRegistry reg(registry_.get());
  HKEY key = nullptr;
  ASSERT_EQ(reg.RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Orvane\\Qel", &key), ERROR_SUCCESS);
  reg.plan().Fail("RegSetValueExA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg.RegSetValueExA(key, "CenterIP", REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  DWORD size = 0;
  EXPECT_EQ(reg.RegQueryValueExA(key, "CenterIP", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);  // not written
  reg.plan().Fail("RegOpenKeyA", ERROR_FILE_NOT_FOUND, -1);  // from now on
  HKEY other = nullptr;
  EXPECT_EQ(reg.RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software", &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software", &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(reg.plan().Calls("RegOpenKeyA"), 2);
}

}  // namespace
}  // namespace qel::test
