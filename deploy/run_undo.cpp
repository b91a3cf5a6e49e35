#include "deploy/run_undo.h"

#include <cstdlib>
#include <cstring>

#include "deploy/script_deployer.h"  // DeleteFileForce
#include "deploy/text_util.h"
#include "log/log_utility.h"
#include "wizard/netapi_entry.h"

namespace qel {

namespace {

bool ParseFlags(const std::string& text, DWORD* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long parsed = std::strtoul(text.c_str(), &end, 16);
  if (end == nullptr || *end != '\0') return false;
  *value = static_cast<DWORD>(parsed);
  return true;
}

bool SameNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

bool IsAccountRow(const RecordRow& row) { return !row.account.empty(); }

std::wstring Wide(const std::string& utf8) {
  std::wstring wide;
  Utf8ToWideText(utf8, &wide);
  return wide;
}

bool FileExists(const std::string& path) { return Files().GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Writes a wrapper's recorded text back, as the engine writes it (text mode,
// in the code page: the record holds it in UTF-8).
bool WriteWrapper(const std::string& path, const std::string& text) {
  IFileStream* stream = Files().OpenStream(path.c_str(), "w+");
  if (stream == nullptr) return false;
  size_t written = text.empty() ? 1 : stream->Write(text.data(), text.size(), 1);
  return stream->Close() == 0 && written == 1;
}

class Undoer {
 public:
  Undoer(const char* scriptsDir, IRunObserver* observer) : scriptsDir_(scriptsDir), observer_(observer) {}

  void Account(const RecordRow& row, UndoCounts* counts) {
    std::string accountAnsi = AnsiString(Wide(row.account).c_str());
    AccountDecision d;
    d.account = accountAnsi.c_str();
    std::wstring dn = Wide(row.dn);
    d.dn = dn.empty() ? nullptr : dn.c_str();
    ++counts->total;

    std::wstring name = Wide(row.account);
    std::wstring before = Wide(row.before), after = Wide(row.after);
    DWORD flagsBefore = 0, flagsAfter = 0;
    ParseFlags(row.flagsBefore, &flagsBefore);
    ParseFlags(row.flagsAfter, &flagsAfter);
    std::string wrapperAnsi = AnsiString(Wide(row.file).c_str());
    std::string wrapperPath = wrapperAnsi.empty() ? std::string() : std::string(scriptsDir_) + "\\" + wrapperAnsi;

    LPBYTE buffer = nullptr;
    NET_API_STATUS read = g_NetApi.NetUserGetInfo(nullptr, name.c_str(), 3, &buffer);
    if (read != NERR_Success) {
      Tell(d, RUN_FAILED, "account not read", read);
      return;
    }
    USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
    std::wstring current = info->usri3_script_path != nullptr ? info->usri3_script_path : L"";
    std::string currentAnsi = AnsiString(current.c_str());
    std::string beforeAnsi = AnsiString(before.c_str());
    d.before = currentAnsi.c_str();
    d.after = currentAnsi.c_str();
    d.read = TRUE;
    d.flagsBefore = d.flagsAfter = info->usri3_flags;
    DWORD changedBits = flagsBefore ^ flagsAfter;
    DWORD restoredFlags = (info->usri3_flags & ~changedBits) | (flagsBefore & changedBits);

    bool atBefore = current == before && info->usri3_flags == restoredFlags;
    bool atAfter = current == after && (info->usri3_flags & changedBits) == (flagsAfter & changedBits);
    // A wrapper the run deleted comes back before its account names it again.
    if (row.fileAction == "deleted" && !wrapperPath.empty() && SameNoCase(before, Wide(row.file)) &&
        (atAfter || atBefore) && !FileExists(wrapperPath)) {
      if (!WriteWrapper(wrapperPath, AnsiString(Wide(row.fileText).c_str()))) {
        g_NetApi.NetApiBufferFree(buffer);
        Tell(d, RUN_FAILED, "wrapper batch not recreated", QelGetLastError());
        return;
      }
      d.fileAction = FILE_WRITTEN;
      d.file = wrapperAnsi.c_str();
    }
    if (atBefore) {
      g_NetApi.NetApiBufferFree(buffer);
      ++counts->succeeded;
      DeleteWrittenWrapper(row, d, before, wrapperPath, wrapperAnsi);
      Tell(d, RUN_UNCHANGED, "already as before the run");
      return;
    }
    if (!atAfter) {
      g_NetApi.NetApiBufferFree(buffer);
      Tell(d, RUN_SKIPPED, "changed since the run: left alone");
      return;
    }
    LPWSTR own = info->usri3_script_path;
    std::wstring newPath = before;
    info->usri3_script_path = &newPath[0];
    info->usri3_flags = restoredFlags;
    NET_API_STATUS written = g_NetApi.NetUserSetInfo(nullptr, name.c_str(), 3, buffer, nullptr);
    info->usri3_script_path = own;
    g_NetApi.NetApiBufferFree(buffer);
    if (written != NERR_Success) {
      Tell(d, RUN_FAILED, "account not written", written);
      return;
    }
    _NCOvLogUtility::Warning("[Undo]  UserName %s  script path restored", accountAnsi.c_str());
    ++counts->succeeded;
    d.after = beforeAnsi.c_str();
    d.flagsAfter = restoredFlags;
    DeleteWrittenWrapper(row, d, before, wrapperPath, wrapperAnsi);
    Tell(d, RUN_CHANGED, "restored to its script before the run");
  }

  // A staged file the run created goes once nothing runs the product's batches.
  void StagedFile(const RecordRow& row, bool accountsDone) {
    std::string path = AnsiString(Wide(row.file).c_str());
    FileDecision d;
    d.path = path.c_str();
    if (row.fileAction == "replaced") {
      d.result = RUN_SKIPPED;
      d.reason = "replaced by the run: its earlier contents are not kept";
    } else if (row.fileAction == "deleted") {
      d.result = RUN_SKIPPED;
      d.reason = "deleted by the run's clean-up: stage it again with an add run";
    } else if (row.fileAction != "created" || row.result != "changed") {
      return;
    } else if (!FileExists(path)) {
      d.result = RUN_UNCHANGED;
      d.reason = "already gone";
    } else if (!accountsDone) {
      d.result = RUN_SKIPPED;
      d.reason = "an account was not restored: file kept";
    } else {
      d.action = FILE_DELETED;
      d.existed = TRUE;
      BOOL deleted = DeleteFileForce(path.c_str());
      d.result = deleted ? RUN_CHANGED : RUN_FAILED;
      d.error = deleted ? 0 : QelGetLastError();
      d.reason = deleted ? "created by the run: deleted" : "delete failed";
    }
    if (observer_ != nullptr) observer_->OnFile(d);
  }

 private:
  void DeleteWrittenWrapper(const RecordRow& row, AccountDecision& d, const std::wstring& nowNamed,
                            const std::string& wrapperPath, const std::string& wrapperAnsi) {
    if (row.fileAction != "written" || wrapperPath.empty()) return;
    if (SameNoCase(nowNamed, Wide(row.file)) || !FileExists(wrapperPath)) return;
    if (DeleteFileForce(wrapperPath.c_str())) {
      d.fileAction = FILE_DELETED;
      d.file = wrapperAnsi.c_str();
    }
  }

  void Tell(AccountDecision& d, int result, const char* reason, DWORD error = 0) {
    d.result = result;
    d.reason = reason;
    d.error = error;
    if (observer_ != nullptr) observer_->OnAccount(d);
  }

  const char* scriptsDir_;
  IRunObserver* observer_;
};

}  // namespace

bool CheckUndoRecord(const std::string& name, const std::vector<RecordRow>& rows, const char* controller,
                     std::string* error) {
  for (const RecordRow& row : rows) {
    auto fail = [&](const std::string& why) {
      *error = name + ":" + std::to_string(row.line) + ": " + why;
      return false;
    };
    if (row.controller != controller)
      return fail("the record is of domain controller \"" + row.controller + "\", this is \"" + controller + "\"");
    if (!IsAccountRow(row) || row.result != "changed") continue;
    DWORD flags = 0;
    if (!ParseFlags(row.flagsBefore, &flags) || !ParseFlags(row.flagsAfter, &flags))
      return fail("a changed account without its flags");
  }
  return true;
}

UndoCounts UndoFromRecord(const std::vector<RecordRow>& rows, const char* scriptsDir, IRunObserver* observer) {
  UndoCounts counts;
  Undoer undoer(scriptsDir, observer);
  for (const RecordRow& row : rows)
    if (IsAccountRow(row) && row.result == "changed") undoer.Account(row, &counts);
  // The files the run created were not there before it: once every account
  // it changed is back as it was, they go too, as they were absent then.
  bool accountsDone = counts.succeeded == counts.total;
  for (const RecordRow& row : rows)
    if (!IsAccountRow(row)) undoer.StagedFile(row, accountsDone);
  return counts;
}

}  // namespace qel
