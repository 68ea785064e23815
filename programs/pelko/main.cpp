// pelko: command line entry.  The commands arrive with later work.
#include "toolbox/vipsio.h"

int main(int argc, char **argv) {
    (void)argc;
    craq::startImageLibrary(argv[0]);
    return 0;
}
