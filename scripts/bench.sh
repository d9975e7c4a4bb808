#!/usr/bin/env bash
# Builds the zip engine natively with optimisation and prints its throughput figures.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -DQUARN_NATIVE=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j2 --target zip_bench >/dev/null
build/bench/bin/zip_bench
