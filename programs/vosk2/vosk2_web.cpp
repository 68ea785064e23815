// Query output of vosk2 for the web front end: the query summary and, for
// each result shown, a metadata text and a thumbnail.
//
// Texts go to <webRoot>lib_0/metadata/, images to <webRoot>lib_0/thumbnail/.
// A JPEG image is copied as it is; any other format is written as JPEG by
// the image library, which reads every format the store accepts (".v"
// included).  Copies go through the file system, never a shell; an image
// that cannot be read or converted (moved or damaged since it was stored)
// does not stop the run: it is named on standard error and the placeholder
// image is shown in its place.  Every file
// is written beside its place, and the files of one call are put in place
// together at its end: a write error stops the run naming the file, and
// leaves the earlier output as it was.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "classify/kNN2.h"
#include "programs/vosk2/vosk2.h"
#include "toolbox/fatal.h"
#include "toolbox/safefile.h"
#include "toolbox/vipsio.h"

namespace craq {

namespace {

// A result whose box exceeds this in both directions gets the placeholder.
constexpr int kLargest = 10000;

std::string metadataFolder(const Locations &l) { return l.webRoot + "lib_0/metadata/"; }
std::string thumbnailFolder(const Locations &l) { return l.webRoot + "lib_0/thumbnail/"; }

// to = bytes, in files.
void writeBytes(const std::string &to, const std::string &bytes, FileSet &files) {
    std::FILE *fp = files.create(to);
    if (fp == nullptr)
        fatalExit(Stream::out, "cannot write " + to + ": " + std::strerror(errno) + "\n");
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    files.close(fp);
}

// to = a copy of from; false, with *reason, when from cannot be read.
bool copyFile(const std::string &from, const std::string &to, FileSet &files, std::string *reason) {
    std::FILE *in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) {
        *reason = std::strerror(errno);
        return false;
    }
    std::string bytes;
    char block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, in)) > 0) bytes.append(block, n);
    const int error = std::ferror(in) ? errno : 0;  // a folder opens but does not read
    std::fclose(in);
    if (error != 0) {
        *reason = std::strerror(error);
        return false;
    }
    writeBytes(to, bytes, files);
    return true;
}

// to (a .jpg path) = the image from as JPEG; false, with *reason, when from
// cannot be read.  Reading went well: a failure then is one of writing,
// which stops the run.
bool writeJpeg(const std::string &from, const std::string &to, FileSet &files, std::string *reason) {
    vips::VImage image;
    if (!openImage(from, &image, reason)) return false;
    writeImage(image, to, &files);
    return true;
}

// to = the placeholder image; one that cannot be read is named on standard
// error and an empty file takes the place of to.
void writePlaceholder(const std::string &to, const Locations &locations, FileSet &files) {
    const std::string placeholder = locations.placeholderDir + "dummy.jpg";
    std::string reason;
    if (copyFile(placeholder, to, files, &reason)) return;
    std::fprintf(stderr, "cannot read the placeholder image %s: %s\n", placeholder.c_str(),
                 reason.c_str());
    writeBytes(to, "", files);
}

// Puts the image from at to for the front end: converted to JPEG when
// convert, else copied.  An image that cannot be read (moved or damaged
// since it was stored, or stored with a path relative to another folder
// than the one the query runs in) must not leave the picture of an earlier
// query under to: it is named on standard error and the placeholder takes
// its place (an empty file where to is no ".jpg", which the placeholder is
// not).  The listing goes on.
void writeImageCopy(const std::string &from, const std::string &to, bool convert,
                    const Locations &locations, FileSet &files) {
    std::string reason;
    if (convert ? writeJpeg(from, to, files, &reason) : copyFile(from, to, files, &reason)) return;
    const std::string name = to.substr(to.rfind('/') + 1);
    const bool jpeg = extensionOf(to) == ".jpg";
    std::fprintf(stderr, "cannot read image %s: %s; %s shows %s\n", from.c_str(), reason.c_str(),
                 name.c_str(), jpeg ? "the placeholder" : "nothing");
    if (jpeg)
        writePlaceholder(to, locations, files);
    else
        writeBytes(to, "", files);
}

// Thumbnail NNN.jpg of one shown result: a JPEG copied, any other format
// converted.
void writeThumbnail(const result *r, const std::string &nnn, const Locations &locations,
                    FileSet &files) {
    writeImageCopy(r->source, thumbnailFolder(locations) + nnn + ".jpg",
                   extensionOf(r->source) != ".jpg", locations, files);
}

std::FILE *openMetadata(const std::string &nnn, const Locations &locations, FileSet &files) {
    const std::string path = metadataFolder(locations) + nnn + ".txt";
    std::FILE *fp = files.create(path);
    if (fp == nullptr) fatalExit(Stream::out, "can't open local data file " + path + "\n");
    return fp;
}

// Shows one result as number n: the placeholder for a result over 10000 x
// 10000 (no text), else the thumbnail and NNN.txt.  byRank selects the
// metadata format of the queries by example, whose class line names the
// query's class queryClass; in list order (query by category) it names the
// result's own class.
void showResult(const result *r, int n, bool byRank, int queryClass, const Locations &locations,
                FileSet &files) {
    const std::string nnn = numberedName(n);
    if (r->dimY > kLargest && r->dimX > kLargest) {
        writePlaceholder(thumbnailFolder(locations) + nnn + ".jpg", locations, files);
        return;
    }
    writeThumbnail(r, nnn, locations, files);

    std::FILE *fp = openMetadata(nnn, locations, files);
    std::fprintf(fp, "Source : %s\n", r->source.c_str());
    std::fprintf(fp, byRank ? "Class Membership:\n" : "Class Membership :\n");
    std::fprintf(fp, "Circular       : %.4f\n", r->category[1]);
    std::fprintf(fp, "Rectangular    : %.4f\n", r->category[2]);
    std::fprintf(fp, "Unidirectional : %.4f\n", r->category[3]);
    std::fprintf(fp, "Spiderweb      : %.4f\n", r->category[4]);
    // The confidence beside the class name is the result's membership of
    // that class (for the feature query, whose results carry none, 0).
    const int code = byRank ? queryClass : classCodeOf(r->category[0]);
    std::fprintf(fp, "Class  : %s with %.4f confidence\n", className(code), r->category[code]);
    std::fprintf(fp, byRank ? "Score:%.4f\n" : "Score  : %.4f\n", r->score);
    files.close(fp);
}

}  // namespace


// 1 -> "001", 11 -> "011", 20 -> "020"; from 100 on the number as it is.
std::string numberedName(int n) {
    const char *prefix = n < 10 ? "00" : n < 100 ? "0" : "";
    return prefix + std::to_string(n);
}

// 000query.txt: the query type, the query image, its memberships and its
// class with the membership of that class as confidence (for code 0 the
// code itself, 0).  Thumbnail: a non-JPEG query is also written as
// 000query.jpg; the query image is copied under 000query<extension> in
// every case, so a ".tif" query leaves 000query.jpg and 000query.tif.
void queryDisplay(const result *hQuery, const std::string &filename, int querytype,
                  const Locations &locations) {
    FileSet files;
    queryDisplayInto(files, hQuery, filename, querytype, locations);
    files.commitOrStop();
}

void queryDisplayInto(FileSet &files, const result *hQuery, const std::string &filename,
                      int querytype, const Locations &locations) {
    const std::string path = metadataFolder(locations) + "000query.txt";
    std::FILE *fp = files.create(path);
    if (fp == nullptr) fatalExit(Stream::out, "can't open global data file\n");
    const int code = classCodeOf(hQuery->category[0]);
    std::fprintf(fp, "%d\n", querytype);
    std::fprintf(fp, "Source : %s\n", hQuery->source.c_str());
    std::fprintf(fp, "Class Membership :\n");
    std::fprintf(fp, "Circular : %.4f\n", hQuery->category[1]);
    std::fprintf(fp, "Rectangular : %.4f\n", hQuery->category[2]);
    std::fprintf(fp, "Unidirectional : %.4f\n", hQuery->category[3]);
    std::fprintf(fp, "Spiderweb : %.4f\n", hQuery->category[4]);
    std::fprintf(fp, "Class  : %s with %.4f confidence\n", className(code), hQuery->category[code]);
    files.close(fp);

    const std::string ext = extensionOf(filename);
    if (ext != ".jpg")
        writeImageCopy(hQuery->source, thumbnailFolder(locations) + "000query.jpg", true, locations,
                       files);
    writeImageCopy(filename, thumbnailFolder(locations) + "000query" + ext, false, locations, files);
}

// pr 2: an empty line on standard output, then the results by rank; pr 1:
// the results in list order.  At most 20, numbered 001 on; files of an
// earlier query beyond those numbers stay.
void graphicalDisplay(result *hQueryResult, const double *category, int pr,
                      const Locations &locations) {
    FileSet files;
    graphicalDisplayInto(files, hQueryResult, category, pr, locations);
    files.commitOrStop();
}

void graphicalDisplayInto(FileSet &files, result *hQueryResult, const double *category, int pr,
                          const Locations &locations) {
    if (pr == 2) {
        std::printf("\n");
        const int queryClass = classCodeOf(category[0]);
        int n = 0;
        for (const result *r : rankedRecords(hQueryResult, kResultsShown))
            showResult(r, ++n, true, queryClass, locations, files);
    } else if (pr == 1) {
        // A list head without a source got no result: nothing to show.
        if (hQueryResult == nullptr || hQueryResult->source.empty()) return;
        int n = 0;
        for (const result *r = hQueryResult; r != nullptr && n < kResultsShown; r = r->next)
            showResult(r, ++n, false, 0, locations, files);
    }
}

}  // namespace craq
