// Web output of an analysed image.
//
// The "-analyse" run hands its crack list, network list and whole-image
// network to two writers.  copyImageContent writes the image map (one 21 x 21
// square per network around its centroid, linking to the network's page) and
// one drawing per network: a black image the size of the network's bounding
// box with its member cracks' traced pixels at 255.  copyContent writes per
// network its text file (counts, shape features, box, class) and the PHP
// page that shows drawing and text together, then the summary of the whole
// image; 000content.txt is opened and closed around it all, so it is always
// there and empty.  Drawings are built in an image matrix and only then
// encoded, so what is drawn can be checked before JPEG's lossy coding.
// Each writer writes its files beside their places and puts them in place
// together at its end: a stop on the way (a classifier failure, a write
// error, a signal) leaves the earlier output as it was.
#include <cstdio>
#include <string>
#include <vector>

#include "classify/kNN2.h"
#include "crack/crackindex.h"
#include "pipeline/halvern4.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"
#include "toolbox/safefile.h"
#include "toolbox/vipsio.h"

namespace craq {

namespace {

// Half the side of an image-map square: 21 x 21 around the centroid.
constexpr int kMapHalfSide = 10;

const char kAnalyseFolder[] = "lib_0/analyse/";
const char kAnalyseImageFolder[] = "lib_0/analyse_image/";

const char kGlobalFile[] = "can't open global data file";
const char kLocalFile[] = "can't open local data file";
const char kLocalPhp[] = "can't open local php file";

// Counts, chain-code histogram and shape scores of a network, the part that
// NNN.txt and 000query.txt share; separator goes between histogram values
// ("," in NNN.txt, ", " in 000query.txt).
void writeNetworkBlock(std::FILE *fp, const crknwk *network, const char *separator) {
    std::fprintf(fp, "number of nodes: %d\n", network->numOfNodes);
    std::fprintf(fp, "number of pixels: %d\n", network->numOfPix);
    std::fprintf(fp, "crack total length: %.2f\n", network->length);
    std::fprintf(fp, "number of lines: %d\n", network->numOfLines);

    std::fprintf(fp, "orientation histogram: [");
    for (int i = 0; i < 8; i++)
        std::fprintf(fp, "%s%d", i == 0 ? "" : separator, network->orientationHistogram[i]);
    std::fprintf(fp, "]\n");

    std::fprintf(fp, "straightness: %.4f\n", network->straightness2);

    std::fprintf(fp, "histogram shape:  [");
    for (int i = 0; i < 3; i++)
        std::fprintf(fp, "%s%.4f", i == 0 ? "" : separator, network->histShape[i]);
    std::fprintf(fp, "] \n");
    std::fprintf(fp, "histogram shape 2:  [");
    for (int i = 0; i < 3; i++)
        std::fprintf(fp, "%s%.4f", i == 0 ? "" : separator, network->histShape2[i]);
    std::fprintf(fp, "] \n");

    std::fprintf(fp, "globalLineToLengthRatio: %.4f\n", network->globalLineToLengthRatio);
    std::fprintf(fp, "node density (per num. Of pixels): %.4f\n", network->nodeDensity2);
    std::fprintf(fp, "roundness: %.4f\n", network->roundness);
}

// The class-membership vector of the network's nine features (zeroed first).
void classifyNetwork(const crknwk *network, double *classMembership, const Locations &where) {
    for (int i = 0; i < 5; i++) classMembership[i] = 0.0;
    double features[kFeatureCount];
    featureVector(network, features);
    classifyKNN(kNeighbours, features, classMembership, where.dataRoot);
}

}  // namespace

// ---- NNN ---------------------------------------------------------------------

// "00" for 1..9, "0" for 10..99, "" otherwise: three digits up to 999, the
// number as it is from 1000 on.
std::string networkNumberPrefix(int n) {
    if (n >= 1 && n <= 9) return "00";
    if (n >= 10 && n <= 99) return "0";
    return "";
}

// ---- drawings ------------------------------------------------------------------

// For each member `ind` in member-list order, the first crack of the list
// with that `ind` (none: nothing drawn): for each of its lines the start
// point, the position after each chain code, the end point; then each node.
// A pixel at frame (r, c) lands at (r - edge[0], c - edge[1]).  Tracing keeps
// start, end and node pixels inside the box, but chain codes can lead out of
// it; positions outside the matrix are skipped.
void drawNetworkImage(const CrackLookup &lookup, const crknwk *network, int **image, int rows,
                      int cols) {
    drawNetworkPixels(network, lookup, image, rows, cols, network->edge[0], network->edge[1],
                      255);
}

// imagemap.map:
//   default <query page>
//   base_uri referer
//   rect lib_0/analyse/NNN.php x-10,y-10 x+10,y+10     (one per network)
// with (y, x) the network's centroid, unclipped.  With each rect line the
// network's drawing goes to <webRoot>lib_0/analyse_image/NNN.jpg,
// dimension[1] + 1 wide and dimension[0] + 1 high.
void copyImageContent(crknwk *cracks, crknwk *networks, const Locations &where) {
    const std::string mapPath = where.webRoot + kAnalyseFolder + "imagemap.map";
    FileSet files;
    std::FILE *map = files.createOrStop(mapPath, kGlobalFile);
    std::fprintf(map, "default %s\n", where.queryPage.c_str());
    std::fprintf(map, "base_uri referer\n");

    const CrackLookup lookup = buildCrackLookup(cracks);
    int n = 1;
    for (const crknwk *network = networks; network != nullptr; network = network->next, n++) {
        const std::string prefix = networkNumberPrefix(n), digits = std::to_string(n);
        std::fprintf(map, "rect %s%s%s.php %d,%d %d,%d\n", kAnalyseFolder, prefix.c_str(),
                     digits.c_str(), network->xCentre - kMapHalfSide,
                     network->yCentre - kMapHalfSide, network->xCentre + kMapHalfSide,
                     network->yCentre + kMapHalfSide);

        const int rows = network->dimension[0] + 1, cols = network->dimension[1] + 1;
        int **image = imatrix(0, rows - 1, 0, cols - 1);  // zero-filled: black
        drawNetworkImage(lookup, network, image, rows, cols);
        // The matrix is one contiguous raster block; the image takes each
        // entry's low byte.
        std::vector<unsigned char> bytes(static_cast<std::size_t>(rows) *
                                         static_cast<std::size_t>(cols));
        for (int r = 0; r < rows; r++)
            for (int c = 0; c < cols; c++)
                bytes[static_cast<std::size_t>(r) * cols + c] =
                    static_cast<unsigned char>(image[r][c] & 0xff);
        free_imatrix(image, 0, rows - 1, 0, cols - 1);
        writeImage(imageFromBytes(bytes.data(), cols, rows),
                   where.webRoot + kAnalyseImageFolder + prefix + digits + ".jpg", &files);
    }
    files.commitOrStop();
}

// ---- text files ------------------------------------------------------------------

// The class block: "Class Membership :", the four memberships, then
// "Class  : <name> with <confidence> confidence" where the class is element
// 0 cut to an integer k and the confidence element k.  A code outside 0..4
// (or one that cannot be cut to an int) names "unclassified" with element 0.
void writeClassBlock(std::FILE *fp, const double *classMembership) {
    std::fprintf(fp, "Class Membership :\n");
    std::fprintf(fp, "Circular       : %.4f\n", classMembership[1]);
    std::fprintf(fp, "Rectangular    : %.4f\n", classMembership[2]);
    std::fprintf(fp, "Unidirectional : %.4f\n", classMembership[3]);
    std::fprintf(fp, "Spiderweb      : %.4f\n", classMembership[4]);
    const int code = classCodeOf(classMembership[0]);
    std::fprintf(fp, "Class  : %s with %.4f confidence\n", className(code),
                 classMembership[code]);
}

void writeContentPhp(std::FILE *file, const std::string &prefix, const std::string &digits) {
    std::fprintf(file, "<?\n");
    std::fprintf(file, "include(\"../../analyse.php\");\n");
    std::fprintf(file, "$lnk_image=\"../analyse_image/%s%s.jpg\";\n", prefix.c_str(),
                 digits.c_str());
    std::fprintf(file, "$lnk_file=\"../analyse/%s%s.txt\";\n", prefix.c_str(), digits.c_str());
    std::fprintf(file, "extract_info($lnk_image, $lnk_file);\n");
    std::fprintf(file, "?>");
}

// In <webRoot>lib_0/analyse/, in this order: 000content.txt is opened
// (emptied); per network n, NNN.txt is opened, the network classified,
// NNN.php opened, both written and closed; whole is classified;
// 000query.txt is written; all of them are put in place together.  A stop
// leaves the earlier files as they were.
//
// NNN.txt: crack id, the network block with "," between histogram values,
// "Bounding rectangle: [edge0+dim0, edge1+dim1], centroid: [y x]", the class
// block.  000query.txt: "Source : <path>", "number of crack network:"
// info->numOfCrkNwk (1 for a single crack, else 2 after the whole-image
// merge), "number of objects:" the number of networks, whole's network block
// with ", " between histogram values, whole's class block.
void copyContent(CRKIMG * /*summary*/, crknwk * /*cracks*/, crknwk *networks, crknwk *whole,
                 imageInfo *info, const std::string &path, const Locations &where) {
    const std::string folder = where.webRoot + kAnalyseFolder;
    FileSet files;
    files.createOrStop(folder + "000content.txt", kGlobalFile);

    double classMembership[5];
    int n = 1;
    for (const crknwk *network = networks; network != nullptr; network = network->next, n++) {
        const std::string prefix = networkNumberPrefix(n), digits = std::to_string(n);
        std::FILE *txt = files.createOrStop(folder + prefix + digits + ".txt", kLocalFile);
        classifyNetwork(network, classMembership, where);
        std::FILE *php = files.createOrStop(folder + prefix + digits + ".php", kLocalPhp);

        std::fprintf(txt, "crack id: %d\n", n);
        writeNetworkBlock(txt, network, ",");
        std::fprintf(txt, "Bounding rectangle: [%d+%d, %d+%d], centroid: [%d %d]\n",
                     network->edge[0], network->dimension[0], network->edge[1],
                     network->dimension[1], network->yCentre, network->xCentre);
        writeClassBlock(txt, classMembership);
        writeContentPhp(php, prefix, digits);
        files.close(txt);
        files.close(php);
    }
    const int networkCount = n - 1;

    classifyNetwork(whole, classMembership, where);
    std::FILE *query = files.createOrStop(folder + "000query.txt", kGlobalFile);
    std::fprintf(query, "Source : %s\n", path.c_str());
    std::fprintf(query, "number of crack network: %d\n", info->numOfCrkNwk);
    std::fprintf(query, "number of objects: %d\n", networkCount);
    writeNetworkBlock(query, whole, ", ");
    writeClassBlock(query, classMembership);
    files.commitOrStop();
}

}  // namespace craq
