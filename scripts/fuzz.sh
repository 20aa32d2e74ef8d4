#!/usr/bin/env bash
# Builds every libFuzzer target (the "fuzz" preset, clang) and runs each one for a bounded
# time from its seed corpus in fuzz/corpus/. Fails on the first crash, leak, timeout or
# memory blow-up; the input that did it is left in build/fuzz/falhas/.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
segundos="${1:-60}"
shift || true

cmake --preset fuzz >/dev/null
alvos=("$@")
if [ ${#alvos[@]} -eq 0 ]; then
  mapfile -t alvos < <(sed -n 's/^orbelo_fuzz(\([a-z_0-9]*\) .*/\1/p' fuzz/CMakeLists.txt)
fi
cmake --build --preset fuzz --target "${alvos[@]}"

binarios=build/fuzz/fuzz
falhas=build/fuzz/falhas
mkdir -p "$falhas"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
for alvo in "${alvos[@]}"; do
  # The seed corpus stays untouched; what the run learns goes to a scratch folder.
  trabalho="build/fuzz/corpus/$alvo"
  mkdir -p "$trabalho"
  inicio=$SECONDS
  # Pointer images are decoded within a few tens of MiB, whatever the file says: a larger
  # allocation, or the process growing well past what the sanitizers keep, is a failure.
  memoria=(-rss_limit_mb=2048)
  if [ "$alvo" = fuzz_imagem_cursor ]; then memoria=(-rss_limit_mb=768 -malloc_limit_mb=32); fi
  if ! "$binarios/$alvo" -max_total_time="$segundos" "${memoria[@]}" -timeout=20 \
      -print_final_stats=1 -artifact_prefix="$falhas/$alvo-" "$trabalho" "fuzz/corpus/$alvo" \
      >"build/fuzz/$alvo.log" 2>&1; then
    tail -n 60 "build/fuzz/$alvo.log"
    echo "$alvo: FAILED (input kept in $falhas/)"
    exit 1
  fi
  execucoes=$(sed -n 's/^stat::number_of_executed_units: *//p' "build/fuzz/$alvo.log")
  echo "$alvo: ok, ${execucoes:-?} inputs in $((SECONDS - inicio)) s"
done
