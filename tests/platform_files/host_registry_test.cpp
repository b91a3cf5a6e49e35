// The host registry over its .reg file: persistence, atomic rewrite, outside
// changes, and refusing a malformed file without touching it.
#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/host/host_ports.h"
#include "platform/host/registry.h"

namespace qel {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

class HostRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qel-host-registry-XXXXXX";
    folder_ = ::mkdtemp(pattern);
    config_.root = folder_;
    config_.registryFile = folder_ + "/registry.reg";
  }
  void TearDown() override { ::nftw(folder_.c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS); }

  void WriteFile(const std::string& text) {
    // Written beside and renamed, as an editor saving the file does.
    std::string temp = config_.registryFile + ".edit";
    std::ofstream(temp, std::ios::binary) << text;
    ASSERT_EQ(::rename(temp.c_str(), config_.registryFile.c_str()), 0);
  }
  std::string ReadFile() {
    std::ifstream in(config_.registryFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::string> FolderEntries() {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder_.c_str());
    while (struct dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
  }

  static std::string Query(IRegistry& reg, const char* key, const char* name) {
    HKEY handle = nullptr;
    if (reg.RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &handle) != ERROR_SUCCESS) return "<no key>";
    char data[256] = {};
    DWORD size = sizeof data - 1;
    LONG result = reg.RegQueryValueExA(handle, name, nullptr, reinterpret_cast<BYTE*>(data), &size);
    reg.RegCloseKey(handle);
    return result == ERROR_SUCCESS ? std::string(data) : "<error " + std::to_string(result) + ">";
  }
  static LONG Set(IRegistry& reg, const char* key, const char* name, const char* text) {
    HKEY handle = nullptr;
    LONG result = reg.RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &handle);
    if (result != ERROR_SUCCESS) return result;
    result = reg.RegSetValueExA(handle, name, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>(strlen(text) + 1));
    reg.RegCloseKey(handle);
    return result;
  }

  std::string folder_;
  HostConfig config_;
};

TEST_F(HostRegistryTest, MissingFileIsEmptyAndIsCreatedAtTheFirstWrite) {
  auto reg = MakeHostRegistry(config_);
  EXPECT_EQ(Query(*reg, "Software\\Orvane\\Qel", "CenterIP"), "<no key>");
  EXPECT_EQ(HostRegistryError(*reg), "");
  EXPECT_EQ(::access(config_.registryFile.c_str(), F_OK), -1);
  ASSERT_EQ(Set(*reg, "Software\\Orvane\\Qel", "CenterIP", "10.0.0.5"), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Orvane]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n\"CenterIP\"=\"10.0.0.5\"\r\n\r\n");
  // A second registry over the same file (another process) sees it.
  auto other = MakeHostRegistry(config_);
  EXPECT_EQ(Query(*other, "SOFTWARE\\orvane\\qel", "centerip"), "10.0.0.5");
}

TEST_F(HostRegistryTest, RewriteIsAtomicAndLeavesNoTemporaryFile) {
  WriteFile("Windows Registry Editor Version 5.00\r\n\r\n; keep me\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n"
            "\"type\"=\"server\"\r\n");
  struct stat before;
  ASSERT_EQ(::stat(config_.registryFile.c_str(), &before), 0);
  auto reg = MakeHostRegistry(config_);
  ASSERT_EQ(Set(*reg, "Software\\Orvane\\Qel", "CenterIP", "1.2.3.4"), ERROR_SUCCESS);
  struct stat after;
  ASSERT_EQ(::stat(config_.registryFile.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed over the old one
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"registry.reg"});
  std::string text = ReadFile();
  EXPECT_NE(text.find("; keep me\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n\"type\"=\"server\"\r\n"
                      "\"CenterIP\"=\"1.2.3.4\"\r\n"),
            std::string::npos)
      << text;
}

TEST_F(HostRegistryTest, ChangesMadeOutsideAreSeenAtTheNextCall) {
  WriteFile("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n\"a\"=\"1\"\r\n");
  auto reg = MakeHostRegistry(config_);
  EXPECT_EQ(Query(*reg, "Software\\Orvane\\Qel", "a"), "1");
  WriteFile("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n\"a\"=\"2\"\r\n");
  EXPECT_EQ(Query(*reg, "Software\\Orvane\\Qel", "a"), "2");

  // Two registries writing in turn keep each other's values.
  auto other = MakeHostRegistry(config_);
  ASSERT_EQ(Set(*reg, "Software\\Orvane\\Qel", "fromA", "x"), ERROR_SUCCESS);
  ASSERT_EQ(Set(*other, "Software\\Orvane\\Qel", "fromB", "y"), ERROR_SUCCESS);
  auto third = MakeHostRegistry(config_);
  EXPECT_EQ(Query(*third, "Software\\Orvane\\Qel", "fromA"), "x");
  EXPECT_EQ(Query(*third, "Software\\Orvane\\Qel", "fromB"), "y");
  EXPECT_EQ(Query(*third, "Software\\Orvane\\Qel", "a"), "2");
}

TEST_F(HostRegistryTest, MalformedFileIsRefusedAndLeftAlone) {
  const std::string bad =
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n\"a\"=\"1\"\r\n"
      "\"b\"=hex:0g\r\n";
  WriteFile(bad);
  auto reg = MakeHostRegistry(config_);
  std::string error = HostRegistryError(*reg);
  EXPECT_NE(error.find(config_.registryFile), std::string::npos) << error;
  EXPECT_NE(error.find("line 4"), std::string::npos) << error;

  HKEY handle = nullptr;
  EXPECT_EQ(reg->RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Orvane\\Qel", &handle), ERROR_BADDB);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_BADDB));
  EXPECT_EQ(reg->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &handle), ERROR_BADDB);
  EXPECT_EQ(reg->RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\New", &handle), ERROR_BADDB);
  EXPECT_EQ(reg->RegSetValueExA(HKEY_LOCAL_MACHINE, "x", REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_BADDB);
  DWORD size = 0;
  EXPECT_EQ(reg->RegQueryValueExA(HKEY_LOCAL_MACHINE, "x", nullptr, nullptr, &size), ERROR_BADDB);
  EXPECT_EQ(ReadFile(), bad);

  // Mended on disk: the registry works again.
  WriteFile("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n\"a\"=\"1\"\r\n");
  EXPECT_EQ(HostRegistryError(*reg), "");
  EXPECT_EQ(Query(*reg, "Software\\Orvane\\Qel", "a"), "1");
}

TEST_F(HostRegistryTest, HandlesOfOtherKindsAndClosedHandlesAreInvalid) {
  auto reg = MakeHostRegistry(config_);
  HKEY key = nullptr;
  ASSERT_EQ(reg->RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\QelTest", &key), ERROR_SUCCESS);
  EXPECT_EQ(reg->RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(reg->RegCloseKey(key), ERROR_INVALID_HANDLE);
  DWORD size = 0;
  EXPECT_EQ(reg->RegQueryValueExA(key, "x", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg->RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\QelTest", nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(HostRegistryTest, KeyRemovedOutsideWhileOpen) {
  auto reg = MakeHostRegistry(config_);
  HKEY key = nullptr;
  ASSERT_EQ(reg->RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Gone", &key), ERROR_SUCCESS);
  WriteFile("Windows Registry Editor Version 5.00\r\n");
  EXPECT_EQ(reg->RegSetValueExA(key, "x", REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_KEY_DELETED);
  EXPECT_EQ(reg->RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(HostRegistryTest, NamesWithLineBreaksAreRefusedBeforeTheyReachTheFile) {
  auto reg = MakeHostRegistry(config_);
  ASSERT_EQ(Set(*reg, "Software\\QelTest", "ok", "1"), ERROR_SUCCESS);
  std::string before = ReadFile();
  EXPECT_EQ(Set(*reg, "Software\\QelTest", "two\nlines", "x"), ERROR_INVALID_PARAMETER);
  HKEY key = nullptr;
  EXPECT_EQ(reg->RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Bad\rKey", &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ReadFile(), before);
  // Values with line breaks are fine: they are stored as bytes.
  EXPECT_EQ(Set(*reg, "Software\\QelTest", "text", "two\r\nlines"), ERROR_SUCCESS);
  auto other = MakeHostRegistry(config_);
  EXPECT_EQ(Query(*other, "Software\\QelTest", "text"), "two\r\nlines");
  EXPECT_EQ(HostRegistryError(*other), "");
}

TEST_F(HostRegistryTest, ConcurrentWritersLoseNothing) {
  auto first = MakeHostRegistry(config_);
  auto second = MakeHostRegistry(config_);
  auto writer = [](IRegistry* reg, const char* prefix) {
    for (int i = 0; i < 20; ++i) {
      std::string name = prefix + std::to_string(i);
      Set(*reg, "Software\\QelTest", name.c_str(), "v");
    }
  };
  std::thread a(writer, first.get(), "a");
  std::thread b(writer, second.get(), "b");
  a.join();
  b.join();
  auto check = MakeHostRegistry(config_);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(Query(*check, "Software\\QelTest", ("a" + std::to_string(i)).c_str()), "v");
    EXPECT_EQ(Query(*check, "Software\\QelTest", ("b" + std::to_string(i)).c_str()), "v");
  }
}

}  // namespace
}  // namespace qel
