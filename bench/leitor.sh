#!/usr/bin/env bash
# Runs the frame-reader benchmark and prints its time as a multiple of memcpy.
# Usage: bench/leitor.sh [build folder with ORBELO_BENCH=ON, default build/release]
set -euo pipefail
pasta="${1:-$(dirname "$0")/../build/release}"
"$pasta/bench/orbelo_bench_leitor" --benchmark_format=csv --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null |
  awk -F, '
    $1 == "\"BM_Leitor_median\"" { leitor = $3 }
    $1 == "\"BM_Memcpy_median\"" { copia = $3 }
    END {
      if (copia == 0) { print "benchmark gave no result"; exit 1 }
      printf "LeitorMensagens: %.2f x memcpy (100 KiB frames, 64 KiB chunks)\n", leitor / copia
    }'
