#include "toolbox/vipsio.h"

#include <cstring>

#include "toolbox/fatal.h"

namespace craq {

void startImageLibrary(const char *argv0) {
    if (VIPS_INIT(argv0 != nullptr ? argv0 : "craq"))
        fatalExit(Stream::err, "cannot start the image library\n");
}

void disableImageCache() { vips_cache_set_max(0); }

void imageFailure(const std::string &what, const std::string &name, const vips::VError &error) {
    std::string reason = error.what();
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    vips_error_clear();
    fatalExit(Stream::out, what + " " + name + ": " + reason + "\n");
}

vips::VImage loadImage(const std::string &path) {
    try {
        return vips::VImage::new_from_file(path.c_str());
    } catch (const vips::VError &e) {
        imageFailure("cannot open image", path, e);
    }
}

vips::VImage chooseBand(const vips::VImage &img, const std::string &path) {
    vips::VImage band = img;
    try {
        if (img.bands() > 1) band = img.extract_band(1);
    } catch (const vips::VError &e) {
        imageFailure("cannot read image", path, e);
    }
    if (band.bands() != 1 || band.format() != VIPS_FORMAT_UCHAR)
        fatalExit(Stream::out, "image " + path + " is not an 8-bit image\n");
    return band;
}

vips::VImage loadAnalysisBand(const std::string &path) { return chooseBand(loadImage(path), path); }

void writeImage(const vips::VImage &img, const std::string &path) {
    try {
        img.write_to_file(path.c_str());
    } catch (const vips::VError &e) {
        imageFailure("cannot write image", path, e);
    }
}

vips::VImage imageFromBytes(const unsigned char *bytes, int width, int height) {
    const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    VipsImage *image = vips_image_new_from_memory_copy(bytes, size, width, height, 1, VIPS_FORMAT_UCHAR);
    if (image == nullptr) imageFailure("cannot make image", "(memory)", vips::VError());
    return vips::VImage(image);
}

std::string imageName(const vips::VImage &img) {
    const char *name = vips_image_get_filename(img.get_image());
    return name != nullptr && *name != '\0' ? std::string(name) : std::string("(image)");
}

std::string imageBytes(const vips::VImage &img) {
    if (img.bands() != 1 || img.format() != VIPS_FORMAT_UCHAR)
        fatalExit(Stream::out, "image " + imageName(img) + " is not an 8-bit image\n");
    try {
        std::size_t size = 0;
        void *mem = img.write_to_memory(&size);
        std::string bytes(static_cast<const char *>(mem), size);
        g_free(mem);
        return bytes;
    } catch (const vips::VError &e) {
        imageFailure("cannot read image", imageName(img), e);
    }
}

}  // namespace craq
