// Automatic grey-level thresholds of a one-band 8-bit library image.
//
// otsuThresh is the threshold the pipeline uses; its result 0 means "no
// threshold found", which the pipeline reads as an image without cracks.
// sisThresh and hamadaniThresh are two further rules the module offers.
// Each takes the image by value and writes nothing to it.
#pragma once

#include <cstdint>

#include <vips/vips8>

namespace craq {

// ---- between-class variance (Otsu) ----
// Threshold 0..255: truncated mean of the levels of largest variance; 0 when
// no split separates two non-empty classes (e.g. a single grey level).
int otsuThresh(vips::VImage img);
// The same rule on a 256-bin histogram h[0..255] of any pixel count.
int otsuThreshold(const int64_t *h);

// ---- further rules ----
// Gradient-weighted mean grey level, 0..255; 0 when the image has no
// (positive) gradient.
int sisThresh(vips::VImage img);
// k1 * mean + k2 * deviation, truncated toward zero; a value above 255 ends
// the run ("error - threshold value exceeds maximum pixel intensity", exit 1).
int hamadaniThresh(vips::VImage img, double k1, double k2);

}  // namespace craq
