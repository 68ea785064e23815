#!/bin/sh
# Times the storing of one photograph, the whole process, for photographs of
# several sizes, and reports each one's peak memory.
#
#   scripts/bench-image.sh [build folder] [runs] [sizes...]
#
# Generated photograph-like images (default 1000x1000, 1181x1772, 1600x2400,
# 4000x6000 and 8000x8000 pixels) are stored one at a time with
# `vosk2 -generateFV -file` (median of runs, default 5) and
# `vosk2 -generateFV -folder` on a folder holding that image alone.  The
# programs' test builds are used: they keep their data root in the folder
# they run in, so nothing outside a temporary folder is touched.
set -eu
build=$(cd "${1:-build}" && pwd)
runs=${2:-5}
[ $# -gt 2 ] && shift 2 || set -- 1000x1000 1181x1772 1600x2400 4000x6000 8000x8000
samples="$build/tools/samples/craq_samples"
vosk2="$build/programs/vosk2/vosk2_testbin"
pelko="$build/programs/pelko/pelko_testbin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A template set for vosk2 to classify with.
"$samples" train 3 400 >/dev/null
mkdir -p data/CL data/FV data/FVC data/TEMP
cp train/image_label.dat data/CL/
"$pelko" x -textfile >/dev/null

# Median wall time in seconds of runs of a command.
median() {
    i=0
    while [ "$i" -lt "$runs" ]; do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s%N)
        echo $((end - start))
        i=$((i + 1))
    done | sort -n | awk '{v[NR] = $1} END {printf "%.2f", v[int((NR + 1) / 2)] / 1e9}'
}

peak() {
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -o peak.txt -f '%M' "$@" >/dev/null 2>&1 || true
        echo "$(($(tail -n 1 peak.txt) / 1024)) MiB"
    else
        echo "-"
    fi
}

for size in "$@"; do
    rm -rf "one_$size"
    "$samples" "one_$size" --photo "$size" >/dev/null
    image="$work/one_$size/photo_01.jpg"
    file=$(median "$vosk2" -generateFV -file "$image")
    folder=$(median "$vosk2" -generateFV -folder "one_$size/")
    printf '%-10s -file %6s s  %9s   -folder %6s s  %9s\n' "$size" \
        "$file" "$(peak "$vosk2" -generateFV -file "$image")" \
        "$folder" "$(peak "$vosk2" -generateFV -folder "one_$size/")"
done
