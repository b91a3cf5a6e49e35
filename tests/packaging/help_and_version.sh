#!/usr/bin/env bash
# help_and_version.sh VERSION PROGRAM...: each program, given --version
# alone, prints "<its name> VERSION" and exits 0; given --help alone, prints
# its usage on standard output and exits 0.
set -u
version=$1
shift
bad=0
for program in "$@"; do
  name=$(basename "$program")
  out=$("$program" --version 2>&1)
  status=$?
  [ "$status" = 0 ] && [ "$out" = "$name $version" ] ||
    { echo "$name --version: status $status, printed [$out], expected [$name $version]"; bad=1; }
  out=$("$program" --help 2>/dev/null)
  status=$?
  [ "$status" = 0 ] && [[ $out == usage:* ]] ||
    { echo "$name --help: status $status, printed [${out:0:60}]"; bad=1; }
done
exit $bad
