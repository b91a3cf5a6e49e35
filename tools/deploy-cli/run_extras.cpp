#include "tools/deploy-cli/run_extras.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "deploy/run_undo.h"
#include "deploy/script_deployer.h"
#include "log/log_utility.h"
#include "platform/domain/domain_text.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace qel {

namespace {

// A string of the table as UTF-8 for the terminal, "%s" filled with value.
std::string Say(UINT id, const std::string& value = std::string()) {
  wchar_t wide[512] = {};
  LoadResStringW(id, wide, 512);
  std::string text = WideToUtf8(wide);
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

std::string Completed(int total, int succeeded) {
  char format[256] = {};
  LoadResString(IDS_RESULT, format, sizeof format);
  char result[sizeof format + 32];
  std::snprintf(result, sizeof result, format, total, succeeded);
  char completed[64] = {};
  LoadResString(IDS_COMPLETED, completed, sizeof completed);
  return AnsiToUtf8Text(completed) + AnsiToUtf8Text(result);
}

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Summary(const std::string& operation, bool whatIf, int total, int succeeded) {
  return "{\"type\":\"summary\",\"operation\":" + JsonString(operation) +
         ",\"what_if\":" + (whatIf ? "true" : "false") + ",\"total\":" + std::to_string(total) +
         ",\"succeeded\":" + std::to_string(succeeded) + "}";
}

// The record's place as the administrator finds it on this machine.
std::string Shown(const HostConfig& config, const std::string& windowsPath) {
  std::string host = HostPathOf(config, windowsPath);
  return host.empty() ? AnsiToUtf8Text(windowsPath.c_str()) : host;
}

// Opens a record in the log's folder, or says why not.
std::unique_ptr<RunRecord> OpenRecord(const std::string& operation, const char* controller, const HostConfig& config) {
  char folder[MAX_PATH] = {};
  GetLogDirectory(folder);
  std::unique_ptr<RunRecord> record(new RunRecord(operation, controller));
  if (!record->Open(folder)) {
    std::fprintf(stderr, "qel-deploy: %s (error %lu)\n", Say(IDS_RECORD_FAILED, Shown(config, folder)).c_str(),
                 static_cast<unsigned long>(QelGetLastError()));
    return nullptr;
  }
  return record;
}

}  // namespace

RunExtras::RunExtras(std::string operation, bool whatIf, bool json, const HostConfig& config)
    : operation_(std::move(operation)), json_(json), config_(config) {
  if (whatIf) whatIf_.reset(new ScopedWhatIf);
}

RunExtras::~RunExtras() = default;

bool RunExtras::Begin(const char* controller) {
  if (whatIf_) {
    listing_.reset(new ListingObserver(operation_, json_, PrintLine));
    if (!json_) PrintLine(Say(IDS_WHATIF_HEADING));
  } else {
    record_ = OpenRecord(operation_, controller, config_);
    if (!record_) return false;
  }
  observer_.reset(new ObserverPair(listing_.get(), record_.get()));
  return true;
}

void RunExtras::End(int total, int succeeded) {
  if (json_) {
    PrintLine(Summary(operation_, whatIf_ != nullptr, total, succeeded));
    return;
  }
  if (whatIf_) PrintLine(Say(IDS_WHATIF_DONE));
  if (record_) {
    PrintLine(Say(IDS_RUN_RECORD, Shown(config_, record_->Path())));
    if (record_->LostRows() > 0)
      std::fprintf(stderr, "qel-deploy: %d rows could not be written to the run record\n", record_->LostRows());
  }
}

int RunUndo(const std::string& recordFile, bool whatIf, bool json, const HostConfig& config) {
  std::ifstream in(recordFile, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "qel-deploy: %s: cannot be read\n", recordFile.c_str());
    return 2;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::vector<RecordRow> rows;
  std::string error;
  if (!ParseRunRecord(recordFile, text.str(), &rows, &error)) {
    std::fprintf(stderr, "qel-deploy: %s\n", error.c_str());
    return 2;
  }
  CScriptDeployer engine;
  engine.Init(nullptr, nullptr, nullptr);
  if (engine.m_szScriptsDir[0] == '\0' || engine.m_szComputerName[0] == '\0') {
    std::fprintf(stderr, "qel-deploy: the NETLOGON scripts folder of this controller is unknown\n");
    return 1;
  }
  if (!CheckUndoRecord(recordFile, rows, engine.m_szComputerName, &error)) {
    std::fprintf(stderr, "qel-deploy: %s\n", error.c_str());
    return 2;
  }

  std::unique_ptr<ScopedWhatIf> scope;
  std::unique_ptr<RunRecord> record;
  if (whatIf) {
    scope.reset(new ScopedWhatIf);
  } else {
    record = OpenRecord("undo", engine.m_szComputerName, config);
    if (!record) return 1;
  }
  ListingObserver listing("undo", json, PrintLine);
  ObserverPair observer(whatIf || json ? &listing : nullptr, record.get());
  if (!json) {
    if (whatIf) PrintLine(Say(IDS_WHATIF_HEADING));
    PrintLine(Say(IDS_UNDO_HEADING, recordFile));
  }
  // Without --what-if the lines come from the listing too: an undo is short
  // and the administrator wants to see each account.
  ListingObserver shown("undo", false, PrintLine);
  ObserverPair all(&observer, whatIf || json ? nullptr : &shown);
  UndoCounts counts = UndoFromRecord(rows, engine.m_szScriptsDir, &all);
  if (json) {
    PrintLine(Summary("undo", whatIf, counts.total, counts.succeeded));
  } else {
    PrintLine(Completed(counts.total, counts.succeeded));
    if (whatIf) PrintLine(Say(IDS_WHATIF_DONE));
    if (record) PrintLine(Say(IDS_RUN_RECORD, Shown(config, record->Path())));
  }
  return counts.succeeded == counts.total ? 0 : 3;
}

std::string AccountListJson(const std::string& name, const std::string& script, DWORD flags) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(flags));
  return "{\"account\":" + JsonString(name) + ",\"script_path\":" + JsonString(script) +
         ",\"flags\":" + JsonString(hex) + "}";
}

}  // namespace qel
