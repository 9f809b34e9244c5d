#!/usr/bin/env bash
# Runs every test once (no retries) and ends with the tests that were skipped and why, so a run
# that passed by skipping is seen as such. Arguments after the build folder go to ctest.
set -uo pipefail
build=${1:-build-asan}
shift || true
cd "$build" || exit 1
ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "${JOBS:-$(nproc)}" --timeout 300 "$@" < /dev/null
status=$?

log=Testing/Temporary/LastTest.log
if [ -f "$log" ]; then
  # A GoogleTest skip prints "<file>:<line>: Skipped", its reason, then "[  SKIPPED ] <name> (".
  skips=$(awk '
    /: Skipped$/ { reason = ""; inskip = 1; next }
    inskip && /^\[  SKIPPED \] .* \(/ { name = $4; print name ": " (reason == "" ? "(no reason given)" : reason); inskip = 0; next }
    inskip { reason = (reason == "" ? $0 : reason " " $0) }
  ' "$log")
  if [ -n "$skips" ]; then
    echo
    echo "Skipped tests ($(printf '%s\n' "$skips" | wc -l)):"
    printf '%s\n' "$skips" | sort | sed 's/^/  /'
  else
    echo
    echo "No test was skipped."
  fi
fi
exit $status
