#!/usr/bin/env bash
# Builds the benchmarks (optimised, as shipped) into build/bench. Sourced by the other scripts.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/install-deps --test >&2
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKELVARA_BUILD_TESTS=OFF \
      -DKELVARA_BUILD_BENCH=ON >/dev/null
cmake --build build/bench --parallel "$(nproc)" >/dev/null
