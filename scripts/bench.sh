#!/usr/bin/env bash
# The figures of docs/performance.md: the native Google Benchmarks of the core, then Ventora's
# running cost, timing and paint cost measured under Wine.
#   bash scripts/bench.sh [SECONDS]   (length of each CPU window under Wine, default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh
cmake --preset bench >/dev/null && cmake --build --preset bench
cmake --preset windows >/dev/null && cmake --build --preset windows
echo "== native benchmarks"
build/bench/tests/ventora_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
echo "== under Wine"
python3 -m tests.bench.measure --seconds "$seconds"
