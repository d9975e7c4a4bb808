#!/usr/bin/env bash
# Installs what is missing, builds every tree and runs every test:
#  - the Windows (i686) build's tests under Wine, including the engine DLL checks,
#  - the end-to-end run of quarn.exe under Wine + Xvfb (tests/e2e),
#  - the Windows x86_64 build (built, not run),
#  - the release packages (scripts/package.sh), installed, run and removed under
#    Wine (tests/package),
#  - the native zip engine tests under AddressSanitizer + UndefinedBehaviorSanitizer,
#  - a short libFuzzer run over the zip reader (QUARN_FUZZ_SECONDS, default 60).
# Ends with one line "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")"

passed=0
failed=0
logs=build/test-logs
fail() { echo "FAILED: $1" >&2; failed=$((failed + 1)); }

./scripts/install-deps.sh || { echo "dependency installation failed" >&2; echo "0 passed, 1 failed"; exit 1; }
mkdir -p "$logs"

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
  local log="$logs/$1.log"
  ctest --test-dir "$2" -j2 --output-on-failure >"$log" 2>&1
  grep -E '\*\*\*(Failed|Timeout|Exception)|Not Run' "$log" >&2 || true
  grep -E '% tests passed' "$log" | tail -n 1
  count_ctest "$log"
}

# The 7z tests read and extract an archive larger than 4 GiB, made once in the
# build folder when the disk has room for it (the test says so when skipped).
export QUARN_7Z_LARGE=${QUARN_7Z_LARGE:-1} QUARN_7Z_LARGE_FULL=${QUARN_7Z_LARGE_FULL:-1}

echo "== Windows i686: build, then tests under Wine"
if scripts/build.sh i686; then run_ctest i686 build/i686; else fail "i686 build"; fi

# Runs a step that prints one line per case and closes with "N passed, N
# failed", and adds its counts to the totals.
run_counted() {  # label log command...
  local label=$1 log=$2 line
  shift 2
  "$@" >"$log" 2>&1
  grep -E '^(PASS|FAIL|SKIP)' "$log" | grep -v '^PASS' >&2 || true
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

echo "== Windows i686: end to end, the real program under Wine + Xvfb"
if [ -f build/i686/bin/quarn.exe ]; then
  run_counted e2e "$logs/e2e.log" tests/e2e/run-e2e.sh build/i686
else
  fail "no quarn.exe to run end to end"
fi

echo "== Windows x86_64: build"
if scripts/build.sh x86_64; then passed=$((passed + 1)); else fail "x86_64 build"; fi

echo "== release packages: made, then installed, run and removed under Wine"
if scripts/package.sh >"$logs/package.log" 2>&1; then
  cat "$logs/package.log"
  run_counted packages "$logs/package-tests.log" tests/package/run-package-tests.sh build/i686 dist
else
  tail -n 20 "$logs/package.log" >&2
  fail "scripts/package.sh"
fi

echo "== native: zip engine under ASan + UBSan"
if scripts/build.sh native; then
  run_ctest native build/native
  echo "== native: fuzzing the zip reader"
  if tests/fuzz/run-fuzzer.sh build/native "${QUARN_FUZZ_SECONDS:-60}" >"$logs/fuzz.log" 2>&1; then
    tail -n 2 "$logs/fuzz.log"
    passed=$((passed + 1))
  else
    tail -n 40 "$logs/fuzz.log" >&2
    fail "fuzzing"
  fi
else
  fail "native build"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
