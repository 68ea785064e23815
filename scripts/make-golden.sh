#!/usr/bin/env bash
# Regenerates the golden files of the end-to-end test (tests/golden/expected/)
# from the programs as they are now built.  CTest never runs this.
#
#   bash scripts/make-golden.sh            all cases
#   bash scripts/make-golden.sh vosk2_file pelko_list    only these cases
#
# Run it after a change that is meant to change what the programs print or
# write (a mended fault, a changed message), then review every changed
# expected file with git diff before committing them together with the
# change.  A change in an expected file that the change did not intend is a
# fault, not a file to regenerate.  The build folder is build/ (made when
# missing); BUILD_DIR=<folder> chooses another one.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
fi
cmake --build "$build" -j4 --target golden_make > /dev/null
"$build/tests/golden/golden_make" "$@"
echo "== changed expected files (review with: git diff tests/golden/expected):"
git status --short -- tests/golden/expected
