// Host-only rules of the file port: Windows paths under the root folder, UNC
// shares, code pages, attributes kept beside the host file, sharing, NTFS
// listing order and the profile functions' less common forms.
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/host_ports.h"
#include "platform/host/path_map.h"

namespace qel {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

class HostFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qel-host-files-XXXXXX";
    root_ = ::mkdtemp(pattern);
    ::mkdir((root_ + "/C").c_str(), 0755);
    config_.root = root_;
    config_.registryFile = root_ + "/registry.reg";
    config_.windowsDir = "C:\\WINDOWS";
    config_.tempPath = "C:\\Users\\admin\\Temp\\";
    config_.currentDir = "C:\\work";
    config_.shares["\\\\DC01\\NETLOGON"] = "C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts";
    Remake();
  }
  void TearDown() override {
    files_.reset();
    ::nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  void Remake() { files_ = MakeHostFileSystem(config_); }

  IFileSystem& fs() { return *files_; }

  // Host-side helpers: what another program (or a test seeding files) sees.
  void HostMkdirs(const std::string& relative) {
    std::string path = root_;
    std::stringstream parts(relative);
    std::string part;
    while (std::getline(parts, part, '/')) {
      path += "/" + part;
      ::mkdir(path.c_str(), 0755);
    }
  }
  void HostWrite(const std::string& relative, const std::string& bytes) {
    std::ofstream(root_ + "/" + relative, std::ios::binary) << bytes;
  }
  std::string HostRead(const std::string& relative) {
    std::ifstream in(root_ + "/" + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::string> List(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = fs().FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(data.cFileName);
    } while (fs().FindNextFileA(find, &data));
    fs().FindClose(find);
    return names;
  }

  std::string root_;
  HostConfig config_;
  std::unique_ptr<IFileSystem> files_;
};

TEST_F(HostFilesTest, HostPathOfMapsDrivesSharesAndRelativePaths) {
  EXPECT_EQ(HostPathOf(config_, "C:\\WINDOWS\\x.ini"), root_ + "/C/WINDOWS/x.ini");
  EXPECT_EQ(HostPathOf(config_, "c:/windows/x.ini"), root_ + "/C/windows/x.ini");
  EXPECT_EQ(HostPathOf(config_, "C:\\a\\.\\b\\..\\c"), root_ + "/C/a/c");
  EXPECT_EQ(HostPathOf(config_, "D:\\"), root_ + "/D");
  EXPECT_EQ(HostPathOf(config_, "x.txt"), root_ + "/C/work/x.txt");
  EXPECT_EQ(HostPathOf(config_, "\\top.txt"), root_ + "/C/top.txt");
  EXPECT_EQ(HostPathOf(config_, "\\\\dc01\\NetLogon\\QelInstall.bat"),
            root_ + "/C/WINDOWS/SYSVOL/sysvol/test.lan/scripts/QelInstall.bat");
  EXPECT_EQ(HostPathOf(config_, "\\\\OTHER\\NETLOGON\\x"), "");
  EXPECT_EQ(HostPathOf(config_, ""), "");
  EXPECT_EQ(HostPathOf(config_, "C:\\bad|name"), "");
}

TEST_F(HostFilesTest, UncPathsReachTheSharedFolder) {
  HostMkdirs("C/WINDOWS/SYSVOL/sysvol/test.lan/scripts");
  HostWrite("C/WINDOWS/SYSVOL/sysvol/test.lan/scripts/SetupSet.ini", "[DEFAULT]\r\nCENTERIP=10.0.0.9\r\n");
  char value[20];
  EXPECT_EQ(fs().GetPrivateProfileStringA("DEFAULT", "CENTERIP", "", value, sizeof value,
                                          "\\\\dc01\\netlogon\\setupset.ini"),
            8u);
  EXPECT_STREQ(value, "10.0.0.9");
  ASSERT_TRUE(fs().CopyFileA("\\\\DC01\\NETLOGON\\SetupSet.ini", "C:\\copy.ini", FALSE));
  EXPECT_EQ(HostRead("C/copy.ini"), "[DEFAULT]\r\nCENTERIP=10.0.0.9\r\n");

  EXPECT_EQ(fs().GetFileAttributesA("\\\\DC01\\OTHER\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
  EXPECT_EQ(fs().GetFileAttributesA("\\\\NOWHERE\\NETLOGON\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
}

// A Samba controller keeps its NETLOGON folder outside the Windows world:
// the folder is mounted at its Windows path, and the share still reaches it.
TEST_F(HostFilesTest, MountedFoldersServeTheirWindowsPath) {
  std::string netlogon = root_ + "/samba/sysvol/test.lan/scripts";
  HostMkdirs("samba/sysvol/test.lan/scripts");
  HostMkdirs("C/WINDOWS");
  config_.mounts["c:\\windows\\SYSVOL\\sysvol\\test.lan\\scripts"] = netlogon;
  Remake();
  EXPECT_EQ(HostPathOf(config_, "C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts\\QelInstall.bat"),
            netlogon + "/QelInstall.bat");
  EXPECT_EQ(HostPathOf(config_, "C:\\WINDOWS\\SYSVOL\\x"), root_ + "/C/WINDOWS/SYSVOL/x");

  // The folder itself, a file written through the share, a listing, a sub-folder.
  EXPECT_EQ(fs().GetFileAttributesA("C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts") & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  ASSERT_TRUE(fs().WritePrivateProfileStringA("DEFAULT", "CENTERIP", "10.0.0.9", "\\\\DC01\\NETLOGON\\SetupSet.ini"));
  EXPECT_EQ(HostRead("samba/sysvol/test.lan/scripts/SetupSet.ini"), "[DEFAULT]\r\nCENTERIP=10.0.0.9\r\n");
  EXPECT_EQ(List("C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts\\*.ini"), std::vector<std::string>{"SetupSet.ini"});
  ASSERT_TRUE(fs().CreateDirectoryA("\\\\DC01\\NETLOGON\\sub"));
  struct stat info;
  EXPECT_EQ(::stat((netlogon + "/sub").c_str(), &info), 0);
  EXPECT_EQ(fs().GetFileAttributesA("C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts\\SUB\\..\\setupset.ini") &
                FILE_ATTRIBUTE_DIRECTORY,
            0u);
  // Nothing went below the root's own C:\WINDOWS.
  EXPECT_NE(::stat((root_ + "/C/WINDOWS/SYSVOL").c_str(), &info), 0);

  // A mounted folder that is gone: the folder is missing, paths below it too.
  config_.mounts["C:\\Gone"] = root_ + "/nowhere";
  Remake();
  EXPECT_EQ(fs().GetFileAttributesA("C:\\Gone"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(fs().GetFileAttributesA("C:\\Gone\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// A whole drive mounted elsewhere (the terminal wizard's Z: is the host's
// own files); a folder mounted on that drive still takes its own paths.
TEST_F(HostFilesTest, AWholeDriveCanBeMounted) {
  HostMkdirs("host/home/me");
  HostMkdirs("other");
  HostWrite("host/home/me/QelSetup.exe", "MZ");
  config_.mounts["z:\\"] = root_ + "/host";
  config_.mounts["Z:\\elsewhere"] = root_ + "/other";
  Remake();
  EXPECT_EQ(HostPathOf(config_, "Z:\\home\\me\\QelSetup.exe"), root_ + "/host/home/me/QelSetup.exe");
  EXPECT_EQ(fs().GetFileAttributesA("Z:\\HOME\\me\\qelsetup.exe") & FILE_ATTRIBUTE_DIRECTORY, 0u);
  ASSERT_TRUE(fs().CopyFileA("Z:\\home\\me\\QelSetup.exe", "C:\\QelSetup.exe", FALSE));
  EXPECT_EQ(HostRead("C/QelSetup.exe"), "MZ");
  EXPECT_EQ(HostPathOf(config_, "Z:\\elsewhere\\x"), root_ + "/other/x");
  EXPECT_NE(fs().GetFileAttributesA("Z:\\"), INVALID_FILE_ATTRIBUTES);
  // Drive C is still the root's own.
  EXPECT_EQ(HostPathOf(config_, "C:\\QelSetup.exe"), root_ + "/C/QelSetup.exe");
}

TEST_F(HostFilesTest, BadPathsGiveWindowsCodes) {
  EXPECT_EQ(fs().GetFileAttributesA(("C:\\" + std::string(MAX_PATH, 'a')).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(fs().GetFileAttributesA("C:\\a<b"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(fs().GetFileAttributesA("Q:\\x"), INVALID_FILE_ATTRIBUTES);  // no such drive
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  HostWrite("C/file.txt", "x");
  EXPECT_EQ(fs().GetFileAttributesA("C:\\file.txt\\below"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // Trailing dots and blanks are not part of a Windows name.
  EXPECT_NE(fs().GetFileAttributesA("C:\\file.txt. "), INVALID_FILE_ATTRIBUTES);
}

TEST_F(HostFilesTest, CaseFoldingFollowsTheCodePage) {
  EXPECT_TRUE(host::SameName("QelSetup.EXE", "qelsetup.exe", 1252));
  EXPECT_TRUE(host::SameName("\xe9t\xe9", "\xc9T\xc9", 1252));  // accented letters of 1252
  // In code page 936 the second byte of a character is never folded: these
  // are two different characters, not one in two cases.
  EXPECT_FALSE(host::SameName("\x81\x61", "\x81\x41", 936));
  EXPECT_TRUE(host::SameName("ab\x81\x61", "AB\x81\x61", 936));

  config_.codePage = 936;
  Remake();
  HostWrite("C/\x81\x61.txt", "first");
  HostWrite("C/\x81\x41.txt", "second");
  EXPECT_EQ(List("C:\\*.txt").size(), 2u);
  IFileStream* stream = fs().OpenStream("C:\\\x81\x41.TXT", "rb");
  ASSERT_NE(stream, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(stream->Read(buffer, 1, sizeof buffer), 6u);
  EXPECT_STREQ(buffer, "second");
  stream->Close();
}

// Names on the host are UTF-8, whatever the program's code page; the program
// sees them in its code page.
TEST_F(HostFilesTest, NamesAreUnicodeOnDiskAndAnsiToTheProgram) {
  const std::string wangFang = "\xcd\xf5\xb7\xbc";  // 王芳 in code page 936
  const std::string logon = "\xb5\xc7\xc2\xbc";     // 登录
  config_.codePage = 936;
  Remake();
  ASSERT_TRUE(fs().CreateDirectoryA("C:\\scripts"));

  // Created: the Unicode name on disk, the bytes as written.
  IFileStream* stream = fs().OpenStream(("C:\\scripts\\Qel" + wangFang + ".bat").c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Write(logon.data(), 1, logon.size()), logon.size());
  EXPECT_EQ(stream->Close(), 0);
  EXPECT_EQ(HostRead("C/scripts/Qel\u738b\u82b3.bat"), logon);

  // Found: a file another program stored under its Unicode name, also
  // without regard to the case of its Latin letters.
  HostWrite("C/scripts/\u767b\u5f55.bat", "@echo own\r\n");
  EXPECT_NE(fs().GetFileAttributesA(("C:\\scripts\\" + logon + ".BAT").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(fs().CopyFileA(("C:\\scripts\\" + logon + ".bat").c_str(), "C:\\scripts\\copy.bat", TRUE));
  EXPECT_EQ(HostRead("C/scripts/copy.bat"), "@echo own\r\n");

  // Listed: ANSI names; a character outside the code page stands as '?'.
  HostWrite("C/scripts/\u0e01.txt", "thai");
  std::vector<std::string> listed = List("C:\\scripts\\*");
  EXPECT_EQ(listed, (std::vector<std::string>{".", "..", "?.txt", "copy.bat", "Qel" + wangFang + ".bat",
                                              logon + ".bat"}));
  EXPECT_EQ(List("C:\\scripts\\qel*.bat"), std::vector<std::string>{"Qel" + wangFang + ".bat"});

  // Deleted by its ANSI name.
  EXPECT_TRUE(fs().DeleteFileA(("C:\\scripts\\qel" + wangFang + ".bat").c_str()));
  EXPECT_EQ(HostRead("C/scripts/Qel\u738b\u82b3.bat"), "");

  // Refused: bytes that are no character of the code page never reach the disk.
  for (const std::string& bad : {std::string("C:\\scripts\\x\xff.bat"), std::string("C:\\scripts\\x\x81"),
                                 std::string("C:\\scripts\\\xcd\x7f.bat")}) {
    EXPECT_EQ(fs().OpenStream(bad.c_str(), "wb"), nullptr) << bad;
    EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_FALSE(fs().CreateDirectoryA(bad.c_str()));
    EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  }
  EXPECT_EQ(fs().FindFirstFileA("C:\\scripts\\\xff*", nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(List("C:\\scripts\\*").size(), 5u);  // as before the refusals
  EXPECT_EQ(HostPathOf(config_, "C:\\scripts\\x\xff.bat"), "");

  // Code page 1252 names are stored in UTF-8 as well.
  config_.codePage = 1252;
  Remake();
  stream = fs().OpenStream("C:\\scripts\\caf\xe9.txt", "w");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Close(), 0);
  EXPECT_EQ(HostRead("C/scripts/caf\u00e9.txt"), "");
  struct stat st;
  EXPECT_EQ(::stat((root_ + "/C/scripts/caf\u00e9.txt").c_str(), &st), 0);
  EXPECT_EQ(List("C:\\scripts\\CAF\xc9.*"), std::vector<std::string>{"caf\xe9.txt"});
}

TEST(HostLocale, ChineseLocalesWorkIn936AndTraditionalOnesSaySo) {
  bool approximate = true;
  EXPECT_EQ(CodePageOfLocale("zh_CN.UTF-8", &approximate), 936u);
  EXPECT_FALSE(approximate);
  EXPECT_EQ(CodePageOfLocale("zh_SG", &approximate), 936u);
  EXPECT_FALSE(approximate);
  for (const char* traditional : {"zh_TW.UTF-8", "zh_HK.Big5HKSCS", "zh-tw", "zh_MO@x"}) {
    EXPECT_EQ(CodePageOfLocale(traditional, &approximate), 936u) << traditional;
    EXPECT_TRUE(approximate) << traditional;
  }
  for (const char* western : {"C", "POSIX", "en_US.UTF-8", "de_DE@euro", "", "zhx_CN"}) {
    EXPECT_EQ(CodePageOfLocale(western, &approximate), 1252u) << western;
    EXPECT_FALSE(approximate) << western;
  }
}

TEST_F(HostFilesTest, AttributesLiveBesideTheHostFile) {
  HostWrite("C/seeded.txt", "x");  // put there by another program: no attributes yet
  EXPECT_EQ(fs().GetFileAttributesA("C:\\seeded.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(fs().SetFileAttributesA("C:\\seeded.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                            FILE_ATTRIBUTE_DIRECTORY));
  // The directory bit cannot be set on a file.
  EXPECT_EQ(fs().GetFileAttributesA("C:\\seeded.txt"),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  char stored[32] = {};
  ASSERT_GT(::getxattr((root_ + "/C/seeded.txt").c_str(), "user.qel.attributes", stored, sizeof stored - 1), 0);
  EXPECT_STREQ(stored, "6");
  // A second adapter (another process) sees the same attributes.
  auto other = MakeHostFileSystem(config_);
  EXPECT_EQ(other->GetFileAttributesA("C:\\SEEDED.TXT"), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  ASSERT_TRUE(fs().CreateDirectoryA("C:\\folder"));
  EXPECT_EQ(fs().GetFileAttributesA("C:\\folder"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  ASSERT_TRUE(fs().SetFileAttributesA("C:\\folder", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(fs().GetFileAttributesA("C:\\folder"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(HostFilesTest, HiddenAndSystemFilesAreNotReplacedBlindly) {
  HostWrite("C/src.txt", "new");
  HostWrite("C/hidden.txt", "old");
  ASSERT_TRUE(fs().SetFileAttributesA("C:\\hidden.txt", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_FALSE(fs().CopyFileA("C:\\src.txt", "C:\\hidden.txt", FALSE));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(fs().OpenStream("C:\\hidden.txt", "w"), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // Opening for writing without replacing is allowed.
  IFileStream* append = fs().OpenStream("C:\\hidden.txt", "a");
  ASSERT_NE(append, nullptr);
  EXPECT_EQ(append->Close(), 0);
  // Replacing with the same attributes again is allowed.
  HANDLE file = fs().CreateFileA("C:\\hidden.txt", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(fs().CloseFile(file));
  EXPECT_EQ(fs().GetFileAttributesA("C:\\hidden.txt"),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(HostRead("C/hidden.txt"), "");
}

TEST_F(HostFilesTest, WritingSetsTheArchiveBitAgain) {
  HostWrite("C/log.txt", "");
  ASSERT_TRUE(fs().SetFileAttributesA("C:\\log.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(fs().GetFileAttributesA("C:\\log.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  HANDLE file = fs().CreateFileA("C:\\log.txt", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fs().GetFileAttributesA("C:\\log.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));  // opened only
  DWORD written = 0;
  EXPECT_TRUE(fs().WriteFile(file, "line", 4, &written));
  EXPECT_TRUE(fs().CloseFile(file));
  EXPECT_EQ(fs().GetFileAttributesA("C:\\log.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(HostFilesTest, ReplacingTruncatesWhateverTheAccess) {
  HostWrite("C/old.txt", "contents");
  HANDLE file = fs().CreateFileA("C:\\old.txt", GENERIC_READ, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(fs().GetFileSize(file, nullptr), 0u);
  DWORD written = 0;
  EXPECT_FALSE(fs().WriteFile(file, "x", 1, &written));  // opened for reading only
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fs().CloseFile(file));
  EXPECT_EQ(HostRead("C/old.txt"), "");
}

TEST_F(HostFilesTest, OpenFilesAreSharedAsWindowsSharesThem) {
  HANDLE exclusive = fs().CreateFileA("C:\\lock.txt", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fs().CreateFileA("C:\\LOCK.TXT", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(fs().OpenStream("C:\\lock.txt", "r"), nullptr);
  EXPECT_FALSE(fs().DeleteFileA("C:\\lock.txt"));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(fs().CloseFile(exclusive));
  EXPECT_FALSE(fs().CloseFile(exclusive));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // The log's way: shared for reading and writing, other writers get in.
  HANDLE log = fs().CreateFileA("C:\\lock.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(log, INVALID_HANDLE_VALUE);
  IFileStream* reader = fs().OpenStream("C:\\lock.txt", "r");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->Close(), 0);
  EXPECT_FALSE(fs().DeleteFileA("C:\\lock.txt"));  // still open, without FILE_SHARE_DELETE
  EXPECT_TRUE(fs().CloseFile(log));
  EXPECT_TRUE(fs().DeleteFileA("C:\\lock.txt"));
}

TEST_F(HostFilesTest, ListingFollowsNtfsOrderAndDosWildcards) {
  HostMkdirs("C/list");
  for (const char* name : {"b.txt", "A.txt", "_x", "a1.txt", "noext", "ab.txt", "a.b.txt"}) {
    HostWrite(std::string("C/list/") + name, "");
  }
  EXPECT_EQ(List("C:\\list\\*"),
            (std::vector<std::string>{".", "..", "a.b.txt", "A.txt", "a1.txt", "ab.txt", "b.txt", "noext", "_x"}));
  EXPECT_EQ(List("C:\\list\\a?.txt"), (std::vector<std::string>{"A.txt", "a1.txt", "ab.txt"}));
  EXPECT_EQ(List("C:\\list\\*."), (std::vector<std::string>{".", "..", "noext", "_x"}));
  EXPECT_EQ(List("C:\\list\\*.txt"),
            (std::vector<std::string>{"a.b.txt", "A.txt", "a1.txt", "ab.txt", "b.txt"}));
  EXPECT_EQ(List("C:\\list\\noext.*"), (std::vector<std::string>{"noext"}));
  // A drive root has no "." and "..".
  EXPECT_EQ(List("C:\\*"), (std::vector<std::string>{"list"}));
  // A pattern without folder searches the current one.
  HostMkdirs("C/work");
  HostWrite("C/work/here.txt", "");
  EXPECT_EQ(List("*.txt"), (std::vector<std::string>{"here.txt"}));
}

TEST_F(HostFilesTest, TextStreamsStopAtCtrlZAndJoinCrLfAcrossBuffers) {
  HostWrite("C/eof.txt", "before\r\n\x1a" "after");
  IFileStream* stream = fs().OpenStream("C:\\eof.txt", "r");
  ASSERT_NE(stream, nullptr);
  char buffer[32] = {};
  EXPECT_EQ(stream->Read(buffer, 1, sizeof buffer), 7u);
  EXPECT_STREQ(buffer, "before\n");
  EXPECT_EQ(stream->Close(), 0);

  // A CR LF split by the stream's 4096-byte buffer is still one line break.
  std::string text(4095, 'x');
  text += "\r\nend";
  HostWrite("C/long.txt", text);
  stream = fs().OpenStream("C:\\long.txt", "rt");
  ASSERT_NE(stream, nullptr);
  std::string back(5000, '\0');
  size_t got = stream->Read(&back[0], 1, back.size());
  EXPECT_EQ(stream->Close(), 0);
  back.resize(got);
  EXPECT_EQ(back, std::string(4095, 'x') + "\nend");

  // Writing on a stream opened for reading fails, and so does its close.
  stream = fs().OpenStream("C:\\long.txt", "r");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Write("x", 1, 1), 0u);
  EXPECT_EQ(stream->Close(), -1);
}

TEST_F(HostFilesTest, ProfileListsRemovalsQuotesAndTheWindowsFolder) {
  HostMkdirs("C/WINDOWS");
  HostWrite("C/WINDOWS/qel.ini", "[One]\r\na=\"quoted value\"\r\nb=2\r\n\r\n[Two]\r\nc=3\r\n");
  char buffer[64];
  // A bare file name lives in the Windows folder.
  EXPECT_EQ(fs().GetPrivateProfileStringA("One", "a", "", buffer, sizeof buffer, "qel.ini"), 12u);
  EXPECT_STREQ(buffer, "quoted value");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(fs().GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, "qel.ini"), 8u);
  EXPECT_EQ(std::string(buffer, 9), std::string("One\0Two\0\0", 9));
  EXPECT_EQ(fs().GetPrivateProfileStringA("one", nullptr, "", buffer, sizeof buffer, "qel.ini"), 4u);
  EXPECT_EQ(std::string(buffer, 5), std::string("a\0b\0\0", 5));
  // A list that does not fit: cut, double NUL, size - 2.
  EXPECT_EQ(fs().GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 6, "qel.ini"), 4u);
  EXPECT_EQ(std::string(buffer, 6), std::string("One\0\0\0", 6));

  ASSERT_TRUE(fs().WritePrivateProfileStringA("One", "b", nullptr, "C:\\WINDOWS\\qel.ini"));
  ASSERT_TRUE(fs().WritePrivateProfileStringA("Two", nullptr, nullptr, "C:\\WINDOWS\\qel.ini"));
  ASSERT_TRUE(fs().WritePrivateProfileStringA("One", "new", "n", "C:\\WINDOWS\\qel.ini"));
  EXPECT_EQ(HostRead("C/WINDOWS/qel.ini"), "[One]\r\na=\"quoted value\"\r\nnew=n\r\n\r\n");

  // A read-only file is not changed; a missing folder is ERROR_PATH_NOT_FOUND.
  ASSERT_TRUE(fs().SetFileAttributesA("C:\\WINDOWS\\qel.ini", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(fs().WritePrivateProfileStringA("One", "a", "x", "C:\\WINDOWS\\qel.ini"));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(fs().WritePrivateProfileStringA("One", "a", "x", "C:\\none\\qel.ini"));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(HostFilesTest, TempFolderIsMadeOnDemand) {
  char buffer[MAX_PATH];
  ASSERT_EQ(fs().GetTempPathA(sizeof buffer, buffer), 20u);
  EXPECT_STREQ(buffer, "C:\\Users\\admin\\Temp\\");
  struct stat st;
  EXPECT_EQ(::stat((root_ + "/C/Users/admin/Temp").c_str(), &st), 0);
  EXPECT_EQ(fs().GetCurrentDirectoryA(sizeof buffer, buffer), 7u);
  EXPECT_STREQ(buffer, "C:\\work");
}

TEST_F(HostFilesTest, LinkedFoldersOnTheWayAreFollowed) {
  HostMkdirs("C/real");
  HostWrite("C/real/File.txt", "x");
  HostWrite("C/plain.txt", "y");
  ASSERT_EQ(::symlink((root_ + "/C/real").c_str(), (root_ + "/C/Link").c_str()), 0);
  ASSERT_EQ(::symlink((root_ + "/C/plain.txt").c_str(), (root_ + "/C/FileLink").c_str()), 0);
  EXPECT_NE(fs().GetFileAttributesA("C:\\Link\\File.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(fs().GetFileAttributesA("C:\\LINK\\file.TXT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(fs().GetFileAttributesA("C:\\FileLink\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(fs().GetFileAttributesA("C:\\filelink\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Names found without regard to case come from an index of the folder; these
// cases change the folder through the adapter and behind it, in between.

TEST_F(HostFilesTest, CaseInsensitiveLookupsFollowChangesMadeBehindTheAdapter) {
  HostMkdirs("C/scripts");
  auto exists = [&](const char* path) { return fs().GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; };
  HANDLE file = fs().CreateFileA("C:\\scripts\\QelOne.bat", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  fs().CloseFile(file);
  EXPECT_TRUE(exists("C:\\scripts\\QELONE.BAT"));  // the folder is indexed from here on
  EXPECT_FALSE(exists("C:\\scripts\\qeltwo.bat"));

  // The adapter's own create, then a lookup in another case.
  file = fs().CreateFileA("C:\\scripts\\QelTwo.bat", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  fs().CloseFile(file);
  EXPECT_TRUE(exists("C:\\scripts\\qeltwo.BAT"));

  // Another program makes a file; the adapter finds it in any case and
  // writes to it rather than beside it.
  HostWrite("C/scripts/QelThree.bat", "outside");
  EXPECT_TRUE(exists("C:\\scripts\\qelthree.bat"));
  file = fs().CreateFileA("C:\\scripts\\QELTHREE.BAT", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  fs().WriteFile(file, "adapter", 7, &written);
  fs().CloseFile(file);
  EXPECT_EQ(HostRead("C/scripts/QelThree.bat"), "adapter");
  EXPECT_EQ(List("C:\\scripts\\*.bat").size(), 3u);

  // Deleted and renamed by another program.
  ASSERT_EQ(::unlink((root_ + "/C/scripts/QelOne.bat").c_str()), 0);
  EXPECT_FALSE(exists("C:\\scripts\\qelone.bat"));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(::rename((root_ + "/C/scripts/QelTwo.bat").c_str(), (root_ + "/C/scripts/Other.BAT").c_str()), 0);
  EXPECT_FALSE(exists("C:\\scripts\\QELTWO.BAT"));
  EXPECT_TRUE(exists("C:\\scripts\\other.bat"));

  // The adapter's own delete and rename over a file (the profile writer's
  // replace) in another case.
  EXPECT_TRUE(fs().DeleteFileA("C:\\scripts\\OTHER.bat"));
  EXPECT_FALSE(exists("C:\\scripts\\Other.BAT"));
  HostWrite("C/scripts/SetupSet.ini", "[Setup]\r\nCenterIP=1.2.3.4\r\n");
  EXPECT_TRUE(fs().WritePrivateProfileStringA("Setup", "CenterIP", "5.6.7.8", "C:\\scripts\\SETUPSET.INI"));
  EXPECT_TRUE(exists("C:\\scripts\\setupset.ini"));
  EXPECT_EQ(List("C:\\scripts\\*.ini"), std::vector<std::string>{"SetupSet.ini"});
  EXPECT_NE(HostRead("C/scripts/SetupSet.ini").find("5.6.7.8"), std::string::npos);
}

TEST_F(HostFilesTest, CaseInsensitiveLookupsFollowTheFolderNotItsOldIndex) {
  HostMkdirs("C/data/inner");
  HostWrite("C/data/Alpha.txt", "a");
  EXPECT_NE(fs().GetFileAttributesA("C:\\DATA\\ALPHA.TXT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(fs().GetFileAttributesA("C:\\data\\INNER"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  // The folder is replaced by another of the same name.
  ASSERT_EQ(::rename((root_ + "/C/data").c_str(), (root_ + "/C/old").c_str()), 0);
  HostMkdirs("C/data");
  HostWrite("C/data/Beta.txt", "b");
  EXPECT_EQ(fs().GetFileAttributesA("C:\\DATA\\alpha.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(fs().GetFileAttributesA("C:\\DATA\\BETA.TXT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(fs().GetFileAttributesA("C:\\OLD\\alpha.txt"), INVALID_FILE_ATTRIBUTES);

  // A parent renamed away and made again: the inner folder is a new one.
  HostWrite("C/old/inner/Gamma.txt", "g");
  EXPECT_NE(fs().GetFileAttributesA("C:\\old\\INNER\\GAMMA.TXT"), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(::rename((root_ + "/C/old").c_str(), (root_ + "/C/older").c_str()), 0);
  HostMkdirs("C/old/inner");
  EXPECT_EQ(fs().GetFileAttributesA("C:\\old\\INNER\\GAMMA.TXT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(fs().GetFileAttributesA("C:\\OLDER\\INNER\\gamma.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(HostFilesTest, IndexedLookupsKeepTheFoldingRules) {
  std::string folder = root_ + "/C/names";
  HostMkdirs("C/names");
  // Two host names of one Windows name: always the smallest, then the other
  // once the smallest is gone.
  HostWrite("C/names/ab.txt", "lower");
  HostWrite("C/names/AB.txt", "upper");
  EXPECT_EQ(host::FindInFolder(folder, "Ab.TXT", 1252), "AB.txt");
  EXPECT_EQ(host::FindInFolder(folder, "ab.txt", 1252), "ab.txt");  // its own spelling first
  ASSERT_EQ(::unlink((folder + "/AB.txt").c_str()), 0);
  EXPECT_EQ(host::FindInFolder(folder, "Ab.TXT", 1252), "ab.txt");
  ASSERT_EQ(::unlink((folder + "/ab.txt").c_str()), 0);
  EXPECT_EQ(host::FindInFolder(folder, "Ab.TXT", 1252), "");

  // Letters of 1252; in 936 a trail byte stays as it is, and the same
  // folder answers by the code page asked for.
  HostWrite("C/names/caf\xe9.txt", "1252");
  HostWrite("C/names/\x81\x61.txt", "936");
  EXPECT_EQ(host::FindInFolder(folder, "CAF\xc9.TXT", 1252), "caf\xe9.txt");
  EXPECT_EQ(host::FindInFolder(folder, "\x81\x61.TXT", 936), "\x81\x61.txt");
  EXPECT_EQ(host::FindInFolder(folder, "\x81\x41.txt", 936), "");
  EXPECT_EQ(host::FindInFolder(folder, "CAF\xc9.TXT", 936), "");  // no accented letters in 936
  EXPECT_EQ(host::FindInFolder(folder, "\x81\x41.txt", 1252), "\x81\x61.txt");
  EXPECT_EQ(host::FindInFolder(root_ + "/C/missing", "x.txt", 1252), "");
}

TEST_F(HostFilesTest, ManyFilesInOneFolder) {
  HostMkdirs("C/scripts");
  const int kFiles = 3000;
  char path[64];
  for (int i = 0; i < kFiles; ++i) {
    std::snprintf(path, sizeof path, "C:\\scripts\\QelUser%05d.bat", i);
    std::string other = path;
    for (char& c : other) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(fs().GetFileAttributesA(other.c_str()), INVALID_FILE_ATTRIBUTES) << i;
    HANDLE file = fs().CreateFileA(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << i;
    fs().CloseFile(file);
    ASSERT_NE(fs().GetFileAttributesA(other.c_str()), INVALID_FILE_ATTRIBUTES) << i;
  }
  // Every other one goes, half through the adapter and half behind it.
  for (int i = 0; i < kFiles; i += 2) {
    if (i % 4 == 0) {
      std::snprintf(path, sizeof path, "C:\\SCRIPTS\\qeluser%05d.BAT", i);
      ASSERT_TRUE(fs().DeleteFileA(path)) << i;
    } else {
      std::snprintf(path, sizeof path, "/C/scripts/QelUser%05d.bat", i);
      ASSERT_EQ(::unlink((root_ + path).c_str()), 0) << i;
    }
  }
  int found = 0;
  for (int i = 0; i < kFiles; ++i) {
    std::snprintf(path, sizeof path, "c:\\scripts\\QELUSER%05d.BAT", i);
    bool exists = fs().GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(exists, i % 2 == 1) << i;
    found += exists;
  }
  EXPECT_EQ(found, kFiles / 2);
  EXPECT_EQ(List("C:\\scripts\\*.bat").size(), static_cast<size_t>(kFiles / 2));
}

TEST_F(HostFilesTest, MoreChangesThanTheKernelQueuesAreNotLost) {
  // Past this many unread reports the kernel drops the rest and says so;
  // the index must then be read afresh.
  long queued = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
  if (queued > 100000) GTEST_SKIP() << "queue of " << queued << " reports";
  std::string folder = root_ + "/C/flood";
  HostMkdirs("C/flood");
  HostWrite("C/flood/Gone.txt", "x");
  EXPECT_EQ(host::FindInFolder(folder, "GONE.TXT", 1252), "Gone.txt");
  char name[32];
  for (long i = 0; i <= queued; ++i) {
    std::snprintf(name, sizeof name, "/f%06ld", i);
    int fd = ::open((folder + name).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  ASSERT_EQ(::unlink((folder + "/Gone.txt").c_str()), 0);
  HostWrite("C/flood/Late.txt", "y");
  EXPECT_EQ(host::FindInFolder(folder, "gone.txt", 1252), "");
  EXPECT_EQ(host::FindInFolder(folder, "LATE.TXT", 1252), "Late.txt");
  EXPECT_EQ(host::FindInFolder(folder, "F000000", 1252), "f000000");
}

TEST_F(HostFilesTest, IndexHoldsABoundedNumberOfFolders) {
  const int kFolders = 100;
  for (int i = 0; i < kFolders; ++i) {
    std::string name = "C/f" + std::to_string(i);
    HostMkdirs(name);
    HostWrite(name + "/Name.txt", "x");
    EXPECT_EQ(host::FindInFolder(root_ + "/" + name, "NAME.TXT", 1252), "Name.txt");
  }
  EXPECT_GT(host::IndexedFolderCount(), 0u);
  EXPECT_LE(host::IndexedFolderCount(), 64u);
  // A folder dropped from the index is read afresh.
  HostWrite("C/f0/Other.txt", "y");
  EXPECT_EQ(host::FindInFolder(root_ + "/C/f0", "OTHER.TXT", 1252), "Other.txt");
  EXPECT_EQ(host::FindInFolder(root_ + "/C/f0", "NAME.txt", 1252), "Name.txt");
}

}  // namespace
}  // namespace qel
