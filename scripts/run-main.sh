#!/usr/bin/env bash
# The main job on a fresh machine: installs the dependencies, builds, draws the
# sample images of the four crack classes, trains the template set with pelko
# (list form) and reports its leave-one-out accuracy, builds the feature store
# of the query images with vosk2, and answers a query by pattern.
#
# The programs use the locations fixed in this build (build/data/ and
# build/web/ unless configured otherwise, see README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$(nproc)" --target vosk2 pelko craq_samples > /dev/null

data=$(sed -n 's/^CRAQ_DATA_ROOT:[A-Z]*=//p' build/CMakeCache.txt)
web=$(sed -n 's/^CRAQ_WEB_ROOT:[A-Z]*=//p' build/CMakeCache.txt)
data="${data%/}/" web="${web%/}/"
samples="$top/build/samples"
rm -rf "$samples"

echo "== drawing sample images (6 per class for training, 2 per class to query)"
build/tools/samples/craq_samples "$samples" 6 400 --hold-out 2

echo "== training the template set (pelko, list form)"
cp "$samples/image_label.dat" "${data}CL/image_label.dat"
build/programs/pelko/pelko train -textfile

echo "== leave-one-out accuracy for k = 1 to 5 (pelko -error 1 5)"
build/programs/pelko/pelko -error 1 5
echo

echo "== storing the query images (vosk2 -generateFV -folder)"
build/programs/vosk2/vosk2 -generateFV -folder "$samples/query/"

query=$(ls "$samples"/query/spiderweb_*.jpg | head -n 1)
echo "== query by pattern with $query (vosk2 -queryImage -pattern)"
build/programs/vosk2/vosk2 -queryImage -pattern "$query"

echo "== data root: $data"
echo "== web root:  $web (query output under lib_0/metadata and lib_0/thumbnail)"
