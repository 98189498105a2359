#!/usr/bin/env bash
# Lists the includes between the folders of src/ and fails on any that runs
# against the layers: programs -> run -> integrator -> model -> setup -> simd,
# with report beside run (run may include it; it includes neither run nor
# programs). A folder may include itself and any folder below it. The
# engine stands apart above model: it includes model, setup and simd, and
# only the bindings (the engine's Python module) include it.
set -u
src=$(cd "$(dirname "$0")/../src" && pwd)
rank() {
  case $1 in
    programs) echo 6;; run) echo 5;; report) echo 4;; integrator) echo 3;;
    model) echo 2;; setup) echo 1;; simd) echo 0;; engine|bindings) echo 9;; *) echo -1;;
  esac
}
bad=0
while IFS=: read -r file line; do
  from=${file#"$src"/}; from=${from%%/*}
  to=$(sed -n 's/^#include "\([a-z_]*\)\/.*/\1/p' <<<"$line")
  [ -n "$to" ] && [ "$from" != "$to" ] || continue
  allowed=no
  if [ "$(rank "$from")" -lt 0 ] || [ "$(rank "$to")" -lt 0 ]; then allowed=unknown
  elif [ "$from" = report ] && [ "$to" = integrator ]; then allowed=no
  elif [ "$to" = engine ]; then [ "$from" = bindings ] && allowed=yes
  elif [ "$from" = engine ] || [ "$from" = bindings ]; then
    [ "$(rank "$to")" -le "$(rank model)" ] && allowed=yes
  elif [ "$(rank "$to")" -lt "$(rank "$from")" ]; then allowed=yes
  fi
  echo "$from -> $to ($allowed): ${file#"$src"/}"
  [ $allowed = yes ] || bad=$((bad + 1))
done < <(grep -rH '^#include "' "$src" | sort -u)
echo "$bad includes against the layers"
[ $bad -eq 0 ]
