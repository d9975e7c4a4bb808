#!/usr/bin/env bash
# A batch of archives of mixed kinds extracted by Quarn's walk against the
# console programs of 7-Zip and UnRAR on the same Wine: a benchmark, not a test.
#
#   scripts/bench-batch.sh [i686|x86_64]     (see bench-arch.sh for the default)
#
# Splits the benchmarks' set of 2,000 files / 200,000,000 bytes (bench/make_set.py)
# into 8 archives, 3 zip (Info-ZIP), 3 7z (7zz) and 2 RAR (rar), and makes one
# zip, one 7z and one RAR of the whole set. Builds 7z.exe (UI/Console of Debian's
# 7zip source, with the build's own 7z.dll beside it) and unrar.exe (UnRAR's
# console program from Debian's unrar-nonfree source) for the architecture timed,
# cached outside the tree. Then times, median of BENCH_RUNS (default 3) runs,
# process start included, each into an empty folder, Quarn's runs and the
# peers' taking turns:
#   - the batch: Quarn's walk (unzip_tool, as the Unzip button) over the 8,
#     against the console programs one archive after another (as 7-Zip's
#     "Extract to" over a selection does) and two at a time;
#   - each whole-set archive alone: Quarn against `7z x` / `unrar x`.
# Prints wall seconds, CPU seconds (user + system of the programs' processes;
# Wine's server is not counted for anyone), the ratios, and Quarn's peak working
# set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/bench-arch.sh"
# --- the peers ------------------------------------------------------------------
bench_unzip_setup bench-batch
unrar=$cache/unrar-$bench_arch/unrar.exe
bench_build_unrar "$unrar"

# --- the set and its archives ---------------------------------------------------
kinds=(zip 7z rar zip 7z rar zip 7z)
groups=("d00 d01 d02" "d03 d04" "d05 d06 d07" "d08 d09" "d10 d11 d12" "d13 d14" "d15 d16 d17" "d18 d19")
pack() {  # kind archive folders...
  local kind=$1 archive=$2
  shift 2
  case "$kind" in
    zip) (cd "$work/set" && zip -q -r -6 "$archive" "$@") ;;
    7z) (cd "$work/set" && 7zz a -bso0 -bsp0 "$archive" "$@" >/dev/null) ;;
    rar) (cd "$work/set" && rar a -idq -m3 "$archive" "$@") ;;
  esac
}
if [ ! -f "$work/archives.done" ]; then
  rm -rf "$work/set" "$work/archives" && mkdir -p "$work/set" "$work/archives"
  python3 "$root/bench/make_set.py" "$work/set"
  for i in "${!kinds[@]}"; do
    # shellcheck disable=SC2086
    pack "${kinds[$i]}" "$work/archives/part$i.${kinds[$i]}" ${groups[$i]}
  done
  # shellcheck disable=SC2046
  for kind in zip 7z rar; do pack "$kind" "$work/archives/set.$kind" $(cd "$work/set" && echo d*); done
  touch "$work/archives.done"
fi
batch=()
for i in "${!kinds[@]}"; do batch+=("$work/archives/part$i.${kinds[$i]}"); done

# --- timing ----------------------------------------------------------------------
bench_wine_start

quarn() {  # archives...
  local args=()
  for a in "$@"; do args+=("$(winpath "$a")"); done
  wine "$tool" "$(winpath "$work/out")" "${args[@]}"
}
peer() {  # archive: the console program of its kind, into a folder named after it
  local a=$1 name
  name=$(basename "${a%.*}")
  case "$a" in
    *.rar) mkdir -p "$work/out/$name" && wine "$unrar" x -idq -o+ "$(winpath "$a")" "$(winpath "$work/out/$name")\\" ;;
    *) wine "$seven" x -bso0 -bsp0 -y -o"$(winpath "$work/out/$name")" "$(winpath "$a")" ;;
  esac
}
peers_in_turn() { for a in "$@"; do peer "$a"; done; }
peers_two_at_a_time() {
  local a running=0
  for a in "$@"; do
    peer "$a" &
    running=$((running + 1))
    if [ "$running" -ge 2 ]; then wait -n; running=$((running - 1)); fi
  done
  wait
}

# CPU seconds (user + system) of this shell's children that have ended (run
# in this shell itself: a subshell starts with none).
children_cpu_read() {
  sed -n 2p "$work/times.txt" | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%.3f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
}
# One run of a command into an empty folder: "wall cpu" in milliseconds; its
# output stays in $work/last.txt.
one_run() {
  local t0 t1 c0 c1
  rm -rf "$work/out" && mkdir -p "$work/out"
  sync
  times >"$work/times.txt"
  c0=$(children_cpu_read)
  t0=$(date +%s%N)
  "$@" >"$work/last.txt" 2>&1 || { cat "$work/last.txt" >&2; return 1; }
  t1=$(date +%s%N)
  times >"$work/times.txt"
  c1=$(children_cpu_read)
  echo "$(( (t1 - t0) / 1000000 )) $(python3 -c "print(round(($c1 - $c0) * 1000))")"
}
# "wall cpu" in seconds, the medians of the runs given as "wall cpu" lines.
medians() {
  python3 -c "import sys, statistics as s; r = [list(map(int, l.split())) for l in sys.stdin if l.strip()]; \
print('%.2f %.2f' % (s.median(x[0] for x in r) / 1000, s.median(x[1] for x in r) / 1000))"
}
# Quarn's peak working set in the last run, in bytes.
peak() { sed -nE 's/^PEAK ([0-9]+).*/\1/p' "$work/last.txt" | tr -d '\r'; }
same() {  # the output of the last run is the set (or the folders given), byte for byte
  local expected=$1 got=$2
  diff -rq "$expected" "$got" >/dev/null || echo "the output in $got differs from $expected" >&2
}

quarn "${batch[@]}" >/dev/null 2>&1 || true  # Wine's services up
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }

# The runs of Quarn and of the peers take turns, so that the disk's state,
# which drifts over a benchmark, weighs on both alike.
qruns="" truns="" pruns="" qpeak=0
for _ in $(seq "$runs"); do
  qruns+="$(one_run quarn "${batch[@]}")"$'\n'
  qpeak=$(( $(peak) > qpeak ? $(peak) : qpeak ))
  truns+="$(one_run peers_in_turn "${batch[@]}")"$'\n'
  pruns+="$(one_run peers_two_at_a_time "${batch[@]}")"$'\n'
done
read -r qb qbc < <(medians <<<"$qruns")
read -r pt ptc < <(medians <<<"$truns")
read -r p2 p2c < <(medians <<<"$pruns")
one_run quarn "${batch[@]}" >/dev/null
for i in "${!kinds[@]}"; do
  for g in ${groups[$i]}; do same "$work/set/$g" "$work/out/part$i/$g"; done
done

printf '\n%-44s %8s %8s %12s\n' "work" "wall s" "CPU s" "ratio"
printf '%-44s %8s %8s %12s   peak %s MiB\n' "batch of 8 (3 zip, 3 7z, 2 RAR): Quarn" "$qb" "$qbc" "" "$((qpeak / 1048576))"
printf '%-44s %8s %8s %12s\n' "  console programs one after another" "$pt" "$ptc" "$(ratio "$qb" "$pt")"
printf '%-44s %8s %8s %12s\n' "  console programs two at a time" "$p2" "$p2c" "$(ratio "$qb" "$p2")"
for kind in zip 7z rar; do
  a=$work/archives/set.$kind
  qruns="" pruns="" qpeak=0
  for _ in $(seq "$runs"); do
    qruns+="$(one_run quarn "$a")"$'\n'
    qpeak=$(( $(peak) > qpeak ? $(peak) : qpeak ))
    pruns+="$(one_run peer "$a")"$'\n'
  done
  read -r q qc < <(medians <<<"$qruns")
  read -r p pc < <(medians <<<"$pruns")
  one_run quarn "$a" >/dev/null
  same "$work/set" "$work/out/set"
  label="one $kind of the whole set ($(( $(stat -c %s "$a") / 1000000 )) MB): Quarn"
  printf '%-44s %8s %8s %12s   peak %s MiB\n' "$label" "$q" "$qc" "" "$((qpeak / 1048576))"
  printf '%-44s %8s %8s %12s\n' "  $( [ "$kind" = rar ] && echo 'unrar x' || echo '7z x' )" "$p" "$pc" "$(ratio "$q" "$p")"
done
rm -rf "$work/out"
