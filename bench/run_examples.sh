#!/usr/bin/env bash
# End-to-end speed of both programs on argument files.
#
#   bench/run_examples.sh [--runs N] [--no-callgrind] BIN_DIR [ARGS_FILE...]
#
# Default argument files: every example under examples/, and bench/phys_t3.args.
# For each file and program it prints the run's total iterations, the median wall time
# of N runs (default 5), nanoseconds per iteration and, where valgrind is
# installed, instructions per iteration counted by callgrind (deterministic:
# the same for the same binary and inputs, whatever else the machine does).
# Each run happens in a fresh temporary folder.
set -u
runs=5; callgrind=1
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2;;
    --no-callgrind) callgrind=0; shift;;
    *) break;;
  esac
done
bin=$(cd "${1:?usage: $0 [--runs N] [--no-callgrind] BIN_DIR [ARGS_FILE...]}" && pwd); shift
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -eq 0 ]; then
  set -- "$root"/examples/*.args "$root"/bench/phys_t3.args
fi
command -v valgrind >/dev/null || callgrind=0
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

printf '%-18s %-18s %14s %10s %10s %12s\n' example program iterations seconds ns/iter instr/iter
for args_file in "$@"; do
  name=$(basename "$args_file" .args)
  eval "args=($(grep -v '^#' "$args_file"))"
  for prog in tolvanex tolvanex_unpruned; do
    times=()
    for _ in $(seq "$runs"); do
      rm -rf "$work/run"; mkdir "$work/run"
      start=$(date +%s.%N)
      (cd "$work/run" && "$bin/$prog" "${args[@]}" >console.txt 2>/dev/null)
      end=$(date +%s.%N)
      times+=("$(echo "$end - $start" | bc -l)")
    done
    iterations=$(grep 'total iterations' "$work/run/console.txt" | tail -n 1 | awk '{print $3}')
    seconds=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    ns=$(awk -v s="$seconds" -v n="$iterations" 'BEGIN {printf "%.1f", s / n * 1e9}')
    instr=-
    if [ "$callgrind" = 1 ]; then
      rm -rf "$work/run"; mkdir "$work/run"
      (cd "$work/run" && valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        "$bin/$prog" "${args[@]}" >/dev/null 2>"$work/valgrind.txt")
      total=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/valgrind.txt")
      instr=$(awk -v t="$total" -v n="$iterations" 'BEGIN {printf "%.0f", t / n}')
    fi
    printf '%-18s %-18s %14s %10.3f %10s %12s\n' "$name" "$prog" "$iterations" "$seconds" "$ns" "$instr"
  done
done
