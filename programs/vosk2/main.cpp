// vosk2: content based retrieval of craquelure patterns.
//
// The program uses the locations fixed when it was built.  The test build
// (vosk2_testbin, VOSK2_RELATIVE_LOCATIONS) uses locations relative to the
// current directory instead, so each end-to-end test runs it in a fresh
// folder of its own.
#include <string>

#include "config/locations.h"
#include "programs/vosk2/vosk2.h"
#include "toolbox/vipsio.h"
#include "toolbox/workers.h"

namespace {

// The commands that start the image library at once: "-queryImage",
// "-generateFV -file" and "-analyse" with their word counts.  The others
// (help, short guide, "-listFV", "-deleteFV", "-queryType") run without it;
// a thumbnail that "-queryType" must convert starts it then.  So does
// "-generateFV -folder" with its first image: its images are usually
// analysed by worker processes, and the program itself then never needs
// the library.
bool handlesImages(int argc, char **argv) {
    if (argc < 2) return false;
    const std::string first = argv[1];
    if (argc == 4 && first == "-generateFV") return std::string(argv[2]) != "-folder";
    return (argc == 4 && first == "-queryImage") || (argc == 3 && first == "-analyse");
}

}  // namespace

int main(int argc, char **argv) {
    // Folder commands run their images in workers: this program started again.
    craq::allowWorkerProcesses(argc, argv);
    if (handlesImages(argc, argv)) craq::startImageLibrary(argv[0]);
#ifdef VOSK2_RELATIVE_LOCATIONS
    static const craq::Locations locations{"data/", "web/", "web/placeholder/", "", ""};
#else
    const craq::Locations &locations = craq::builtInLocations();
#endif
    return craq::vosk2Main(argc, argv, locations);
}
