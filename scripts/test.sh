#!/usr/bin/env bash
# Every test of Ventora in one command: installs what is missing, builds the Windows side
# (ventora.exe, its tools, the test driver), the native side and the fuzz targets, then runs the
# native unit tests, the Wine suites against the real ventora.exe, the Windows-side unit tests
# under Wine, and the fuzz targets for their fixed budget. Prints a summary; exits non-zero when
# any step failed.
set -uo pipefail
cd "$(dirname "$0")/.."

# Two jobs fit two cores; each Wine suite has its own display, prefix and wineserver, so suites
# running side by side do not meet.
jobs=${VENTORA_TEST_JOBS:-2}

bash scripts/setup.sh || exit 1

results=()
failed=0
ctest_log=$(mktemp)
trap 'rm -f "$ctest_log"' EXIT

# Each ctest run's closing count, kept for the one-line total at the end.
run_ctest() {
    ctest "$@" 2>&1 | tee -a "$ctest_log"
    return "${PIPESTATUS[0]}"
}

step() {
    local name=$1
    shift
    echo
    echo "=== $name"
    local start=$SECONDS
    if "$@"; then
        results+=("ok      $name ($((SECONDS - start)) s)")
    else
        results+=("FAILED  $name ($((SECONDS - start)) s)")
        failed=1
    fi
}

build() {
    local preset=$1
    cmake --preset "$preset" && cmake --build --preset "$preset"
}

windows_unit_tests() {
    # Registered in the cross build and run through Wine, in a prefix of their own.
    if [[ ! -f build/windows/tests/CTestTestfile.cmake ]] || ! grep -q add_test build/windows/tests/CTestTestfile.cmake; then
        echo "no Windows-side unit tests registered"
        return 0
    fi
    python3 -m tests.wine.harness exec ctest --test-dir build/windows/tests --output-on-failure 2>&1 | tee -a "$ctest_log"
    return "${PIPESTATUS[0]}"
}

# The firmware first: ventora-board.exe in the Windows build carries its images.
step "build firmware" build firmware
failed_before=$failed
failed=0
step "build windows" build windows
windows_built=$((failed == 0))
failed=$((failed || failed_before))
step "build native" build native
step "build fuzz" build fuzz

step "native unit tests" run_ctest --test-dir build/native/tests -LE wine -j "$jobs" --output-on-failure --no-tests=error
if ((windows_built)); then
    step "Wine suites" run_ctest --test-dir build/native/tests -L wine -j "$jobs" --output-on-failure --no-tests=error
    step "Windows unit tests under Wine" windows_unit_tests
else
    results+=("FAILED  Wine suites (not run: the Windows build failed)")
    failed=1
fi
step "fuzz targets" run_ctest --test-dir build/fuzz/tests -j "$jobs" --output-on-failure --no-tests=error

echo
echo "=== summary"
printf '%s\n' "${results[@]}"
if ((failed)); then
    echo "some steps FAILED"
else
    echo "all steps passed"
fi
# The closing count of every ctest run above, summed: the last line, for whoever reads the end.
read -r passed failed_tests < <(sed -n 's/.*tests passed, \([0-9]*\) tests\? failed out of \([0-9]*\).*/\1 \2/p' "$ctest_log" |
    awk '{failed += $1; total += $2} END {print total - failed, failed + 0}')
echo "${passed:-0} passed, ${failed_tests:-0} failed"
exit "$failed"
