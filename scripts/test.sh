#!/usr/bin/env bash
# Sets up and runs every test: installs the dependencies, builds the normal
# configuration (build/) and the sanitizer one (build-asan/), and runs the
# whole test suite in both, and the normal build's once more with two
# workers for every folder run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCRAQ_SANITIZE=ON -DCRAQ_BENCHMARKS=OFF
cmake --build build-asan -j"$jobs"

echo "== tests: normal build"
(cd build && ctest -j"$jobs" --output-on-failure)
echo "== tests: normal build with two workers per folder run, as on a two-core machine"
(cd build && CRAQ_WORKERS=2 ctest -j"$jobs" -E '^Install' --output-on-failure)
echo "== tests: address and undefined-behaviour sanitizers"
(cd build-asan && ctest -j"$jobs" --output-on-failure)
