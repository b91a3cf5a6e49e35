// The run record: one CSV file per run beside the log, a row for every
// account and every staged file as the run goes, so that a run that is
// stopped or killed leaves a record of what it did up to then. UTF-8 with a
// byte-order mark (spreadsheets open it as such), RFC 4180 quoting, CR LF.
#pragma once

#include <string>
#include <vector>

#include "deploy/run_observer.h"
#include "platform/win_types.h"

namespace qel {

// The header line, the first of every record (after the byte-order mark).
extern const char kRunRecordHeader[];

// The words of the result and file-action columns.
const char* RunResultWord(int result);
// "created", "replaced", "deleted" or "kept": what happened to a file.
const char* FileActionWord(int action, BOOL existed);
// Account flags as the record and the listings show them ("0x200").
std::string FlagsHex(DWORD flags);
// The reason in words, with the error code when there is one.
std::string ReasonText(const char* reason, DWORD error);

class RunRecord : public IRunObserver {
 public:
  // operation: "add", "remove" or "undo"; controller: the computer name of
  // the domain controller, which undo checks the record against.
  RunRecord(std::string operation, std::string controller);
  ~RunRecord() override;
  RunRecord(const RunRecord&) = delete;
  RunRecord& operator=(const RunRecord&) = delete;

  // Creates the file in folder as QelScript-YYYYMMDD-HHMMSS.csv (a suffix
  // -2, -3 ... when a record of that second exists) and writes the header.
  // FALSE with the platform's code in QelGetLastError when it cannot.
  BOOL Open(const char* folder);
  // Creates the record at exactly path.
  BOOL OpenAt(const char* path);
  const std::string& Path() const { return path_; }

  void OnAccount(const AccountDecision& decision) override;
  void OnFile(const FileDecision& decision) override;

  // Rows that could not be written (the disk filled up, the file went away).
  int LostRows() const { return lost_; }

 private:
  void WriteRow(const std::vector<std::string>& fields);

  std::string operation_;
  std::string controller_;
  std::string path_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  int lost_ = 0;
};

// One row of a record as read back, by column name.
struct RecordRow {
  int line = 0;  // where the row begins in the file, from 1
  std::string time, operation, controller, account, dn, before, after, flagsBefore, flagsAfter, fileAction, file,
      result, reason, fileText;
};

// Parses the text of a record named name. FALSE with "NAME:LINE: reason" in
// *error when it is not a run record, is cut short, or a row is malformed.
bool ParseRunRecord(const std::string& name, const std::string& text, std::vector<RecordRow>* rows,
                    std::string* error);

// Text of the ANSI code page as UTF-8, and back.
std::string AnsiToUtf8Text(const char* ansi);
std::string WideToUtf8Text(const wchar_t* wide);
bool Utf8ToWideText(const std::string& utf8, std::wstring* wide);

}  // namespace qel
