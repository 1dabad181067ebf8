#!/usr/bin/env bash
# Runs the fuzz targets (game pages, settings file) for longer than the test run does:
#   bash scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 600)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in build/fuzz/tests/fuzz_*; do
    [ -x "$target" ] || continue
    corpus="build/fuzz/corpus/$(basename "$target")"
    mkdir -p "$corpus"
    echo "== $(basename "$target") for ${seconds}s"
    "$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 "$corpus" 2>&1 |
        grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb|==.*ERROR)' || true
done
