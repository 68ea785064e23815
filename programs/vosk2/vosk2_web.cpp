// Query output of vosk2 for the web front end: the query summary and, for
// each result shown, a metadata text and a thumbnail.
//
// Texts go to <webRoot>lib_0/metadata/, images to <webRoot>lib_0/thumbnail/.
// A JPEG image is copied as it is; any other format is written as JPEG by
// the image library, which reads every format the store accepts (".v"
// included).  Copies go through the file system, never a shell; an image
// that cannot be read or converted (moved or damaged since it was stored)
// does not stop the run, as the front end shows what it finds.  Every file
// is written beside its place, and the files of one call are put in place
// together at its end: a write error stops the run naming the file, and
// leaves the earlier output as it was.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
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

// to = a copy of from; a file that cannot be read gives no copy.
void copyFile(const std::string &from, const std::string &to, FileSet &files) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return;
    writeBytes(to, bytes.str(), files);
}

// to (a .jpg path) = the image from as JPEG.  Like a failed copy, a failed
// conversion (an image moved or damaged since it was stored) does not stop
// the listing: it is named on standard error and no thumbnail is written.
void writeJpeg(const std::string &from, const std::string &to, FileSet &files) {
    vips::VImage image;
    std::string reason;
    if (!openImage(from, &image, &reason)) {
        std::fprintf(stderr, "cannot convert image %s: %s\n", from.c_str(), reason.c_str());
        return;
    }
    // Reading went well: a failure now is one of writing, which stops.
    if (!saveImage(image, files.reserve(to), &reason))
        fatalExit(Stream::out, "cannot write image " + to + ": " + reason + "\n");
}

// Thumbnail NNN.jpg of one shown result.
void writeThumbnail(const result *r, const std::string &nnn, const Locations &locations,
                    FileSet &files) {
    const std::string to = thumbnailFolder(locations) + nnn + ".jpg";
    if (extensionOf(r->source) == ".jpg")
        copyFile(r->source, to, files);
    else
        writeJpeg(r->source, to, files);
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
        copyFile(locations.placeholderDir + "dummy.jpg", thumbnailFolder(locations) + nnn + ".jpg",
                 files);
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
    if (ext != ".jpg") writeJpeg(hQuery->source, thumbnailFolder(locations) + "000query.jpg", files);
    copyFile(filename, thumbnailFolder(locations) + "000query" + ext, files);
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
