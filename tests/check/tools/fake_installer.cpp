// check_fake_installer: stands in for QelSetup.exe in the checker's tests.
// Each start appends one line to "QelSetup.started" beside the program: the
// command line as the program received it (Windows: GetCommandLineA; host:
// the arguments, the program first, separated by single blanks). Ends at once.
#include <stdio.h>
#include <string.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
  std::string self;
  std::string line;
#ifdef _WIN32
  (void)argc;
  (void)argv;
  char module[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof(module));
  self.assign(module, n < sizeof(module) ? n : 0);
  line = GetCommandLineA();
  const char separator = '\\';
#else
  self = argv[0];
  for (int i = 0; i < argc; ++i) {
    if (i > 0) line += ' ';
    line += argv[i];
  }
  const char separator = '/';
#endif
  size_t cut = self.find_last_of(separator);
  std::string record = (cut == std::string::npos ? std::string() : self.substr(0, cut + 1)) + "QelSetup.started";
  FILE* out = fopen(record.c_str(), "ab");
  if (out == nullptr) return 1;
  fprintf(out, "%s\n", line.c_str());
  fclose(out);
  return 0;
}
