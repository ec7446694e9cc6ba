#!/usr/bin/env bash
# Installs the dependencies, builds both configurations and runs every test: the stand-ins'
# self-test, then the release build's and the sanitizer build's (AddressSanitizer, UBSan) tests,
# each under a private display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh release
bash scripts/build.sh sanitize

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$PWD/tests/sanitizers/ubsan.supp

status=0
echo "== stand-ins of the plant: self-test"
bash standins/selftest.sh || status=1

for config in release sanitize; do
  echo "== tests: $config"
  bash scripts/with-display.sh ctest --test-dir "build/$config" --output-on-failure -j 2 || status=1
done
exit $status
