// Lines of the log file: their format and cuts, the roll to the backup, and
// what happens when the file cannot be written.
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fakes/fault_plan.h"
#include "tests/fakes/faulty_files.h"
#include "tests/log/log_test_env.h"

namespace qel::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (start != text.size()) lines.push_back(text.substr(start));  // an unterminated tail
  return lines;
}

using LogLineTest = LogTest;

TEST_F(LogLineTest, ExactFormat) {
  ASSERT_NE(Fresh(), nullptr);
  _NCOvLogUtility::Warning("[ChangeScript]%s %d", "jdoe", 7);
  EXPECT_EQ(Log(), "[1234]2008-03-05 06:30:12:045: [WAR][ChangeScript]jdoe 7\r\n");
}

TEST_F(LogLineTest, ZeroPaddedDateAndMilliseconds) {
  system_.SetLocalTime(MakeTime(2008, 3, 7, 1, 2, 3, 5));
  system_.SetProcessId(88);
  ASSERT_NE(Fresh(), nullptr);
  _NCOvLogUtility::Error("x");
  EXPECT_EQ(Log(), "[88]2008-03-07 01:02:03:005: [ERR]x\r\n");
}

TEST_F(LogLineTest, LinesAppendToAnExistingFile) {
  ASSERT_TRUE(env_.WriteFile(kLogPath, "earlier\r\n"));
  ASSERT_NE(Fresh(), nullptr);
  _NCOvLogUtility::Error("one");
  _NCOvLogUtility::Error("two");
  EXPECT_EQ(Log(), "earlier\r\n" + std::string(kStamp) + "[ERR]one\r\n" + kStamp + "[ERR]two\r\n");
}

TEST_F(LogLineTest, LongMessageCutAt983) {
  ASSERT_NE(Fresh(), nullptr);
  const std::string message(2000, 'm');
  _NCOvLogUtility::Error("%s", message.c_str());
  // With a four-digit process id the whole line is exactly 1021 bytes: no line cut.
  const std::string expected = std::string(kStamp) + "[ERR]" + std::string(983, 'm') + "\r\n";
  EXPECT_EQ(expected.size(), 1021u);
  EXPECT_EQ(Log(), expected);
}

TEST_F(LogLineTest, LongLineCutAt1021) {
  system_.SetProcessId(123456);
  ASSERT_NE(Fresh(), nullptr);
  const std::string message(2000, 'm');
  _NCOvLogUtility::Error("%s", message.c_str());
  const std::string full = "[123456]2008-03-05 06:30:12:045: [ERR]" + std::string(983, 'm') + "\r\n";
  const std::string log = Log();
  ASSERT_EQ(log.size(), 1023u);
  EXPECT_EQ(log, full.substr(0, 1021) + "\r\n");
}

// The roll: a file larger than the limit becomes the backup before the
// next line, which begins a new file.
class LogRollTest : public LogTest {
 protected:
  void SetUp() override {
    SetDword("NLogMaxSize", 0);  // limit 102400
    ASSERT_TRUE(env_.WriteFile(kLogPath, std::string(102400, 'x')));
    ASSERT_TRUE(env_.WriteFile(kBackupPath, "older backup"));
    ASSERT_NE(Fresh(), nullptr);
  }
  static std::string Line(const std::string& text) { return std::string(kStamp) + "[WAR]" + text + "\r\n"; }
};

TEST_F(LogRollTest, FileAtTheLimitIsNotRolled) {
  _NCOvLogUtility::Warning("first");
  EXPECT_EQ(Log(), std::string(102400, 'x') + Line("first"));
  EXPECT_EQ(Backup(), "older backup");
}

TEST_F(LogRollTest, FileOverTheLimitRollsBeforeTheLine) {
  _NCOvLogUtility::Warning("first");
  _NCOvLogUtility::Warning("second");
  EXPECT_EQ(Backup(), std::string(102400, 'x') + Line("first"));
  EXPECT_EQ(Log(), Line("second"));
}

TEST_F(LogRollTest, BackupThatCannotBeWrittenKeepsTheFile) {
  _NCOvLogUtility::Warning("first");
  std::filesystem::remove(env_.HostPath(kBackupPath));
  ASSERT_TRUE(env_.MakeDirectory(kBackupPath));  // nothing can be copied there
  _NCOvLogUtility::Warning("second");
  // Nothing lost: the old file goes on.
  EXPECT_EQ(Log(), std::string(102400, 'x') + Line("first") + Line("second"));

  std::filesystem::remove(env_.HostPath(kBackupPath));
  _NCOvLogUtility::Warning("third");  // tries again
  EXPECT_EQ(Backup(), std::string(102400, 'x') + Line("first") + Line("second"));
  EXPECT_EQ(Log(), Line("third"));
}

using LogFailureTest = LogTest;

TEST_F(LogFailureTest, FileThatCannotBeOpenedDropsTheLineOnly) {
  ASSERT_TRUE(env_.MakeDirectory(kLogPath));  // a folder has the file's name
  ASSERT_NE(Fresh(), nullptr);
  _NCOvLogUtility::Error("lost");
  ASSERT_TRUE(std::filesystem::remove(env_.HostPath(kLogPath)));
  _NCOvLogUtility::Error("kept");
  EXPECT_EQ(Log(), std::string(kStamp) + "[ERR]kept\r\n");
}

// Writers on several threads: every line whole, none lost, none mixed.
class LogThreadTest : public LogTest {
 protected:
  static constexpr int kThreads = 6;
  static constexpr int kLines = 300;

  void WriteFromThreads(const std::string& padding) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, &padding] {
        for (int i = 0; i < kLines; ++i) {
          if (i % 2 == 0) {
            _NCOvLogUtility::Warning("thread %d line %d %s", t, i, padding.c_str());
          } else {
            _NCOvLogUtility::Error("thread %d line %d %s", t, i, padding.c_str());
          }
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
  }

  // Checks that every line of `text` is whole; returns the (thread, line) keys.
  static std::set<std::pair<int, int>> Check(const std::string& text, const std::string& padding) {
    const std::regex line("\\[1234\\]2008-03-05 06:30:12:045: \\[(ERR|WAR)\\]thread (\\d+) line (\\d+) " + padding);
    std::set<std::pair<int, int>> keys;
    for (const std::string& l : Lines(text)) {
      std::smatch m;
      if (!std::regex_match(l, m, line)) {
        ADD_FAILURE() << "mixed or broken line: " << l.substr(0, 120);
        continue;
      }
      keys.insert({std::stoi(m[2]), std::stoi(m[3])});
    }
    return keys;
  }
};

TEST_F(LogThreadTest, LinesNeverInterleave) {
  SetDword("NLogMaxSize", 10485760);
  ASSERT_NE(Fresh(), nullptr);
  const std::string padding(100, 'p');
  WriteFromThreads(padding);
  const std::string log = Log();
  EXPECT_EQ(Lines(log).size(), static_cast<size_t>(kThreads * kLines));
  EXPECT_EQ(Check(log, padding).size(), static_cast<size_t>(kThreads * kLines));
}

TEST_F(LogThreadTest, RollsAreNeverSeenHalfDone) {
  SetDword("NLogMaxSize", 0);  // 102400: several rolls on the way
  ASSERT_NE(Fresh(), nullptr);
  const std::string padding(300, 'p');
  WriteFromThreads(padding);
  const std::string log = Log();
  const std::string backup = Backup();
  Check(log, padding);
  Check(backup, padding);
  // The backup was rolled when it first passed the limit: by less than a line.
  EXPECT_GT(backup.size(), 102400u);
  EXPECT_LT(backup.size(), 102400u + 400u);
  EXPECT_LE(log.size(), 102400u + 400u);
}

// The file port failing under the writer.
class LogFaultTest : public LogTest {
 protected:
  LogFaultTest() : files_(Ports().files) { Ports().files = &files_; }
  ~LogFaultTest() override { _NCOvLogUtility::DestroyInstance(); }  // closes through files_
  static std::string Line(const std::string& text) { return std::string(kStamp) + "[ERR]" + text + "\r\n"; }
  FaultPlan& plan() { return files_.plan(); }
  FaultyFileSystem files_;
};

TEST_F(LogFaultTest, FileOpenedOnceThenOneSizeQueryAndOneWritePerLine) {
  ASSERT_NE(Fresh(), nullptr);
  _NCOvLogUtility::Error("one");
  _NCOvLogUtility::Error("two");
  _NCOvLogUtility::Error("three");
  EXPECT_EQ(plan().Calls("CreateFileA"), 1);
  EXPECT_EQ(plan().Calls("GetFileSize"), 3);
  EXPECT_EQ(plan().Calls("WriteFile"), 3);
  EXPECT_EQ(plan().Calls("CloseFile"), 0);
  _NCOvLogUtility::DestroyInstance();
  EXPECT_EQ(plan().Calls("CloseFile"), 1);
}

TEST_F(LogFaultTest, FailedOpenDropsTheLineAndTheNextLineRetries) {
  ASSERT_NE(Fresh(), nullptr);
  plan().Fail("CreateFileA", ERROR_SHARING_VIOLATION);
  _NCOvLogUtility::Error("lost");
  _NCOvLogUtility::Error("kept");
  EXPECT_EQ(plan().Calls("CreateFileA"), 2);
  EXPECT_EQ(Log(), Line("kept"));
}

TEST_F(LogFaultTest, FailedSizeQueryDropsTheLineAndReopens) {
  ASSERT_NE(Fresh(), nullptr);
  _NCOvLogUtility::Error("one");
  plan().Fail("GetFileSize", ERROR_INVALID_HANDLE);
  _NCOvLogUtility::Error("lost");
  _NCOvLogUtility::Error("two");
  EXPECT_EQ(plan().Calls("CloseFile"), 1);
  EXPECT_EQ(plan().Calls("CreateFileA"), 2);
  EXPECT_EQ(Log(), Line("one") + Line("two"));
}

TEST_F(LogFaultTest, UndeletableFileGoesOnAndTheNextLineRollsAgain) {
  SetDword("NLogMaxSize", 0);
  ASSERT_TRUE(env_.WriteFile(kLogPath, std::string(102401, 'x')));
  ASSERT_NE(Fresh(), nullptr);
  plan().Fail("DeleteFileA", ERROR_SHARING_VIOLATION);
  _NCOvLogUtility::Error("a");
  EXPECT_EQ(Log(), std::string(102401, 'x') + Line("a"));
  _NCOvLogUtility::Error("b");
  EXPECT_EQ(plan().Calls("CopyFileA"), 2);
  EXPECT_EQ(Backup(), std::string(102401, 'x') + Line("a"));
  EXPECT_EQ(Log(), Line("b"));
}

TEST_F(LogFaultTest, FailedReopenAfterTheRollDropsTheLine) {
  SetDword("NLogMaxSize", 0);
  ASSERT_TRUE(env_.WriteFile(kLogPath, std::string(102401, 'x')));
  ASSERT_NE(Fresh(), nullptr);
  plan().Fail("CreateFileA", ERROR_ACCESS_DENIED, 1, 1);  // the open after the roll
  _NCOvLogUtility::Error("lost");
  _NCOvLogUtility::Error("kept");
  EXPECT_EQ(Backup(), std::string(102401, 'x'));
  EXPECT_EQ(Log(), Line("kept"));
}

TEST_F(LogFaultTest, FolderFailureWhileTheLogIsMadeDoesNotRecurse) {
  // Making channel 0 creates the folder, whose failure is logged: that line
  // has nowhere to go, and must not make a second log.
  plan().Fail("CreateDirectoryA", ERROR_ACCESS_DENIED, -1);
  ASSERT_NE(Fresh(), nullptr);
  EXPECT_GT(plan().Calls("CreateDirectoryA"), 0);
  _NCOvLogUtility::Error("lost");
  EXPECT_FALSE(env_.FileExists(kLogPath));
}

// A file port that asks for the log while the log is being made.
class ReentrantFiles : public FaultyFileSystem {
 public:
  using FaultyFileSystem::FaultyFileSystem;
  BOOL CreateDirectoryA(const char* path) override {
    ++calls;
    seen = _NCOvLogUtility::GetInstance();
    return FaultyFileSystem::CreateDirectoryA(path);
  }
  int calls = 0;
  _NCOvLogUtility* seen = nullptr;
};

TEST_F(LogTest, GetInstanceWhileTheLogIsMadeAnswersNull) {
  IFileSystem* host = Ports().files;
  ReentrantFiles files(host);
  Ports().files = &files;
  _NCOvLogUtility* log = Fresh();  // creates the log folder
  EXPECT_NE(log, nullptr);
  EXPECT_GT(files.calls, 0);
  EXPECT_EQ(files.seen, nullptr);
  _NCOvLogUtility::DestroyInstance();
  Ports().files = host;
}

}  // namespace
}  // namespace qel::test
