#!/usr/bin/env bash
# Installs what is missing, builds every tree and runs every test:
#  - the Windows i686 build: checked without running it (machine type,
#    imports, manifest, version, engines); where this host runs 32-bit Windows
#    programs also its tests under Wine and the end-to-end run of quarn.exe,
#  - the Windows x86_64 build: the same checks, all its tests under Wine and
#    the end-to-end run of the 64-bit quarn.exe under Wine + Xvfb,
#  - the release packages (scripts/package.sh), installed, run and removed
#    under Wine: the 64-bit ones always, the 32-bit ones where they can run,
#  - the native zip engine tests under AddressSanitizer + UndefinedBehaviorSanitizer,
#  - a short libFuzzer run over the zip reader (QUARN_FUZZ_SECONDS, default 60).
# A step this host cannot run is reported as skipped, with the reason. Ends with
# one line "N passed, N failed, N skipped".
#
# QUARN_64_ONLY=1 takes the path of a host that runs no 32-bit programs on one
# that could (see cmake/wine.sh).
set -uo pipefail
cd "$(dirname "$0")"

passed=0
failed=0
skipped=0
logs=build/test-logs
fail() { echo "FAILED: $1" >&2; failed=$((failed + 1)); }
skip() { echo "SKIPPED: $1"; skipped=$((skipped + 1)); }
started=$SECONDS
step() { echo "== $1  [$((SECONDS - started)) s]"; }

./scripts/install-deps.sh || { echo "dependency installation failed" >&2; echo "0 passed, 1 failed, 0 skipped"; exit 1; }
mkdir -p "$logs"

# shellcheck source=cmake/wine.sh
source cmake/wine.sh
no32=$(quarn_win32_why)
if [ -z "$no32" ]; then
  echo "== this host runs 32-bit Windows programs: the i686 and the x86_64 build are tested"
else
  echo "== 32-bit Windows programs cannot run here: $no32"
  echo "== the i686 build is built and checked, its runtime tests are skipped; the x86_64 build is tested"
fi

# Adds the counts of a ctest run (read from its summary line) to the totals.
count_ctest() {
  local log=$1 line total bad
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then fail "no test summary in $log"; return; fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

run_ctest() {  # name build-dir
  local log="$logs/$1.log" retries="$2/wine-run-retries.log"
  rm -f "$retries"
  ctest --test-dir "$2" -j2 --output-on-failure >"$log" 2>&1
  grep -E '\*\*\*(Failed|Timeout|Exception)|Not Run' "$log" >&2 || true
  grep -E '% tests passed' "$log" | tail -n 1
  if [ -s "$retries" ]; then
    echo "note: $(wc -l <"$retries") program(s) ended silently before their first line under Wine and were started again ($retries)"
  fi
  count_ctest "$log"
}

# Runs a step that prints one line per case and closes with "N passed, N
# failed", and adds its counts to the totals.
run_counted() {  # label log command...
  local label=$1 log=$2 line
  shift 2
  "$@" >"$log" 2>&1
  # Failures, skips and notes, each failure with the reasons the log gives under it.
  awk '/^(FAIL|SKIP|note: )/ { shown = /^FAIL/; print; next } /^(PASS|[^ ])/ { shown = 0 } shown && /^ +- / { print }' \
    "$log" >&2
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    echo "$label: $line"
    passed=$((passed + $(sed -E 's/^([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
  else
    tail -n 20 "$log" >&2
    fail "$label printed no summary"
  fi
}

# The dependency set-up on a day when apt refuses the 32-bit set, with
# stand-ins for apt and dpkg (nothing on this machine is touched).
run_counted "dependency set-up" "$logs/install-deps-test.log" tests/deps/install-deps-test.sh

# The checks of archives larger than 4 GiB (made once in the build folder when
# the disk has room; the tests say so when skipped) take minutes of disk: they
# run in one build, the 32-bit one where it runs, whose limits they are about.
large=${QUARN_7Z_LARGE:-1}
large_arch=x86_64
[ -z "$no32" ] && large_arch=i686

# One Windows build: built, checked without running, then (when this host can
# run it) its ctest suite and the end-to-end run.
windows_build() {  # arch
  local arch=$1
  step "Windows $arch: build and static checks"
  if ! scripts/build.sh "$arch" >"$logs/build-$arch.log" 2>&1; then
    tail -n 30 "$logs/build-$arch.log" >&2
    fail "$arch build"
    return
  fi
  run_counted "$arch programs" "$logs/programs-$arch.log" scripts/check-programs.sh "build/$arch"
  if [ "$arch" = i686 ] && [ -n "$no32" ]; then
    skip "Windows i686: tests under Wine ($no32)"
    skip "Windows i686: end to end ($no32)"
    return
  fi
  step "Windows $arch: tests under Wine"
  local big=0
  [ "$arch" = "$large_arch" ] && big=$large
  QUARN_7Z_LARGE=$big QUARN_7Z_LARGE_FULL=${QUARN_7Z_LARGE_FULL:-$big} run_ctest "$arch" "build/$arch"
  step "Windows $arch: end to end, the real program under Wine + Xvfb"
  run_counted "$arch e2e" "$logs/e2e-$arch.log" tests/e2e/run-e2e.sh "build/$arch"
}

windows_build i686
windows_build x86_64

step "release packages: made, then installed, run and removed under Wine"
if scripts/package.sh >"$logs/package.log" 2>&1; then
  cat "$logs/package.log"
  run_counted "x86_64 packages" "$logs/package-tests-x86_64.log" tests/package/run-package-tests.sh build/x86_64 dist
  if [ -z "$no32" ]; then
    run_counted "i686 packages" "$logs/package-tests-i686.log" tests/package/run-package-tests.sh build/i686 dist
  else
    skip "the 32-bit installer and portable zip under Wine ($no32)"
  fi
else
  tail -n 20 "$logs/package.log" >&2
  fail "scripts/package.sh"
fi

step "native: zip engine under ASan + UBSan"
if scripts/build.sh native >"$logs/build-native.log" 2>&1; then
  run_ctest native build/native
  step "native: fuzzing the zip reader"
  if tests/fuzz/run-fuzzer.sh build/native "${QUARN_FUZZ_SECONDS:-60}" >"$logs/fuzz.log" 2>&1; then
    tail -n 2 "$logs/fuzz.log"
    passed=$((passed + 1))
  else
    tail -n 40 "$logs/fuzz.log" >&2
    fail "fuzzing"
  fi
else
  tail -n 30 "$logs/build-native.log" >&2
  fail "native build"
fi

step "done"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
