#!/usr/bin/env bash
# clang-tidy with the root .clang-tidy over our own sources (src, tools, tests, bench), from the
# compile database of a build configured for that alone; any warning fails. Prints how long it took.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
cd "$raiz"
compilacao=build/tidy
cmake -S . -B "$compilacao" -DCMAKE_BUILD_TYPE=Debug -DORBELO_TESTES=ON -DORBELO_BENCH=ON \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > /dev/null
inicio=$SECONDS
status=0
run-clang-tidy -p "$compilacao" -j "${TIDY_TAREFAS:-2}" -quiet "^$raiz/(src|tools|tests|bench)/" || status=$?
echo "clang-tidy: $((SECONDS - inicio)) s"
exit "$status"
