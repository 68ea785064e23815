#!/bin/sh
# Times the folder commands on one core and on every core, and checks that
# both runs give the same output and the same files.
#
#   scripts/bench-folder.sh [build folder] [workers]
#
# 30 generated photographs (10 each of 1000 x 1000, 1181 x 1772 and
# 1600 x 2400 pixels) are stored with `vosk2 -generateFV -folder` and trained
# with `pelko -generateMap -folder` (creating) and `pelko x -textfile`.  The
# programs' test builds are used: they keep their data root in the folder
# they run in, so nothing outside a temporary folder is touched.  workers
# (default: every core) is the CRAQ_WORKERS of the second run.
set -eu
build=$(cd "${1:-build}" && pwd)
many=${2:-$(nproc)}
samples="$build/tools/samples/craq_samples"
vosk2="$build/programs/vosk2/vosk2_testbin"
pelko="$build/programs/pelko/pelko_testbin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cd "$work"
mkdir photos
for size in 1000x1000 1181x1772 1600x2400; do
    "$samples" "gen_$size" 10 --photo "$size" >/dev/null
    for f in "gen_$size"/*.jpg; do cp "$f" "photos/${size}_$(basename "$f")"; done
done
"$samples" train 3 400 >/dev/null
ls photos | sed 's|^|photos/|; s|$| 1|' > photos.list

seconds() { date +%s.%N; }

# A template set for vosk2 to classify with.
mkdir -p tset/data/CL
ln -s ../train tset/train
cp train/image_label.dat tset/data/CL/
(cd tset && CRAQ_WORKERS=1 "$pelko" x -textfile >/dev/null)

report() {
    label=$1
    one=$2
    all=$3
    if diff -r "run_${label}_1" "run_${label}_$many" >/dev/null; then same=same; else same=DIFFERENT; fi
    printf '%-28s 1 worker %6.2f s   %2s workers %6.2f s   x %.1f   output and files %s\n' \
        "$4" "$one" "$many" "$all" "$(echo "$one / $all" | bc -l)" "$same"
}

prepare() {
    dir="run_$1_$2"
    rm -rf "$dir"
    mkdir -p "$dir/data/FV" "$dir/data/FVC" "$dir/data/TEMP" "$dir/data/CL"
    ln -s ../photos "$dir/photos"
    cp tset/data/CL/feature_map.dat tset/data/CL/feature_label.dat "$dir/data/CL/"
    case $1 in
        list) cp photos.list "$dir/data/CL/image_label.dat" ;;
        folder) echo "30 0" > "$dir/data/CL/image_label.dat" ;;
    esac
}

timed() {
    dir="run_$1_$2"
    shift 2
    input=$1
    shift
    start=$(seconds)
    (cd "$dir" && printf '%s' "$input" | CRAQ_WORKERS=$workers "$@" > out 2> err; echo $? > status)
    end=$(seconds)
    echo "$end - $start" | bc
}

for label in store folder list; do
    for workers in 1 "$many"; do
        prepare "$label" "$workers"
        case $label in
            store) t=$(timed store "$workers" "" "$vosk2" -generateFV -folder photos/) ;;
            folder) t=$(timed folder "$workers" "c" "$pelko" -generateMap -folder photos/) ;;
            list) t=$(timed list "$workers" "" "$pelko" x -textfile) ;;
        esac
        eval "t_${label}_$([ "$workers" = 1 ] && echo one || echo many)=$t"
    done
done
report store "$t_store_one" "$t_store_many" "vosk2 -generateFV -folder"
report folder "$t_folder_one" "$t_folder_many" "pelko -generateMap -folder"
report list "$t_list_one" "$t_list_many" "pelko x -textfile"
