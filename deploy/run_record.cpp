#include "deploy/run_record.h"

#include <cstdio>
#include <cstring>

#include "deploy/text_util.h"
#include "platform/ports.h"

namespace qel {

const char kRunRecordHeader[] =
    "time,operation,controller,account,distinguished_name,script_before,script_after,flags_before,flags_after,"
    "file_action,file,result,reason,file_text";

namespace {

const int kColumns = 14;
const char kBom[] = "\xEF\xBB\xBF";

// A wrapper batch is written or deleted with its account.
const char* WrapperWord(int action) {
  return action == FILE_WRITTEN ? "written" : action == FILE_DELETED ? "deleted" : "";
}

void AppendUtf8(std::string* out, unsigned long code) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string Quote(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string Now() {
  SYSTEMTIME time = {};
  System().GetLocalTime(&time);
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
                time.wMinute, time.wSecond);
  return text;
}

}  // namespace

const char* FileActionWord(int action, BOOL existed) {
  switch (action) {
    case FILE_WRITTEN:
      return existed ? "replaced" : "created";
    case FILE_DELETED:
      return "deleted";
    case FILE_KEPT:
      return "kept";
    default:
      return "";
  }
}

std::string FlagsHex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

std::string ReasonText(const char* reason, DWORD error) {
  std::string text = reason != nullptr ? reason : "";
  if (error != 0) text += " (error " + std::to_string(static_cast<unsigned long>(error)) + ")";
  return text;
}

const char* RunResultWord(int result) {
  switch (result) {
    case RUN_CHANGED:
      return "changed";
    case RUN_UNCHANGED:
      return "unchanged";
    case RUN_FAILED:
      return "failed";
    default:
      return "skipped";
  }
}

std::string WideToUtf8Text(const wchar_t* wide) {
  std::string out;
  if (wide == nullptr) return out;
  for (; *wide != L'\0'; ++wide) {
    unsigned long code = static_cast<unsigned long>(*wide);
    // UTF-16 (Windows) pairs; a lone half becomes U+FFFD.
    if (code >= 0xD800 && code < 0xDC00 && wide[1] >= 0xDC00 && wide[1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<unsigned long>(wide[1]) - 0xDC00);
      ++wide;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    AppendUtf8(&out, code);
  }
  return out;
}

std::string AnsiToUtf8Text(const char* ansi) {
  if (ansi == nullptr || *ansi == '\0') return std::string();
  return WideToUtf8Text(WideString(ansi).c_str());
}

bool Utf8ToWideText(const std::string& utf8, std::wstring* wide) {
  wide->clear();
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + extra >= utf8.size() + (extra == 0 ? 1 : 0)) return false;
    unsigned long code = extra == 0 ? c : (c & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    i += static_cast<size_t>(extra) + 1;
    if (sizeof(wchar_t) == 2 && code >= 0x10000) {
      *wide += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
      *wide += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      *wide += static_cast<wchar_t>(code);
    }
  }
  return true;
}

// ---------------------------------------------------------------- writing

RunRecord::RunRecord(std::string operation, std::string controller)
    : operation_(std::move(operation)), controller_(std::move(controller)) {}

RunRecord::~RunRecord() {
  if (file_ != INVALID_HANDLE_VALUE) Files().CloseFile(file_);
}

BOOL RunRecord::Open(const char* folder) {
  SYSTEMTIME time = {};
  System().GetLocalTime(&time);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
                time.wMinute, time.wSecond);
  for (int attempt = 1; attempt <= 100; ++attempt) {
    std::string path = std::string(folder) + "\\QelScript-" + stamp;
    if (attempt > 1) path += "-" + std::to_string(attempt);
    path += ".csv";
    if (OpenAt(path.c_str())) return TRUE;
    DWORD error = QelGetLastError();
    if (error != static_cast<DWORD>(ERROR_FILE_EXISTS) && error != static_cast<DWORD>(ERROR_ALREADY_EXISTS))
      return FALSE;
  }
  return FALSE;
}

BOOL RunRecord::OpenAt(const char* path) {
  // A new file only: an earlier record is never overwritten.
  HANDLE file = Files().CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  if (file_ != INVALID_HANDLE_VALUE) Files().CloseFile(file_);
  file_ = file;
  path_ = path;
  std::string header = std::string(kBom) + kRunRecordHeader + "\r\n";
  DWORD written = 0;
  if (!Files().WriteFile(file_, header.data(), static_cast<DWORD>(header.size()), &written) ||
      written != header.size()) {
    Files().CloseFile(file_);
    file_ = INVALID_HANDLE_VALUE;
    Files().DeleteFileA(path);
    return FALSE;
  }
  return TRUE;
}

void RunRecord::WriteRow(const std::vector<std::string>& fields) {
  if (file_ == INVALID_HANDLE_VALUE) {
    ++lost_;
    return;
  }
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += Quote(fields[i]);
  }
  line += "\r\n";
  // One write per row and no buffer of our own: what the run has done is on
  // disk even if the process is killed next.
  DWORD written = 0;
  if (!Files().WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written) || written != line.size())
    ++lost_;
}

void RunRecord::OnAccount(const AccountDecision& d) {
  WriteRow({Now(), operation_, controller_, AnsiToUtf8Text(d.account), WideToUtf8Text(d.dn), AnsiToUtf8Text(d.before),
            AnsiToUtf8Text(d.after), d.read ? FlagsHex(d.flagsBefore) : "", d.read ? FlagsHex(d.flagsAfter) : "",
            WrapperWord(d.fileAction), AnsiToUtf8Text(d.file), RunResultWord(d.result), ReasonText(d.reason, d.error),
            AnsiToUtf8Text(d.fileText)});
}

void RunRecord::OnFile(const FileDecision& d) {
  WriteRow({Now(), operation_, controller_, "", "", "", "", "", "", FileActionWord(d.action, d.existed),
            AnsiToUtf8Text(d.path), RunResultWord(d.result), ReasonText(d.reason, d.error), ""});
}

// ---------------------------------------------------------------- reading

bool ParseRunRecord(const std::string& name, const std::string& text, std::vector<RecordRow>* rows,
                    std::string* error) {
  rows->clear();
  auto fail = [&](int line, const std::string& why) {
    *error = name + ":" + std::to_string(line) + ": " + why;
    rows->clear();
    return false;
  };
  size_t at = 0;
  if (text.compare(0, 3, kBom) == 0) at = 3;
  int line = 1;
  std::vector<std::vector<std::string>> records;
  std::vector<int> lines;
  while (at < text.size()) {
    int rowLine = line;
    std::vector<std::string> fields(1);
    bool ended = false;
    while (at < text.size() && !ended) {
      char c = text[at];
      if (c == '"' && fields.back().empty()) {
        // A quoted field: up to the lone quote that closes it.
        ++at;
        bool closed = false;
        while (at < text.size()) {
          if (text[at] == '"') {
            if (at + 1 < text.size() && text[at + 1] == '"') {
              fields.back() += '"';
              at += 2;
              continue;
            }
            ++at;
            closed = true;
            break;
          }
          if (text[at] == '\n') ++line;
          fields.back() += text[at++];
        }
        if (!closed) return fail(rowLine, "a quoted field is not closed (the record is cut short)");
        if (at < text.size() && text[at] != ',' && text[at] != '\r' && text[at] != '\n')
          return fail(line, "text after a closing quote");
      } else if (c == ',') {
        fields.emplace_back();
        ++at;
      } else if (c == '\r' || c == '\n') {
        if (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ++at;
        ++at;
        ++line;
        ended = true;
      } else {
        fields.back() += c;
        ++at;
      }
    }
    if (!ended) return fail(rowLine, "the last row has no line end (the record is cut short)");
    records.push_back(std::move(fields));
    lines.push_back(rowLine);
  }
  if (records.empty()) return fail(1, "empty file, not a run record");
  std::string header;
  for (size_t i = 0; i < records[0].size(); ++i) header += (i > 0 ? "," : "") + records[0][i];
  if (header != kRunRecordHeader) return fail(1, "not a run record of this program (unexpected header)");
  for (size_t r = 1; r < records.size(); ++r) {
    const std::vector<std::string>& f = records[r];
    if (f.size() != static_cast<size_t>(kColumns))
      return fail(lines[r], std::to_string(f.size()) + " fields, a row has " + std::to_string(kColumns));
    RecordRow row;
    row.line = lines[r];
    row.time = f[0];
    row.operation = f[1];
    row.controller = f[2];
    row.account = f[3];
    row.dn = f[4];
    row.before = f[5];
    row.after = f[6];
    row.flagsBefore = f[7];
    row.flagsAfter = f[8];
    row.fileAction = f[9];
    row.file = f[10];
    row.result = f[11];
    row.reason = f[12];
    row.fileText = f[13];
    if (row.operation != "add" && row.operation != "remove" && row.operation != "undo")
      return fail(row.line, "unknown operation \"" + row.operation + "\"");
    if (row.result != "changed" && row.result != "unchanged" && row.result != "failed" && row.result != "skipped")
      return fail(row.line, "unknown result \"" + row.result + "\"");
    if (!rows->empty() && (row.controller != rows->front().controller || row.operation != rows->front().operation))
      return fail(row.line, "the row belongs to another run (controller or operation differs)");
    std::wstring check;
    for (const std::string* field : {&row.account, &row.before, &row.after, &row.file, &row.fileText})
      if (!Utf8ToWideText(*field, &check)) return fail(row.line, "text that is not UTF-8");
    rows->push_back(std::move(row));
  }
  return true;
}

}  // namespace qel
