#!/usr/bin/env bash
# Golden outputs: every bundled example and every scenario here, run by both
# programs, must write the same bytes as the recorded outputs.
#
#   run_scenarios.sh check  BIN_DIR   compare with expected/ (exit 1 on a difference)
#   run_scenarios.sh record BIN_DIR   (re)write expected/ from BIN_DIR's programs
#
# The outputs were recorded from programs that matched the acceptance
# scenarios byte for byte, before any speed work; a faster inner loop must
# not change a single byte of them.
set -u
mode=${1:?check or record}; bin=$(cd "${2:?BIN_DIR}" && pwd) || exit 2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
failed=0; total=0
for args_file in "$root"/examples/*.args "$here"/scenarios/*.args; do
  name=$(basename "$args_file" .args)
  eval "args=($(grep -v '^#' "$args_file"))"
  trace=${args[${#args[@]}-1]}
  for prog in tolvanex tolvanex_unpruned; do
    total=$((total + 1))
    run=$work/$name.$prog; mkdir -p "$run"
    (cd "$run" && timeout 300 "$bin/$prog" "${args[@]}" >stdout 2>/dev/null; echo $? >rc)
    exp=$here/expected/$name
    if [ "$mode" = record ]; then
      mkdir -p "$exp"
      for kind in stdout rc; do gzip -9n <"$run/$kind" >"$exp/$prog.$kind.gz"; done
      gzip -9n <"$run/$trace" >"$exp/$prog.trace.gz"
      gzip -9n <"$run/flux_analysis.txt" >"$exp/$prog.flux.gz"
      continue
    fi
    for kind in stdout rc trace flux; do
      case $kind in trace) got=$run/$trace;; flux) got=$run/flux_analysis.txt;; *) got=$run/$kind;; esac
      if ! gzip -dc "$exp/$prog.$kind.gz" | cmp -s - "$got"; then
        echo "$name $prog $kind: differs from the recorded output (- recorded, + now):"
        gzip -dc "$exp/$prog.$kind.gz" >"$run/expected.$kind"
        diff -u --label recorded --label now "$run/expected.$kind" "$got" | head -n 40
        failed=$((failed + 1))
      fi
    done
    rm -rf "$run"
  done
done
[ "$mode" = record ] && { echo "recorded $total runs"; exit 0; }
echo "$((total)) runs compared, $failed outputs differ"
[ $failed -eq 0 ]
