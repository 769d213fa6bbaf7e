#!/usr/bin/env bash
# The generators against their floor: medians of 9 repetitions, then the ratios.
set -euo pipefail
source "$(dirname "$0")/build.sh"
build/bench/bench/kelvara_generator_bench --benchmark_repetitions=9 \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 "$@"
