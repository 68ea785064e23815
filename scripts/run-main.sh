#!/usr/bin/env bash
# Sets up and runs the main job on a fresh machine.  For now the programs are
# shells: this installs the dependencies and builds them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
