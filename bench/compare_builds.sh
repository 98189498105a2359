#!/usr/bin/env bash
# Which of two builds runs faster, on a machine shared with others.
#
#   bench/compare_builds.sh [--runs N] [--program NAME] BIN_DIR_A BIN_DIR_B [ARGS_FILE]
#
# Runs the program (default tolvanex) of both builds in alternation, N times
# each (default 15), on one argument file (default: bench/phys_t3.args, a
# glutathione run), and prints for each build the fastest, the lower-quartile and the
# median user CPU time per iteration, in nanoseconds. On the shared virtual
# machines of this project the median drifts by 10 % or more from one minute
# to the next, and even two copies of one binary can differ by 4 ns in their
# fastest runs: trust a difference only when all three figures agree on it,
# and repeat the comparison.
#
# Both builds must write the same console output (the run's iterations and
# every reported figure): a build whose results differ is not compared.
set -u
runs=15; program=tolvanex
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2;;
    --program) program=$2; shift 2;;
    *) break;;
  esac
done
usage="usage: $0 [--runs N] [--program NAME] BIN_DIR_A BIN_DIR_B [ARGS_FILE]"
a=$(cd "${1:?$usage}" && pwd)/$program
b=$(cd "${2:?$usage}" && pwd)/$program
root=$(cd "$(dirname "$0")/.." && pwd)
args_file=${3:-$root/bench/phys_t3.args}
for bin in "$a" "$b"; do
  [ -x "$bin" ] || { echo "$0: $bin not found" >&2; exit 1; }
done
[ -f "$args_file" ] || { echo "$0: $args_file not found" >&2; exit 1; }
eval "args=($(grep -v '^#' "$args_file"))"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

# One run in a fresh folder; prints the user CPU seconds, keeps the console.
user_seconds() {
  rm -rf "$work/run"; mkdir "$work/run"
  local TIMEFORMAT=%U
  { time (cd "$work/run" && "$1" "${args[@]}" >console.txt 2>/dev/null); } 2>&1
  cp "$work/run/console.txt" "$2"
}

times_a=(); times_b=()
for _ in $(seq "$runs"); do
  times_a+=("$(user_seconds "$a" "$work/console_a.txt")")
  times_b+=("$(user_seconds "$b" "$work/console_b.txt")")
  if ! cmp -s "$work/console_a.txt" "$work/console_b.txt"; then
    echo "$0: the two builds write different console output; not compared" >&2
    exit 1
  fi
done
iterations=$(grep 'total iterations' "$work/console_a.txt" | tail -n 1 | awk '{print $3}')
[ -n "$iterations" ] || { echo "$0: no total iterations in the console output" >&2; exit 1; }

summary() {
  printf '%s\n' "${@:2}" | sort -g |
    awk -v n="$iterations" -v name="$1" '{t[NR] = $1 / n * 1e9}
      END {printf "%-40s fastest %6.1f  lower quartile %6.1f  median %6.1f  ns/iter\n",
           name, t[1], t[int((NR + 3) / 4)], t[int((NR + 1) / 2)]}'
}
echo "$(basename "$args_file" .args): $iterations iterations, $runs runs of each, in alternation"
summary "$a" "${times_a[@]}"
summary "$b" "${times_b[@]}"
