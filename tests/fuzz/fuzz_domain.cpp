// The domain file with its journal. The input is the file, optionally
// followed by a line "%journal" and the journal's text.
//
// Properties: a store that only reads changes neither file; what loads,
// written out and read again, is the same domain; a load that folds the
// journal writes exactly that domain and drops the journal; what is refused
// is refused with a reason and leaves both files as they were.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/domain/domain_store.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qel;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string marker = "\n%journal\n";
  const size_t cut = input.find(marker);
  const std::string file = input.substr(0, cut);
  const bool hasJournal = cut != std::string::npos;
  const std::string journal = hasJournal ? input.substr(cut + marker.size()) : std::string();

  const std::string path = fuzz::ScratchFolder() + "/domain.ldif";
  const std::string journalPath = path + ".journal";
  std::error_code ec;
  std::filesystem::remove(journalPath, ec);
  Write(path, file);
  if (hasJournal) Write(journalPath, journal);
  auto unchanged = [&] {
    return Read(path) == file && std::filesystem::exists(journalPath) == hasJournal &&
           (!hasJournal || Read(journalPath) == journal);
  };

  DomainStore::Options readOnly;
  readOnly.readOnly = true;
  DomainStore reader(readOnly);
  DomainError error;
  const bool loaded = reader.Load(path, &error);
  FUZZ_CHECK(unchanged(), "a read-only load changed the files");
  if (!loaded) {
    FUZZ_CHECK(!error.reason.empty() && (error.file == path || error.file == journalPath), error.ToString());
    DomainStore writer;
    FUZZ_CHECK(!writer.Load(path, &error), "refused read-only, loaded for writing");
    FUZZ_CHECK(unchanged(), "a refused load changed the files");
    return 0;
  }
  const std::string model = reader.ToLdif();

  DomainStore again;
  FUZZ_CHECK(again.LoadText(model, "model", &error), "the written domain does not load: " + error.ToString());
  FUZZ_CHECK(again.ToLdif() == model, "the written domain reads back as another");

  DomainStore writer;
  FUZZ_CHECK(writer.Load(path, &error), "loaded read-only, refused for writing: " + error.ToString());
  FUZZ_CHECK(writer.ToLdif() == model, "the two loads differ");
  FUZZ_CHECK(writer.Close(&error), error.ToString());
  if (hasJournal) {
    FUZZ_CHECK(Read(path) == model, "the folded file is not the domain");
    FUZZ_CHECK(!std::filesystem::exists(journalPath), "the folded journal is still there");
  } else {
    FUZZ_CHECK(Read(path) == file, "a load without a journal rewrote the file");
  }
  return 0;
}
