#!/usr/bin/env bash
# What limits one iteration of tolvanex, by a model of the processor.
#
#   bench/model_iteration.sh [--skip N] [--cpu MCPU] BIN_DIR [ARGS_FILE]
#
# Runs BIN_DIR/tolvanex (build it with -g; default arguments:
# bench/phys_t3.args) under gdb, lets N iterations of the block loop pass
# (default 100000), then records the instructions of the next iteration as
# they execute, one by one. The recorded stream goes to llvm-mca, which
# models it on the given processor (default znver3) as if it repeated:
# cycles per iteration, the busiest execution resources and the pressure on
# each. On this project's machine the model's cycles came within a few
# percent of the measured time for the versions it was checked on; it does
# not see branch mispredictions or stalls in forwarding stored values, so
# time a change with bench/run_examples.sh before keeping it.
#
# Needs gdb and llvm-mca (Debian: llvm-14, as /usr/lib/llvm-14/bin/llvm-mca).
set -eu
skip=100000; cpu=znver3
while [ $# -gt 0 ]; do
  case $1 in
    --skip) skip=$2; shift 2;;
    --cpu) cpu=$2; shift 2;;
    *) break;;
  esac
done
bin=$(cd "${1:?usage: $0 [--skip N] [--cpu MCPU] BIN_DIR [ARGS_FILE]}" && pwd)/tolvanex
root=$(cd "$(dirname "$0")/.." && pwd)
args_file=${2:-$root/bench/phys_t3.args}
mca=$(command -v llvm-mca || echo /usr/lib/llvm-14/bin/llvm-mca)
command -v gdb >/dev/null || { echo "$0: gdb is not installed" >&2; exit 1; }
[ -x "$mca" ] || { echo "$0: llvm-mca is not installed" >&2; exit 1; }
eval "args=($(grep -v '^#' "$args_file"))"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

# The loop head: where the loop goes on after the iteration counter
# (incremented in eax, converted to double and compared with the block
# length): the target of the jump back, or the instruction after the jump
# out of the loop, in the copy of the block loop that this machine runs (the
# AVX-512 one where it can, else the AVX one).
variant=baseline
grep -qw avx /proc/cpuinfo 2>/dev/null && variant=avx
grep -qw avx512f /proc/cpuinfo 2>/dev/null && grep -qw avx512vl /proc/cpuinfo && variant=avx512
head=$(objdump -d --no-show-raw-insn "$bin" |
  awk -v v="$variant" '$0 ~ "<_ZN8tolvanex12_GLOBAL__N_1[0-9]+block_iterations_" v "ILNS_11FluxPruningE0" {f=1}
       f && /cvtsi2sd %eax,/ {c=6}
       next_one {sub(":", "", $1); print $1; exit}
       c > 0 && /\tja / {print $3; exit}
       c > 0 && /\tjbe / {next_one=1}
       c > 0 {c--}')
[ -n "$head" ] || { echo "$0: loop head not found in $bin" >&2; exit 1; }
base=$(cd "$work" && gdb -q -batch -ex starti -ex 'info proc mappings' --args "$bin" "${args[@]}" 2>/dev/null |
  awk -v b="$bin" '$NF == b {print $1; exit}')
addr=$(printf '0x%x' $((base + 0x$head)))
cat > "$work/record.gdb" <<EOF
set pagination off
set confirm off
starti
break *$addr
ignore 1 $skip
continue
set logging file $work/trace.txt
set logging redirect on
set logging enabled on
set \$n = 0
stepi
while (\$pc != $addr && \$n < 10000)
  x/i \$pc
  stepi
  set \$n = \$n + 1
end
set logging enabled off
kill
EOF
(cd "$work" && gdb -q -batch -x record.gdb --args "$bin" "${args[@]}" >/dev/null 2>&1) || true
[ -s "$work/trace.txt" ] || { echo "$0: no iteration recorded (did the run end first?)" >&2; exit 1; }

# gdb's listing to assembly llvm-mca reads: branches kept (pointing nowhere
# in particular), calls dropped.
/usr/bin/python3 - "$work/trace.txt" > "$work/iteration.s" <<'EOF'
import re, sys
for line in open(sys.argv[1]):
    m = re.match(r'^=>\s*0x[0-9a-f]+ <.*?\+\d+>:\s*(.*)$', line.rstrip())
    if not m:
        continue
    ins = re.sub(r'\s+#.*$', '', m.group(1))
    if ins.startswith('call'):
        continue
    if re.match(r'^j[a-z]+\s', ins):
        ins = ins.split()[0] + ' 1f'
    print(re.sub(r'<[^>]*>', '', ins))
print('1:')
EOF
echo "one iteration: $(grep -c . "$work/iteration.s") instructions recorded"
"$mca" -mcpu="$cpu" -iterations=100 --bottleneck-analysis -instruction-info=false -timeline=false \
  "$work/iteration.s" | sed -n '1,/Critical sequence/p' | sed '$d'
