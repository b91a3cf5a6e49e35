// --help and --version, answered the same way by every command-line program
// of the release.
#pragma once

namespace qel {

// The release's version, e.g. "1.0.0".
const char* ReleaseVersion();

// When the only argument is --help (or -h), prints `usage` to standard
// output; when it is --version, prints "<program> <version>". Returns true
// with the exit status in *status when it answered, false otherwise (the
// program then reads its arguments as usual, so a switch that takes a value
// keeps its meaning).
bool AnswerHelpOrVersion(int argc, char** argv, const char* program, const char* usage, int* status);

}  // namespace qel
