#!/usr/bin/env bash
# Installs what is missing, builds a normal and an ASan+UBSan tree and runs every test in both, then
# the Windows build under Wine, a short run of every fuzz target, and the packages built and installed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
scripts/build.sh build-asan -DKOVEX_SANITIZE=ON
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
echo "== normal build"
(cd build && ctest -j2 --output-on-failure) || status=1
echo "== ASan+UBSan build"
(cd build-asan && ctest -j2 --output-on-failure) || status=1
echo "== Windows build, tests under Wine"
scripts/test-windows.sh || status=1
echo "== fuzzing (about 30 s per target)"
scripts/fuzz.sh || status=1
echo "== Debian package: built, checked by lintian and against its layout, installed in a throwaway root"
{ scripts/package.sh && tests/package/check_package.sh dist . &&
  tests/package/install_test.sh dist/kovexfuel_*.deb build-pkg/install-test; } || status=1
exit $status
