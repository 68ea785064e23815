// vosk: the earlier retrieval tool.
//
// The program uses the locations fixed when it was built.  The test build
// (vosk_testbin, VOSK_RELATIVE_LOCATIONS) uses folders relative to the
// current directory instead, so each end-to-end test runs it in a fresh
// folder of its own.
#include "config/locations.h"
#include "programs/vosk/vosk.h"
#include "toolbox/vipsio.h"

int main(int argc, char **argv) {
    craq::startImageLibrary(argv[0]);
#ifdef VOSK_RELATIVE_LOCATIONS
    static const craq::Locations locations{"data/", "web/", "web/placeholder/", "vosk_templates/", ""};
#else
    const craq::Locations &locations = craq::builtInLocations();
#endif
    return craq::earlier::voskMain(argc, argv, locations);
}
