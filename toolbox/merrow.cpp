#include "toolbox/merrow.h"

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "toolbox/fatal.h"
#include "toolbox/mxutil.h"
#include "toolbox/nrutil.h"
#include "toolbox/vipsio.h"

namespace craq {

// ---------------------------------------------------------------------------
// Otsu's threshold

// Otsu's between-class variance threshold of a one-band 8-bit image, all
// arithmetic in double:
//   h = 256-bin histogram, N = pixel count, p[i] = (1/N) * h[i],
//   omega[i] = p[0] + ... + p[i], mu[i] = 1 * p[1] + ... + i * p[i],
//   muT = mu[255],
//   sigma[i] = (omega[i] * muT - mu[i])^2 / ((1 - omega[i]) * omega[i]).
// The threshold is the integer mean of every level whose sigma equals the
// largest one (ties are exact, so a two-level image 0/200 ties at 0..199 and
// gives 99); it is 0 when every sigma is 0.
//
// A split that leaves one class empty has no between-class variance: sigma
// is 0 whenever the cumulative pixel count is 0 or N.  The decision uses the
// integer count, not omega, because (1/N) * N rounds below 1 for some N
// (49, 98, 103, ...); then an image of one grey level would get tiny equal
// non-zero sigmas at every level from its own up, and a threshold far above
// its only level instead of 0.
int otsuThresh(vips::VImage img) {
    const int rows = img.height();
    const int cols = img.width();
    int **m = imatrix(0, rows - 1, 0, cols - 1);
    VImageToMat(img, m, 0, rows - 1, 0, cols - 1);
    int *h = ivector(0, 255);
    mHist(m, h, 0, rows - 1, 0, cols - 1);
    free_imatrix(m, 0, rows - 1, 0, cols - 1);
    int64_t hist[256];
    for (int i = 0; i <= 255; i++) hist[i] = h[i];
    free_ivector(h, 0, 255);
    return otsuThreshold(hist);
}

// The rule above on a histogram already counted.
int otsuThreshold(const int64_t *h) {
    int64_t n = 0;
    for (int i = 0; i <= 255; i++) n += h[i];

    double p[256], omega[256], mu[256], sigma[256];
    int64_t count[256];  // pixels at levels 0..i: class 0 of the split at i
    for (int i = 0; i <= 255; i++) p[i] = (1.0 / static_cast<double>(n)) * static_cast<double>(h[i]);
    omega[0] = p[0];
    mu[0] = 0.0;
    count[0] = h[0];
    for (int i = 1; i <= 255; i++) {
        omega[i] = omega[i - 1] + p[i];
        mu[i] = mu[i - 1] + i * p[i];
        count[i] = count[i - 1] + h[i];
    }
    const double muT = mu[255];

    for (int i = 0; i <= 255; i++) {
        // One class empty: no split here.
        if (count[i] == 0 || count[i] == n) {
            sigma[i] = 0.0;
            continue;
        }
        const double d = omega[i] * muT - mu[i];
        const double num = d * d;
        const double den = (1 - omega[i]) * omega[i];
        sigma[i] = (num == 0.0 && den == 0.0) ? 0.0 : (1.0 / den) * num;
    }

    double smax = 0.0;
    for (int i = 0; i <= 255; i++)
        if (sigma[i] > smax) smax = sigma[i];

    int sum = 0;
    int tied = 0;
    for (int i = 0; i <= 255; i++)
        if (sigma[i] == smax && sigma[i] != 0.0) {
            sum += i;
            tied++;
        }
    // No split with a variance: no threshold.
    if (tied == 0) return 0;
    return sum / tied;
}

// ---------------------------------------------------------------------------
// Further rules

// Gradient-weighted mean: with gy the correlation of img with the column
// mask (1, 0, -1) top to bottom and gx with the row mask (-1, 0, 1) left to
// right, e = max(gx, gy) per pixel and the threshold is
// sum(grey * e) / sum(e) in integer division.
//
// The integer convolution of an 8-bit image is itself 8-bit, and libvips
// clips its results to 0..255: a falling gradient reads as 0, so only grey
// that is higher above than below (gy = above - below) or higher on the
// right than on the left (gx = right - left) is weighed.  Borders are
// extended by copying the edge pixels.  The sums are 64-bit, so large
// images do not overflow, and an image without any such gradient (sum of e
// is 0) has no threshold: the result is 0.
int sisThresh(vips::VImage img) {
    vips::VImage gx, gy;
    try {
        vips::VImage vertical = vips::VImage::new_matrixv(1, 3, 1.0, 0.0, -1.0);
        vips::VImage horizontal = vips::VImage::new_matrixv(3, 1, -1.0, 0.0, 1.0);
        vertical.set("scale", 1.0);
        vertical.set("offset", 0.0);
        horizontal.set("scale", 1.0);
        horizontal.set("offset", 0.0);
        vips::VOption *asInteger = vips::VImage::option()->set("precision", VIPS_PRECISION_INTEGER);
        gy = img.conv(vertical, asInteger).cast(VIPS_FORMAT_UCHAR);
        asInteger = vips::VImage::option()->set("precision", VIPS_PRECISION_INTEGER);
        gx = img.conv(horizontal, asInteger).cast(VIPS_FORMAT_UCHAR);
    } catch (const vips::VError &e) {
        imageFailure("cannot convolve image", imageName(img), e);
    }
    const std::string grey = imageBytes(img);
    const std::string bytesX = imageBytes(gx);
    const std::string bytesY = imageBytes(gy);

    int64_t weighted = 0;  // sum of grey * e
    int64_t total = 0;     // sum of e
    for (std::size_t k = 0; k < grey.size(); k++) {
        const int x = static_cast<unsigned char>(bytesX[k]);
        const int y = static_cast<unsigned char>(bytesY[k]);
        const int e = x > y ? x : y;
        weighted += static_cast<int64_t>(static_cast<unsigned char>(grey[k])) * e;
        total += e;
    }
    // No gradient: the weighted mean is undefined.
    if (total == 0) return 0;
    return static_cast<int>(weighted / total);
}

// Mean-plus-deviation threshold: k1 * mean + k2 * deviation of the image's
// pixels, truncated toward zero.  libvips 8's statistics matrix has 10
// columns per row (min, max, sum, sum of squares, mean, deviation, xmin,
// ymin, xmax, ymax), row 0 over all bands and then one row per band; the
// rule weighs row 0's mean (column 4) and deviation (column 5, the sample
// standard deviation).
//
// A threshold above 255 (or no number at all, from an infinite or NaN
// weight) ends the run with "error - threshold value exceeds maximum pixel
// intensity" on standard output, status 1.  A value below the int range
// gives INT_MIN; like any negative threshold it lies below every pixel.
int hamadaniThresh(vips::VImage img, double k1, double k2) {
    double mean = 0.0;
    double deviation = 0.0;
    try {
        vips::VImage stats = img.stats();
        mean = stats.getpoint(4, 0)[0];
        deviation = stats.getpoint(5, 0)[0];
    } catch (const vips::VError &e) {
        imageFailure("cannot measure image", imageName(img), e);
    }
    const double value = k1 * mean + k2 * deviation;
    // Truncation keeps 255.x at 255; 256 and above exceed the range.
    if (!(value < 256.0)) fatalExit(Stream::out, "error - threshold value exceeds maximum pixel intensity");
    int threshold = INT_MIN;
    truncToInt(value, &threshold);
    return threshold;
}

}  // namespace craq
