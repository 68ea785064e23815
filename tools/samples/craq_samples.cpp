// craq_samples: writes a labelled set of craquelure-like sample images.
//
//   craq_samples <outdir> [per-class count] [size] [--hold-out N] [--format jpg|tif]
//   craq_samples <outdir> [count] --photo <width>x<height> [--format jpg|tif]
//
// Writes <count> images of each class (default 6, 400 x 400 pixels) into
// outdir and the training list outdir/image_label.dat ("<path> <label>" per
// line, paths as written).  --hold-out N adds N more per class under
// outdir/query/ with a list of their own, for querying.
//
// --photo writes <count> (default 1) photograph-like images instead,
// outdir/photo_NN.<format>, of a dense irregular craquelure; a real
// photograph's size is 1181x1772.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "toolbox/fatal.h"
#include "toolbox/vipsio.h"
#include "tools/samples/samples.h"

namespace {

const char kUsage[] =
    "usage: craq_samples <outdir> [per-class count] [size] [--hold-out N] [--format jpg|tif]\n"
    "       craq_samples <outdir> [count] --photo <width>x<height> [--format jpg|tif]\n"
    "  count 1..999 (default 6; 1 with --photo), size 100..4000 (default 400),\n"
    "  hold-out 0..999 (default 0), width and height 16..8000\n";

// A whole decimal number in lo..hi, or the usage stop.
int numberArg(const char *text, int lo, int hi) {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < lo || value > hi)
        craq::fatalExit(craq::Stream::err, std::string("craq_samples: bad number ") + text + "\n" + kUsage);
    return static_cast<int>(value);
}

// <width>x<height>, each in 16..8000, or the usage stop.
void photoSize(const std::string &text, craq::samples::PhotoSet *set) {
    const std::string::size_type x = text.find('x');
    if (x == std::string::npos) craq::fatalExit(craq::Stream::err, "craq_samples: bad size " + text + "\n" + kUsage);
    set->cols = numberArg(text.substr(0, x).c_str(), 16, 8000);
    set->rows = numberArg(text.substr(x + 1).c_str(), 16, 8000);
}

}  // namespace

int main(int argc, char **argv) {
    craq::startImageLibrary(argv[0]);
    craq::samples::SampleSet set;
    craq::samples::PhotoSet photos;
    bool photo = false;
    int positional = 0;
    for (int i = 1; i < argc; i++) {
        const std::string word = argv[i];
        if (word == "--photo" && i + 1 < argc) {
            photoSize(argv[++i], &photos);
            photo = true;
        } else if (word == "--hold-out" && i + 1 < argc) {
            set.holdOut = numberArg(argv[++i], 0, 999);
        } else if (word == "--format" && i + 1 < argc) {
            const std::string format = argv[++i];
            if (format != "jpg" && format != "tif")
                craq::fatalExit(craq::Stream::err, "craq_samples: format must be jpg or tif\n" + std::string(kUsage));
            set.extension = "." + format;
        } else if (word.compare(0, 2, "--") == 0 || positional == 3) {
            craq::fatalExit(craq::Stream::err, "craq_samples: unexpected " + word + "\n" + kUsage);
        } else if (positional == 0) {
            set.outDir = word;
            positional++;
        } else if (positional == 1) {
            set.perClass = numberArg(argv[i], 1, 999);
            positional++;
        } else {
            set.size = numberArg(argv[i], 100, 4000);
            positional++;
        }
    }
    if (positional == 0 || set.outDir.empty()) craq::fatalExit(craq::Stream::err, kUsage);
    if (set.outDir.back() != '/') set.outDir += '/';

    if (photo) {
        if (positional > 2 || set.holdOut > 0)
            craq::fatalExit(craq::Stream::err, std::string("craq_samples: --photo takes no size or hold-out\n") + kUsage);
        photos.outDir = set.outDir;
        photos.count = positional == 2 ? set.perClass : 1;
        photos.extension = set.extension;
        const std::vector<std::string> paths = craq::samples::writePhotos(photos);
        std::printf("wrote %zu photographs of %d x %d pixels into %s\n", paths.size(), photos.cols, photos.rows,
                    photos.outDir.c_str());
        vips_shutdown();
        return 0;
    }

    const craq::samples::WrittenSet written = craq::samples::writeSamples(set);
    std::printf("wrote %zu images of %d x %d pixels, listed in %s\n", written.training.size(), set.size, set.size,
                written.trainingList.c_str());
    if (!written.held.empty())
        std::printf("wrote %zu held-out images, listed in %s\n", written.held.size(), written.heldList.c_str());
    vips_shutdown();
    return 0;
}
