// Test driver of the pipeline entries, for the paths that end the process
// (error stops) or read standard input (mode 2's feature display): the tests
// run it as a program of its own, so the image library starts afresh in it.
//
//   halvern4_stop a IMAGE ROOT MODE MERGE   halvern4 in MODE (MERGE 0 or 1)
//   halvern4_stop b IMAGE ROOT MERGE        halvern4b
//
// ROOT (ending in '/') serves as data root and web root.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pipeline/halvern4.h"
#include "toolbox/vipsio.h"

int main(int argc, char **argv) {
    craq::startImageLibrary(argv[0]);
    const std::string entry = argc > 1 ? argv[1] : "";
    if (!((entry == "a" && argc == 6) || (entry == "b" && argc == 5))) {
        std::fprintf(stderr, "usage: %s a IMAGE ROOT MODE MERGE | b IMAGE ROOT MERGE\n", argv[0]);
        return 2;
    }
    craq::Locations where;
    where.dataRoot = argv[3];
    where.webRoot = argv[3];
    where.queryPage = "http://localhost/query.php";
    const vips::VImage image = craq::loadImage(argv[2]);
    double classMembership[5] = {};
    craq::result query;
    if (entry == "a")
        craq::halvern4(&query, image, argv[2], classMembership, std::atoi(argv[5]) != 0,
                       std::atoi(argv[4]), where);
    else
        craq::halvern4b(&query, image, argv[2], classMembership, std::atoi(argv[4]) != 0, where);
    return 0;
}
