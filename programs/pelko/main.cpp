// pelko: builds and evaluates the template set of the craquelure classifier.
//
// The program uses the locations fixed when it was built.  The test build
// (pelko_testbin, PELKO_RELATIVE_LOCATIONS) uses a data root relative to the
// current directory instead, so each end-to-end test runs it in a fresh
// folder of its own.
#include <cstring>

#include "config/locations.h"
#include "programs/pelko/pelko.h"
#include "toolbox/vipsio.h"
#include "toolbox/workers.h"

namespace {

// The forms that analyse images: "-generateMap -folder <folder>" and
// "<word> -textfile".  "-error", "-fisher" and a wrong option run without
// starting the image library.
bool handlesImages(int argc, char **argv) {
    return (argc == 4 && std::strcmp(argv[1], "-generateMap") == 0 &&
            std::strcmp(argv[2], "-folder") == 0) ||
           (argc == 3 && std::strcmp(argv[2], "-textfile") == 0);
}

}  // namespace

int main(int argc, char **argv) {
    // Folder commands run their images in workers: this program started again.
    craq::allowWorkerProcesses(argc, argv);
    if (handlesImages(argc, argv)) craq::startImageLibrary(argv[0]);
#ifdef PELKO_RELATIVE_LOCATIONS
    static const craq::Locations locations{"data/", "web/", "web/placeholder/", "", ""};
#else
    const craq::Locations &locations = craq::builtInLocations();
#endif
    return craq::pelkoMain(argc, argv, locations);
}
