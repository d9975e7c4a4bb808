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
#     against the console programs one archive after another and two at a time;
#   - a folder of downloads, the same set as 200 archives of 10 files (100 zip,
#     60 7z, 40 RAR): Quarn's walk against one process of each console program
#     over the whole selection (as a file manager's "Extract to" does);
#   - each whole-set archive alone: Quarn against `7z x` / `unrar x`.
# Prints wall seconds, CPU seconds (user + system of the programs' processes),
# the CPU seconds of Wine's server meanwhile (it serves every file call), the
# ratios, Quarn's peak working set and, for the 200, the CPU per archive.
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

# A folder of downloads: the same set as 200 archives of 10 files each (100
# zip, 60 7z, 40 RAR), archive N holding the files 10N to 10N+9 under their
# folder.
small_kind() { if [ "$1" -lt 100 ]; then echo zip; elif [ "$1" -lt 160 ]; then echo 7z; else echo rar; fi; }
if [ ! -f "$work/small.done" ]; then
  rm -rf "$work/small" && mkdir -p "$work/small"
  for n in $(seq 0 199); do
    folder=$(printf 'd%02d' $((n / 10)))
    files=()
    for f in $(seq $((n * 10)) $((n * 10 + 9))); do files+=("$folder/$(cd "$work/set/$folder" && ls "$(printf 'f%04d' "$f")".*)"); done
    kind=$(small_kind "$n")
    pack "$kind" "$work/small/s$(printf '%03d' "$n").$kind" "${files[@]}"
  done
  touch "$work/small.done"
fi
small=()
for n in $(seq 0 199); do small+=("$work/small/s$(printf '%03d' "$n").$(small_kind "$n")"); done

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
# The console programs once over the whole selection, as a file manager's
# "Extract to *\" does: 7-Zip over the zips and 7z, UnRAR over the RARs, each
# archive into a folder named after it.
peers_one_process_each() {  # folder of archives
  local from
  from=$(winpath "$1")
  wine "$seven" x -bso0 -bsp0 -y -an "-ai!$from\\*.zip" "-ai!$from\\*.7z" -o"$(winpath "$work/out")\\*"
  wine "$unrar" x -idq -o+ -ad "$from\\*.rar" "$(winpath "$work/out")\\"
}
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
# CPU seconds of the Wine server the runs share (it serves every file call).
server_cpu_read() {
  local pid
  pid=$(pgrep -n -x wineserver64 || pgrep -n -x wineserver || true)
  [ -n "$pid" ] && awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$pid/stat" || echo 0
}
# One run of a command into an empty folder: "wall cpu server" in
# milliseconds (cpu: the programs' own; server: Wine's server's); its output
# stays in $work/last.txt.
one_run() {
  local t0 t1 c0 c1 s0 s1
  rm -rf "$work/out" && mkdir -p "$work/out"
  sync
  times >"$work/times.txt"
  c0=$(children_cpu_read)
  s0=$(server_cpu_read)
  t0=$(date +%s%N)
  "$@" >"$work/last.txt" 2>&1 || { cat "$work/last.txt" >&2; return 1; }
  t1=$(date +%s%N)
  times >"$work/times.txt"
  c1=$(children_cpu_read)
  s1=$(server_cpu_read)
  echo "$(( (t1 - t0) / 1000000 )) $(python3 -c "print(round(($c1 - $c0) * 1000), round(($s1 - $s0) * 1000))")"
}
# "wall cpu server" in seconds, the medians of the runs given as such lines.
medians() {
  python3 -c "import sys, statistics as s; r = [list(map(int, l.split())) for l in sys.stdin if l.strip()]; \
print(' '.join('%.2f' % (s.median(x[k] for x in r) / 1000) for k in range(3)))"
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
read -r qb qbc qbs < <(medians <<<"$qruns")
read -r pt ptc pts < <(medians <<<"$truns")
read -r p2 p2c p2s < <(medians <<<"$pruns")
one_run quarn "${batch[@]}" >/dev/null
for i in "${!kinds[@]}"; do
  for g in ${groups[$i]}; do same "$work/set/$g" "$work/out/part$i/$g"; done
done

cpu() { python3 -c "print(f'{$1 + $2:.2f}')"; }
printf '\n%-50s %8s %8s %9s %7s\n' "work" "wall s" "CPU s" "server s" "ratio"
printf '%-50s %8s %8s %9s %7s   peak %s MiB\n' "batch of 8 (3 zip, 3 7z, 2 RAR): Quarn" "$qb" "$qbc" "$qbs" "" "$((qpeak / 1048576))"
printf '%-50s %8s %8s %9s %7s\n' "  console programs one after another" "$pt" "$ptc" "$pts" "$(ratio "$qb" "$pt")"
printf '%-50s %8s %8s %9s %7s\n' "  console programs two at a time" "$p2" "$p2c" "$p2s" "$(ratio "$qb" "$p2")"

# The folder of downloads: Quarn's walk over the 200 against one process of
# each console program over the whole selection.
qruns="" oruns="" qpeak=0
for _ in $(seq "$runs"); do
  qruns+="$(one_run quarn "${small[@]}")"$'\n'
  qpeak=$(( $(peak) > qpeak ? $(peak) : qpeak ))
  oruns+="$(one_run peers_one_process_each "$work/small")"$'\n'
done
read -r qs qsc qss < <(medians <<<"$qruns")
read -r ps psc pss < <(medians <<<"$oruns")
one_run quarn "${small[@]}" >/dev/null
for n in $(seq 0 199); do
  folder=$(printf 'd%02d' $((n / 10)))
  for f in "$work/out/s$(printf '%03d' "$n")/$folder"/*; do cmp -s "$f" "$work/set/$folder/$(basename "$f")" || echo "$f differs" >&2; done
done
per() { python3 -c "print(f'{($1 + $2) * 1000 / 200:.1f}')"; }
printf '%-50s %8s %8s %9s %7s   peak %s MiB, CPU %s ms per archive\n' "200 archives of 10 files (100 zip, 60 7z, 40 RAR)" \
  "$qs" "$qsc" "$qss" "" "$((qpeak / 1048576))" "$(per "$qsc" "$qss")"
printf '%-50s %8s %8s %9s %7s   CPU %s ms per archive\n' "  console programs, one process each" "$ps" "$psc" "$pss" \
  "$(ratio "$qs" "$ps")" "$(per "$psc" "$pss")"

for kind in zip 7z rar; do
  a=$work/archives/set.$kind
  qruns="" pruns="" qpeak=0
  for _ in $(seq "$runs"); do
    qruns+="$(one_run quarn "$a")"$'\n'
    qpeak=$(( $(peak) > qpeak ? $(peak) : qpeak ))
    pruns+="$(one_run peer "$a")"$'\n'
  done
  read -r q qc qsv < <(medians <<<"$qruns")
  read -r p pc psv < <(medians <<<"$pruns")
  one_run quarn "$a" >/dev/null
  same "$work/set" "$work/out/set"
  label="one $kind of the whole set ($(( $(stat -c %s "$a") / 1000000 )) MB): Quarn"
  printf '%-50s %8s %8s %9s %7s   peak %s MiB\n' "$label" "$q" "$qc" "$qsv" "" "$((qpeak / 1048576))"
  printf '%-50s %8s %8s %9s %7s\n' "  $( [ "$kind" = rar ] && echo 'unrar x' || echo '7z x' )" "$p" "$pc" "$psv" \
    "$(ratio "$q" "$p")"
done
rm -rf "$work/out"
