// What the core relies on from the registry port, run against the host
// adapter and against Windows itself.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/platform_files/contract_world.h"

namespace qel::test {
namespace {

class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override {
    world_ = ContractWorld::Make();
    ASSERT_EQ(reg().RegCreateKeyA(HKEY_CURRENT_USER, world_->key().c_str(), &key_), ERROR_SUCCESS);
  }
  void TearDown() override {
    if (key_) reg().RegCloseKey(key_);
    world_.reset();
  }

  IRegistry& reg() { return world_->registry(); }

  LONG SetString(const char* name, const char* text) {
    return reg().RegSetValueExA(key_, name, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>(std::strlen(text) + 1));
  }

  std::unique_ptr<ContractWorld> world_;
  HKEY key_ = nullptr;
};

TEST_F(RegistryContract, MissingKeysAndValuesAreFileNotFound) {
  HKEY other = nullptr;
  std::string missing = world_->key() + "\\Missing";
  EXPECT_EQ(reg().RegOpenKeyA(HKEY_CURRENT_USER, missing.c_str(), &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg().RegOpenKeyExA(HKEY_CURRENT_USER, missing.c_str(), 0, KEY_QUERY_VALUE, &other),
            ERROR_FILE_NOT_FOUND);
  DWORD size = 0;
  EXPECT_EQ(reg().RegQueryValueExA(key_, "none", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  BYTE data[8];
  size = sizeof data;
  EXPECT_EQ(reg().RegQueryValueExA(key_, "none", nullptr, data, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, StringSizesCountTheTerminator) {
  ASSERT_EQ(SetString("CenterIP", "10.1.2.3"), ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 0;
  // No buffer: the size needed.
  ASSERT_EQ(reg().RegQueryValueExA(key_, "CenterIP", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 9u);
  // Too small: ERROR_MORE_DATA and the size needed.
  char data[32];
  size = 4;
  EXPECT_EQ(reg().RegQueryValueExA(key_, "CenterIP", nullptr, reinterpret_cast<BYTE*>(data), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 9u);
  // Exactly the size: the text with its terminator.
  size = 9;
  ASSERT_EQ(reg().RegQueryValueExA(key_, "CenterIP", &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 9u);
  EXPECT_STREQ(data, "10.1.2.3");
}

TEST_F(RegistryContract, StringWithoutTerminator) {
  // The size leaves the terminator out but the byte after the data is a
  // NUL: RegSetValueExA counts it all the same.
  const char text[] = "abc";
  ASSERT_EQ(reg().RegSetValueExA(key_, "Counted", REG_SZ, reinterpret_cast<const BYTE*>(text), 3), ERROR_SUCCESS);
  DWORD size = 0;
  ASSERT_EQ(reg().RegQueryValueExA(key_, "Counted", nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);

  // No NUL after the data: stored without terminator.
  const char bytes[4] = {'x', 'y', 'z', 'w'};
  ASSERT_EQ(reg().RegSetValueExA(key_, "Bare", REG_SZ, reinterpret_cast<const BYTE*>(bytes), 3), ERROR_SUCCESS);
  ASSERT_EQ(reg().RegQueryValueExA(key_, "Bare", nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  char data[8];
  std::memset(data, '#', sizeof data);
  size = sizeof data;
  ASSERT_EQ(reg().RegQueryValueExA(key_, "Bare", nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::string(data, 3), "xyz");
  EXPECT_EQ(data[3], '\0');  // terminated when the buffer has room, not counted
  std::memset(data, '#', sizeof data);
  size = 3;
  ASSERT_EQ(reg().RegQueryValueExA(key_, "Bare", nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(data, 4), "xyz#");  // no room: no terminator
}

TEST_F(RegistryContract, DwordValues) {
  DWORD ten = 10;
  ASSERT_EQ(reg().RegSetValueExA(key_, "NLogLevel", REG_DWORD, reinterpret_cast<const BYTE*>(&ten), sizeof ten),
            ERROR_SUCCESS);
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  ASSERT_EQ(reg().RegQueryValueExA(key_, "NLogLevel", &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(value, 10u);
  WORD half = 0;
  size = sizeof half;
  EXPECT_EQ(reg().RegQueryValueExA(key_, "NLogLevel", nullptr, reinterpret_cast<BYTE*>(&half), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  // A string value read into 4 bytes: whatever its type, the first bytes.
  ASSERT_EQ(SetString("Text", "7"), ERROR_SUCCESS);
  size = sizeof value;
  value = 0xFFFFFFFF;
  ASSERT_EQ(reg().RegQueryValueExA(key_, "Text", &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(value & 0xFFFF, static_cast<DWORD>('7'));
}

TEST_F(RegistryContract, NamesMatchWithoutRegardToCase) {
  HKEY sub = nullptr;
  std::string path = world_->key() + "\\Orvane\\Qel";
  ASSERT_EQ(reg().RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &sub), ERROR_SUCCESS);
  ASSERT_EQ(reg().RegSetValueExA(sub, "InstallPath", REG_SZ, reinterpret_cast<const BYTE*>("C:\\Qel"), 7),
            ERROR_SUCCESS);
  ASSERT_EQ(reg().RegCloseKey(sub), ERROR_SUCCESS);

  std::string upper = world_->key() + "\\ORVANE\\qel";
  HKEY again = nullptr;
  ASSERT_EQ(reg().RegOpenKeyA(HKEY_CURRENT_USER, upper.c_str(), &again), ERROR_SUCCESS);
  char data[16];
  DWORD size = sizeof data;
  ASSERT_EQ(reg().RegQueryValueExA(again, "INSTALLPATH", nullptr, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(data, "C:\\Qel");
  // Setting through another spelling replaces the value.
  ASSERT_EQ(reg().RegSetValueExA(again, "installpath", REG_SZ, reinterpret_cast<const BYTE*>("D:"), 3),
            ERROR_SUCCESS);
  size = sizeof data;
  ASSERT_EQ(reg().RegQueryValueExA(again, "InstallPath", nullptr, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(data, "D:");
  EXPECT_EQ(reg().RegCloseKey(again), ERROR_SUCCESS);

  // The parent made on the way exists as a key of its own.
  std::string parent = world_->key() + "\\orvane";
  ASSERT_EQ(reg().RegOpenKeyExA(HKEY_CURRENT_USER, parent.c_str(), 0, KEY_READ, &again), ERROR_SUCCESS);
  EXPECT_EQ(reg().RegCloseKey(again), ERROR_SUCCESS);
}

TEST_F(RegistryContract, OpeningWithoutSubkeyGivesTheKeyItself) {
  HKEY same = nullptr;
  ASSERT_EQ(reg().RegOpenKeyA(key_, nullptr, &same), ERROR_SUCCESS);
  EXPECT_EQ(same, key_);
  ASSERT_EQ(reg().RegOpenKeyA(key_, "", &same), ERROR_SUCCESS);
  EXPECT_EQ(same, key_);
  ASSERT_EQ(reg().RegOpenKeyA(HKEY_CURRENT_USER, "", &same), ERROR_SUCCESS);
  EXPECT_EQ(same, HKEY_CURRENT_USER);

  // RegCreateKeyA of an opened key without subkey: a second handle to it.
  ASSERT_EQ(SetString("x", "1"), ERROR_SUCCESS);
  HKEY second = nullptr;
  ASSERT_EQ(reg().RegCreateKeyA(key_, "", &second), ERROR_SUCCESS);
  char data[4];
  DWORD size = sizeof data;
  EXPECT_EQ(reg().RegQueryValueExA(second, "x", nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  if (second != key_) {
    EXPECT_EQ(reg().RegCloseKey(second), ERROR_SUCCESS);
  }
}

TEST_F(RegistryContract, DefaultValue) {
  ASSERT_EQ(reg().RegSetValueExA(key_, nullptr, REG_SZ, reinterpret_cast<const BYTE*>("dflt"), 5), ERROR_SUCCESS);
  char data[16];
  DWORD size = sizeof data;
  ASSERT_EQ(reg().RegQueryValueExA(key_, "", nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_STREQ(data, "dflt");
}

TEST_F(RegistryContract, ReadOnlyHandleCannotSetValues) {
  HKEY readOnly = nullptr;
  ASSERT_EQ(reg().RegOpenKeyExA(HKEY_CURRENT_USER, world_->key().c_str(), 0, KEY_QUERY_VALUE, &readOnly),
            ERROR_SUCCESS);
  EXPECT_EQ(reg().RegSetValueExA(readOnly, "x", REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg().RegCloseKey(readOnly), ERROR_SUCCESS);
}

}  // namespace
}  // namespace qel::test
