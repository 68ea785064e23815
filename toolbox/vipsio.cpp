#include "toolbox/vipsio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gmodule.h>

#include "toolbox/fatal.h"
#include "toolbox/filenames.h"

namespace craq {

namespace {

// Drops a log message of the image library or GLib.  Only warnings and
// lesser levels come here: criticals (programming faults) keep GLib's
// default handler, and errors abort whatever handler is set.
void dropMessage(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

void silenceLibraryWarnings() {
    const GLogLevelFlags quiet = static_cast<GLogLevelFlags>(
        G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG);
    for (const char *domain : {"VIPS", "GLib", "GLib-GObject", "GModule"})
        g_log_set_handler(domain, quiet, dropMessage, nullptr);
    // Messages of any other domain (the format libraries libvips loads).
    g_log_set_default_handler(
        [](const gchar *domain, GLogLevelFlags level, const gchar *message, gpointer data) {
            if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) != 0)
                g_log_default_handler(domain, level, message, data);
        },
        nullptr);
}

// The libvips error text as one line: trailing blanks and newlines removed,
// the newlines between its messages turned into "; ".
std::string oneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (std::string::size_type at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
        text.replace(at, 1, "; ");
    return text;
}

std::string libraryReason(const vips::VError &error) {
    std::string reason = oneLine(error.what());
    vips_error_clear();
    return reason;
}

// A file the loaders can read: it exists, can be opened and is a regular
// file (a folder or a pipe would fail or block inside the library).
bool readableFile(const std::string &path, std::string *reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    const int statError = errno;
    ::close(fd);
    if (!stated) {
        *reason = std::strerror(statError);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *reason = std::strerror(EISDIR);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *reason = "not a regular file";
        return false;
    }
    return true;
}

// An extension libvips may be given as a format suffix: '.' and letters or
// digits only (a bracket or a quote would be read as options).
bool plainSuffix(const std::string &ext) {
    if (ext.size() < 2 || ext[0] != '.') return false;
    for (std::size_t i = 1; i < ext.size(); i++)
        if (!std::isalnum(static_cast<unsigned char>(ext[i]))) return false;
    return true;
}

// The library's optional loaders (PDF, HEIF, JPEG XL, slide scans and the
// ImageMagick formats) are modules it loads at start-up from
// <libdir>/vips-modules-<major>.<minor>, the library's install prefix coming
// from VIPSHOME when that is set.  Loading them and the some thirty
// libraries behind them takes longer than analysing a photograph, and the
// built-in loaders read JPEG, TIFF, PNG and the library's own format.  So
// the library starts with VIPSHOME naming a prefix without modules, and
// they are loaded the first time a file to open is in none of the built-in
// formats or a name to write has an extension no built-in saver knows.  A VIPSHOME the user set is left alone (and the modules load at
// start-up as usual).
const char kPrefixWithoutModules[] = "/nonexistent/craq-no-image-modules";

bool gModulesPending = false;  // started without the modules, not loaded yet

// Loads every module of the library's module folder once, as its start-up
// would; true when at least one loaded.
bool loadOptionalLoaders() {
    if (!gModulesPending) return false;
    gModulesPending = false;
    const std::string folder = std::string(CRAQ_VIPS_LIBDIR) + "/vips-modules-" +
                               std::to_string(vips_version(0)) + "." +
                               std::to_string(vips_version(1));
    GDir *dir = g_dir_open(folder.c_str(), 0, nullptr);
    if (dir == nullptr) return false;
    bool loaded = false;
    for (const char *name; (name = g_dir_read_name(dir)) != nullptr;) {
        const std::string file = name;
        const std::string suffix = std::string(".") + G_MODULE_SUFFIX;
        if (file.size() <= suffix.size() ||
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        // A module that fails to load is skipped, as at the library's start.
        GModule *module = g_module_open((folder + "/" + file).c_str(), G_MODULE_BIND_LAZY);
        if (module == nullptr) continue;
        g_module_make_resident(module);
        loaded = true;
    }
    g_dir_close(dir);
    // The start-up's block applies to operations that arrive later too.
    if (loaded && g_getenv("VIPS_BLOCK_UNTRUSTED") != nullptr) vips_block_untrusted_set(TRUE);
    return loaded;
}

// Rows per region request: enough to amortise the request, small enough
// that the region's own buffer (for an image computed on demand) stays
// small.
constexpr int kStripRows = 128;

// Copies the rows of image to dst, row y at dst + y * stride, asking the
// library for a strip at a time: the rows are computed (a file decoded) in
// the calling thread, with none of the library's worker threads.  False,
// with the library's error set, on failure.
bool copyRows(VipsImage *image, unsigned char *dst, std::ptrdiff_t stride) {
    VipsRegion *region = vips_region_new(image);
    if (region == nullptr) return false;
    const int width = image->Xsize, height = image->Ysize;
    const std::size_t line = VIPS_IMAGE_SIZEOF_LINE(image);
    for (int top = 0; top < height; top += kStripRows) {
        VipsRect strip = {0, top, width, std::min(kStripRows, height - top)};
        if (vips_region_prepare(region, &strip) != 0) {
            g_object_unref(region);
            return false;
        }
        for (int y = top; y < top + strip.height; y++)
            std::memcpy(dst + static_cast<std::ptrdiff_t>(y) * stride, VIPS_REGION_ADDR(region, 0, y), line);
    }
    g_object_unref(region);
    return true;
}

// A memory image holding the pixels and header of in, decoded by copyRows,
// under the file name name (which error messages give).  Null, with the
// library's error set, on failure.
VipsImage *decodeWhole(VipsImage *in, const std::string &name) {
    VipsImage *out = VIPS_IMAGE(g_object_new(VIPS_TYPE_IMAGE, nullptr));
    g_object_set(out, "filename", name.c_str(), "mode", "t", nullptr);
    bool made = vips_object_build(VIPS_OBJECT(out)) == 0 &&
                vips_image_pipelinev(out, VIPS_DEMAND_STYLE_THINSTRIP, in, nullptr) == 0 &&
                vips_image_write_prepare(out) == 0 &&
                copyRows(in, static_cast<unsigned char *>(out->data),
                         static_cast<std::ptrdiff_t>(VIPS_IMAGE_SIZEOF_LINE(out)));
    if (!made) {
        g_object_unref(out);
        return nullptr;
    }
    return out;
}

}  // namespace

// Starts the library without its optional modules (see above) and, unless
// VIPS_CONCURRENCY asks otherwise, with one worker thread per pipeline: the
// programs read one image at a time, whose decoding is sequential anyway.
void startImageLibrary(const char *argv0) {
    static bool started = false;
    if (started) return;
    started = true;
    silenceLibraryWarnings();
    const bool ownPrefix = g_getenv("VIPSHOME") != nullptr;
    if (!ownPrefix) g_setenv("VIPSHOME", kPrefixWithoutModules, TRUE);
    if (VIPS_INIT(argv0 != nullptr ? argv0 : "craq"))
        fatalExit(Stream::err, "cannot start the image library\n");
    if (!ownPrefix) {
        g_unsetenv("VIPSHOME");
        gModulesPending = true;
    }
    if (g_getenv("VIPS_CONCURRENCY") == nullptr) vips_concurrency_set(1);
}

void imageFailure(const std::string &what, const std::string &name, const vips::VError &error) {
    fatalExit(Stream::out, what + " " + name + ": " + libraryReason(error) + "\n");
}

namespace {

// The image file at path (literally) as the loader gives it: the header read,
// the pixels decoded on demand, top to bottom.  False, with *reason set, on
// failure.
bool openSequential(const std::string &path, vips::VImage *image, std::string *reason) {
    startImageLibrary(nullptr);  // a command that had no image before
    if (!readableFile(path, reason)) return false;
    try {
        // A source opened on the file itself: the name is never parsed.
        // Sequential access lets the loaders decode on demand, top to bottom,
        // in the thread that asks for the rows.
        auto open = [&path]() {
            vips::VSource source = vips::VSource::new_from_file(path.c_str());
            return vips::VImage::new_from_source(source, "",
                                                 vips::VImage::option()
                                                     ->set("fail_on", VIPS_FAIL_ON_ERROR)
                                                     ->set("access", VIPS_ACCESS_SEQUENTIAL));
        };
        vips::VImage loaded;
        try {
            loaded = open();
        } catch (const vips::VError &) {
            // Perhaps a format of the optional loaders: load them, once, and
            // try again from the start of the file.
            if (!loadOptionalLoaders()) throw;
            vips_error_clear();
            loaded = open();
        }
        *image = loaded;
    } catch (const vips::VError &e) {
        *reason = libraryReason(e);
        return false;
    }
    // Only the header has been read: an image too large for the analysis is
    // refused before any pixel memory exists.
    return withinPixelBound(image->width(), image->height(), reason);
}

// True when the extension names a format the library can write ('.' and
// letters or digits, a saver known for it, perhaps among the optional
// modules); else false with *reason set.
bool knownSaveFormat(const std::string &ext, std::string *reason) {
    const bool known = plainSuffix(ext) &&
                       (vips_foreign_find_save_target(ext.c_str()) != nullptr ||
                        (loadOptionalLoaders() && vips_foreign_find_save_target(ext.c_str()) != nullptr));
    if (!known) {
        vips_error_clear();
        *reason = "no image format for the extension \"" + ext + "\"";
    }
    return known;
}

// The library's own format is written only to a file the library opens by
// name.  That file is made in a folder of this process's own (mkdtemp: new,
// mode 0700, in the system's temporary folder, where no one else can put a
// name), read back and removed.  The programs store no such file; tests and
// the sample tool do.
bool encodeThroughOwnFolder(const vips::VImage &img, const std::string &ext, std::string *bytes,
                            std::string *reason) {
    std::string pattern = (std::filesystem::temp_directory_path() / "craq-image-XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) {
        *reason = std::strerror(errno);
        return false;
    }
    const std::string file = pattern + "/image" + ext;
    bool done = saveImage(img, file, reason);
    if (done) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream read;
        read << in.rdbuf();
        done = in.good() || in.eof();
        if (done)
            *bytes = read.str();
        else
            *reason = "cannot read back " + file;
    }
    unlink(file.c_str());
    rmdir(pattern.c_str());
    return done;
}

// The bytes of img in the format ext names, encoded in memory (the
// library's own format through encodeThroughOwnFolder).  False, with
// *reason set, on failure.
bool encodeImage(const vips::VImage &img, const std::string &ext, std::string *bytes,
                 std::string *reason) {
    if (!knownSaveFormat(ext, reason)) return false;
    if (g_ascii_strcasecmp(ext.c_str(), ".v") == 0 || g_ascii_strcasecmp(ext.c_str(), ".vips") == 0)
        return encodeThroughOwnFolder(img, ext, bytes, reason);
    try {
        vips::VTarget target = vips::VTarget::new_to_memory();
        img.write_to_target(ext.c_str(), target);
        VipsBlob *blob = nullptr;
        g_object_get(target.get_target(), "blob", &blob, nullptr);
        if (blob == nullptr) {
            *reason = "the image library returned no bytes";
            return false;
        }
        std::size_t size = 0;
        const void *data = vips_blob_get(blob, &size);
        bytes->assign(static_cast<const char *>(data), size);
        vips_area_unref(VIPS_AREA(blob));
    } catch (const vips::VError &e) {
        *reason = libraryReason(e);
        return false;
    }
    return true;
}

}  // namespace

bool withinPixelBound(long long width, long long height, std::string *reason) {
    // Both come from a header: at most 2^31 - 1 each, so the product fits.
    if (width * height <= kMaxImagePixels) return true;
    *reason = std::to_string(width) + " x " + std::to_string(height) + " pixels, more than the " +
              std::to_string(kMaxImagePixels) + " pixels an image may have";
    return false;
}

bool openImage(const std::string &path, vips::VImage *image, std::string *reason) {
    vips::VImage loaded;
    if (!openSequential(path, &loaded, reason)) return false;
    // Decoded now, whole, so a truncated or damaged file fails here.
    VipsImage *decoded = decodeWhole(loaded.get_image(), path);
    if (decoded == nullptr) {
        *reason = libraryReason(vips::VError());
        return false;
    }
    *image = vips::VImage(decoded);
    return true;
}

bool readAnalysisPlane(const std::string &path, AnalysisPlane *plane, std::string *reason) {
    vips::VImage loaded;
    if (!openSequential(path, &loaded, reason)) return false;
    // Only the band analysed is decoded into the plane: band 1 of a
    // multi-band image.  The loader still decodes every band, top to bottom.
    VipsImage *band = loaded.get_image();
    VipsImage *extracted = nullptr;
    if (band->Bands > 1) {
        if (vips_extract_band(band, &extracted, 1, nullptr) != 0) {
            *reason = libraryReason(vips::VError());
            return false;
        }
        band = extracted;
    }
    bool done = true;
    if (band->Bands != 1 || band->BandFmt != VIPS_FORMAT_UCHAR) {
        // Not analysable; decoded whole all the same, so that a damaged file
        // is refused as such before its kind is.
        VipsImage *decoded = decodeWhole(band, path);
        done = decoded != nullptr;
        if (decoded != nullptr) g_object_unref(decoded);
        plane->eightBit = false;
    } else {
        plane->eightBit = true;
        plane->rows = band->Ysize;
        plane->cols = band->Xsize;
        plane->stride = static_cast<std::ptrdiff_t>(plane->cols) + 2 * plane->margin;
        plane->bytes.assign(static_cast<std::size_t>(plane->rows + 2 * plane->margin) *
                                static_cast<std::size_t>(plane->stride),
                            0);
        done = copyRows(band, plane->bytes.data() + plane->margin * plane->stride + plane->margin,
                        plane->stride);
        if (!done) std::vector<uint8_t>().swap(plane->bytes);
    }
    if (extracted != nullptr) g_object_unref(extracted);
    if (!done) *reason = libraryReason(vips::VError());
    return done;
}

vips::VImage loadImage(const std::string &path) {
    vips::VImage image;
    std::string reason;
    if (!openImage(path, &image, &reason))
        fatalExit(Stream::out, "cannot open image " + path + ": " + reason + "\n");
    return image;
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

bool saveImage(const vips::VImage &img, const std::string &path, std::string *reason) {
    const std::string ext = extensionOf(path);
    // The saver is found before the file is created, so a name of no known
    // format leaves nothing behind.
    if (!knownSaveFormat(ext, reason)) return false;
    try {
        vips::VTarget target = vips::VTarget::new_to_file(path.c_str());
        img.write_to_target(ext.c_str(), target);
    } catch (const vips::VError &e) {
        *reason = libraryReason(e);
        return false;
    }
    return true;
}

// The image is encoded in memory, in the format of path's extension, and
// its bytes go to a file the program creates itself beside path
// (FileSet::create: a new file, never one reached through a name planted
// there), which takes path's place whole.  The library opens no file of
// the programs' folders for writing (its own format goes through a folder
// of the process's own, see encodeThroughOwnFolder).
void writeImage(const vips::VImage &img, const std::string &path, FileSet *files) {
    std::string bytes, reason;
    if (!encodeImage(img, extensionOf(path), &bytes, &reason))
        fatalExit(Stream::out, "cannot write image " + path + ": " + reason + "\n");
    FileSet own;
    FileSet &set = files != nullptr ? *files : own;
    std::FILE *fp = set.create(path);
    if (fp == nullptr)
        fatalExit(Stream::out, "cannot write image " + path + ": " + std::strerror(errno) + "\n");
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    // Finished now (a write error is reported by the commit), so a group of
    // many images does not keep each open.
    set.close(fp);
    std::string failed;
    if (files == nullptr && !own.commit(&failed, &reason))
        fatalExit(Stream::out, "cannot write image " + path + ": " + reason + "\n");
}

vips::VImage imageFromBytes(const unsigned char *bytes, int width, int height) {
    startImageLibrary(nullptr);
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

void copyImageRows(const vips::VImage &img, unsigned char *dst, std::ptrdiff_t stride) {
    if (img.bands() != 1 || img.format() != VIPS_FORMAT_UCHAR)
        fatalExit(Stream::out, "image " + imageName(img) + " is not an 8-bit image\n");
    if (!copyRows(img.get_image(), dst, stride))
        imageFailure("cannot read image", imageName(img), vips::VError());
}

}  // namespace craq
