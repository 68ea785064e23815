// craq_samples: writes a labelled set of craquelure-like sample images.
//
//   craq_samples <outdir> [per-class count] [size] [--hold-out N] [--format jpg|tif]
//
// Writes <count> images of each class (default 6, 400 x 400 pixels) into
// outdir and the training list outdir/image_label.dat ("<path> <label>" per
// line, paths as written).  --hold-out N adds N more per class under
// outdir/query/ with a list of their own, for querying.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "toolbox/fatal.h"
#include "toolbox/vipsio.h"
#include "tools/samples/samples.h"

namespace {

const char kUsage[] =
    "usage: craq_samples <outdir> [per-class count] [size] [--hold-out N] [--format jpg|tif]\n"
    "  count 1..999 (default 6), size 100..4000 (default 400), hold-out 0..999 (default 0)\n";

// A whole decimal number in lo..hi, or the usage stop.
int numberArg(const char *text, int lo, int hi) {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < lo || value > hi)
        craq::fatalExit(craq::Stream::err, std::string("craq_samples: bad number ") + text + "\n" + kUsage);
    return static_cast<int>(value);
}

}  // namespace

int main(int argc, char **argv) {
    craq::startImageLibrary(argv[0]);
    craq::samples::SampleSet set;
    int positional = 0;
    for (int i = 1; i < argc; i++) {
        const std::string word = argv[i];
        if (word == "--hold-out" && i + 1 < argc) {
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

    const craq::samples::WrittenSet written = craq::samples::writeSamples(set);
    std::printf("wrote %zu images of %d x %d pixels, listed in %s\n", written.training.size(), set.size, set.size,
                written.trainingList.c_str());
    if (!written.held.empty())
        std::printf("wrote %zu held-out images, listed in %s\n", written.held.size(), written.heldList.c_str());
    vips_shutdown();
    return 0;
}
