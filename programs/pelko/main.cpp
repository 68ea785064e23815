// pelko: builds and evaluates the template set of the craquelure classifier.
//
// The program uses the locations fixed when it was built.  The test build
// (pelko_testbin, PELKO_RELATIVE_LOCATIONS) uses a data root relative to the
// current directory instead, so each end-to-end test runs it in a fresh
// folder of its own.
#include "config/locations.h"
#include "programs/pelko/pelko.h"
#include "toolbox/workers.h"

int main(int argc, char **argv) {
    // Folder and list forms run their images in workers: this program
    // started again.  The image library starts with the first image opened
    // (in a worker, or here with one worker); "-error", "-fisher" and a wrong
    // option never start it.
    craq::allowWorkerProcesses(argc, argv);
#ifdef PELKO_RELATIVE_LOCATIONS
    static const craq::Locations locations{"data/", "web/", "web/placeholder/", "", ""};
#else
    const craq::Locations &locations = craq::builtInLocations();
#endif
    return craq::pelkoMain(argc, argv, locations);
}
